// Finding where a line stops: the first LF, CR or Ctrl-Z byte.
#pragma once

#include <bit>
#include <cstddef>
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

constexpr bool IsLineStop(char c) {
  return c == kLineFeed || c == kCarriageReturn || c == kEndOfData;
}

#if TABULON_SSE2
namespace line_stops {

inline __m128i Load(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The three stop bytes are all at or below 0x1A: bytes whose smallest,
// `least`, is above that hold none (one compare for all of them).
inline bool MayHoldStop(__m128i least) {
  const __m128i ctrl_z = _mm_set1_epi8(kEndOfData);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(least, ctrl_z), least)) != 0;
}

}  // namespace line_stops
#endif

// The first LF, CR or Ctrl-Z in [p, end), or end. 128 bytes at a time where
// SSE2 is there (every x86-64), eight at a time otherwise.
[[gnu::always_inline]] inline const char* FindLineStop(const char* p, const char* end) {
#if TABULON_SSE2
  const __m128i lf = _mm_set1_epi8(kLineFeed);
  const __m128i cr = _mm_set1_epi8(kCarriageReturn);
  const __m128i ctrl_z = _mm_set1_epi8(kEndOfData);
  auto stops = [&](__m128i v) {
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                _mm_cmpeq_epi8(v, ctrl_z));
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits)));
  };
  const auto load = line_stops::Load;
  const auto low = line_stops::MayHoldStop;
  const auto least_of = [](__m128i v0, __m128i v1, __m128i v2, __m128i v3) {
    return _mm_min_epu8(_mm_min_epu8(v0, v1), _mm_min_epu8(v2, v3));
  };
  // The first stop in the 64 bytes at q, loaded as v0 to v3, or nullptr: a
  // block of 16 at a time up to it (in a line, the one that ends it).
  const auto first_stop = [&stops](const char* q, __m128i v0, __m128i v1, __m128i v2,
                                   __m128i v3) -> const char* {
    if (std::uint64_t hits = stops(v0)) return q + std::countr_zero(hits);
    if (std::uint64_t hits = stops(v1)) return q + 16 + std::countr_zero(hits);
    if (std::uint64_t hits = stops(v2)) return q + 32 + std::countr_zero(hits);
    if (std::uint64_t hits = stops(v3)) return q + 48 + std::countr_zero(hits);
    return nullptr;
  };
  // 128 bytes a step; only a half of 64 with a low byte is tested exactly.
  while (end - p >= 128) {
    const __m128i v0 = load(p), v1 = load(p + 16), v2 = load(p + 32), v3 = load(p + 48);
    const __m128i v4 = load(p + 64), v5 = load(p + 80), v6 = load(p + 96), v7 = load(p + 112);
    const __m128i least0 = least_of(v0, v1, v2, v3);
    const __m128i least1 = least_of(v4, v5, v6, v7);
    if (low(_mm_min_epu8(least0, least1))) {
      if (low(least0)) {
        if (const char* stop = first_stop(p, v0, v1, v2, v3)) return stop;
      }
      if (const char* stop = first_stop(p + 64, v4, v5, v6, v7)) return stop;
    }
    p += 128;
  }
  if (end - p >= 64) {
    const __m128i v0 = load(p), v1 = load(p + 16), v2 = load(p + 32), v3 = load(p + 48);
    if (low(least_of(v0, v1, v2, v3))) {
      if (const char* stop = first_stop(p, v0, v1, v2, v3)) return stop;
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
  while (p < end && !IsLineStop(*p)) ++p;
  return p;
}

// Where the next line begins when the stop byte at `stop` ends a line
// inside [.., end): after its LF or CR LF. Null for a lone CR, a CR as the
// last byte (the byte after it is no data yet), a Ctrl-Z or `end` itself.
inline const char* AfterLineEnd(const char* stop, const char* end) {
  if (stop == end) return nullptr;
  if (*stop == kLineFeed) return stop + 1;
  if (end - stop >= 2 && stop[0] == kCarriageReturn && stop[1] == kLineFeed) return stop + 2;
  return nullptr;
}

// FindLineStop(p, end) for a line expected to be `size` bytes long, as the
// lines of a fixed-width file are: when p[size] is a stop byte and no byte
// before it is at or below Ctrl-Z (the lowest a stop byte is), the stop is
// found by one pass of compares over the line, with no search for where it
// lies; otherwise by FindLineStop.
[[gnu::always_inline]] inline const char* FindLineStopAt(const char* p, const char* end,
                                                         std::size_t size) {
#if TABULON_SSE2
  if (size >= 16 && static_cast<std::size_t>(end - p) > size) {
    if (IsLineStop(p[size])) {
      const auto load = line_stops::Load;
      // The last 16 bytes, and every 16 from the start before them: for a
      // line of up to 128 bytes by a jump into their loads, else 64 a step.
      __m128i least = load(p + size - 16);
      if (size <= 128) {
        const auto take = [&least, p](std::size_t at) {
          least = _mm_min_epu8(least, line_stops::Load(p + at));
        };
        switch ((size - 1) / 16) {
          case 7:
            take(96);
            [[fallthrough]];
          case 6:
            take(80);
            [[fallthrough]];
          case 5:
            take(64);
            [[fallthrough]];
          case 4:
            take(48);
            [[fallthrough]];
          case 3:
            take(32);
            [[fallthrough]];
          case 2:
            take(16);
            [[fallthrough]];
          case 1:
            take(0);
            [[fallthrough]];
          default:
            break;
        }
        return line_stops::MayHoldStop(least) ? FindLineStop(p, end) : p + size;
      }
      std::size_t i = 0;
      for (; i + 64 < size; i += 64) {
        least = _mm_min_epu8(least, _mm_min_epu8(_mm_min_epu8(load(p + i), load(p + i + 16)),
                                                 _mm_min_epu8(load(p + i + 32), load(p + i + 48))));
      }
      for (; i + 16 < size; i += 16) least = _mm_min_epu8(least, load(p + i));
      if (!line_stops::MayHoldStop(least)) return p + size;
    }
  }
#else
  static_cast<void>(size);
#endif
  return FindLineStop(p, end);
}

}  // namespace tabulon
