// Finding where a line stops: the first LF, CR or Ctrl-Z byte.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "base/simd.h"

#if TABULON_SSE2
#include <emmintrin.h>
#endif

namespace tabulon {

inline constexpr char kLineFeed = 0x0A;
inline constexpr char kCarriageReturn = 0x0D;
inline constexpr char kEndOfData = 0x1A;  // Ctrl-Z

// The first LF, CR or Ctrl-Z in [p, end), or end. 64 bytes at a time where
// SSE2 is there (every x86-64), eight at a time otherwise.
inline const char* FindLineStop(const char* p, const char* end) {
#if TABULON_SSE2
  const __m128i lf = _mm_set1_epi8(kLineFeed);
  const __m128i cr = _mm_set1_epi8(kCarriageReturn);
  const __m128i ctrl_z = _mm_set1_epi8(kEndOfData);
  auto stops = [&](__m128i v) {
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                _mm_cmpeq_epi8(v, ctrl_z));
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits)));
  };
  // The three stop bytes are all at or below 0x1A: 64 bytes whose smallest
  // byte is above that hold none (one compare for all of them); only 64 bytes
  // with such a low byte are tested exactly.
  while (end - p >= 64) {
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    __m128i least = _mm_min_epu8(_mm_min_epu8(v0, v1), _mm_min_epu8(v2, v3));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(least, ctrl_z), least)) != 0) {
      std::uint64_t hits = stops(v0) | stops(v1) << 16 | stops(v2) << 32 | stops(v3) << 48;
      if (hits != 0) return p + std::countr_zero(hits);
    }
    p += 64;
  }
  while (end - p >= 16) {
    std::uint64_t hits = stops(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (hits != 0) return p + std::countr_zero(hits);
    p += 16;
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  auto zero_bytes = [](std::uint64_t x) { return (x - kOnes) & ~x; };
  while (end - p >= 8) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    std::uint64_t hits =
        (zero_bytes(v ^ (kOnes * kLineFeed)) | zero_bytes(v ^ (kOnes * kCarriageReturn)) |
         zero_bytes(v ^ (kOnes * kEndOfData))) &
        kHighs;
    // The lowest flagged byte is always a true match (false flags only
    // appear above a true one), so the first match is found exactly.
    if (hits != 0) return p + (std::countr_zero(hits) >> 3);
    p += 8;
  }
  while (p < end && *p != kLineFeed && *p != kCarriageReturn && *p != kEndOfData) ++p;
  return p;
}

}  // namespace tabulon
