// Byte classes of a short value as bit masks: bit k stands for byte k.
//
// A value of up to 64 bytes is loaded once into 16-byte vector registers;
// each class (a blank, a lead byte, a byte of 0x30 and below, ...) then
// costs a compare and a move-mask per block, and the trims become a few bit
// operations with no branch on the bytes themselves. Only built where SSE2
// is part of the target (every x86-64 build); elsewhere the record path
// keeps its eight-byte scans.
#pragma once

#include "base/cp932.h"
#include "base/simd.h"

#if TABULON_SSE2
#define TABULON_BYTE_MASKS 1
#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tabulon::masks {

// The lead-byte ranges with bit kLeadFlip flipped: 0xA1 to 0xDC.
inline constexpr char kLeadFlip = 0x20;
inline constexpr ByteRange kFlippedLead{kLeadLow.First ^ kLeadFlip, kLeadHigh.Last ^ kLeadFlip};

constexpr bool FlippedLeadMatchesIsLeadByte() {
  for (unsigned v = 0; v < 256; ++v) {
    auto b = static_cast<unsigned char>(v);
    if (IsLeadByte(b) != InRange(kFlippedLead, static_cast<unsigned char>(b ^ kLeadFlip))) {
      return false;
    }
  }
  return true;
}
static_assert(FlippedLeadMatchesIsLeadByte());
static_assert(kFlippedLead.Last - kFlippedLead.First < 127, "the range fits below 0 once moved");

// The low k bits set (k below 64).
inline std::uint64_t Below(unsigned k) {
  return (std::uint64_t{1} << k) - 1;
}

// 16 * kBlocks bytes from p, all readable.
template <std::size_t kBlocks>
class ValueBytes {
 public:
  explicit ValueBytes(const char* p) {
    for (std::size_t i = 0; i < kBlocks; ++i) {
      Blocks[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    }
  }

  // Stores the 16 * kBlocks bytes at p.
  void StoreTo(char* p) const {
    for (std::size_t i = 0; i < kBlocks; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * i), Blocks[i]);
    }
  }

  std::uint64_t Equal(unsigned char c) const {
    const __m128i k = _mm_set1_epi8(static_cast<char>(c));
    return Collect([k](__m128i v) { return _mm_cmpeq_epi8(v, k); });
  }

  // The bytes equal to a or to b, in one mask.
  std::uint64_t EqualEither(unsigned char a, unsigned char b) const {
    const __m128i ka = _mm_set1_epi8(static_cast<char>(a));
    const __m128i kb = _mm_set1_epi8(static_cast<char>(b));
    return Collect(
        [ka, kb](__m128i v) { return _mm_or_si128(_mm_cmpeq_epi8(v, ka), _mm_cmpeq_epi8(v, kb)); });
  }

  std::uint64_t AtMost(unsigned char c) const {
    const __m128i k = _mm_set1_epi8(static_cast<char>(c));
    return Collect([k](__m128i v) { return _mm_cmpeq_epi8(_mm_min_epu8(v, k), v); });
  }

  // Lead bytes of code page 932 (IsLeadByte): one range once bit 0x20 is
  // flipped, which moves 0xE0 to 0xFC right after 0x81 to 0x9F.
  std::uint64_t Lead() const {
    return Collect([](__m128i v) {
      return InRangeMask(_mm_xor_si128(v, _mm_set1_epi8(kLeadFlip)), kFlippedLead);
    });
  }

 private:
  // The range moved to start at -128, so that one signed compare tells
  // the bytes inside it from the rest (one instruction fewer than clamping).
  static __m128i InRangeMask(__m128i v, ByteRange range) {
    const __m128i moved = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - range.First)));
    return _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(0x80 + (range.Last - range.First + 1))),
                          moved);
  }

  template <typename Compare>
  std::uint64_t Collect(Compare compare) const {
    std::uint64_t m = 0;
    for (std::size_t i = 0; i < kBlocks; ++i) {
      auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(compare(Blocks[i])));
      m |= std::uint64_t{bits} << (16 * i);
    }
    return m;
  }

  __m128i Blocks[kBlocks];
};

}  // namespace tabulon::masks

#else
#define TABULON_BYTE_MASKS 0
#endif
