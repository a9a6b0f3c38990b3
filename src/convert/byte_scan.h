// Byte scans of the record path, 32 bytes at a time with SSE2 and eight
// bytes at a time without it.
//
// The trims here work on a value [begin, end) that lies inside a readable
// window [window_begin, window_end) (the whole record when called from the
// converter, the value itself otherwise). The loads never leave the window;
// what they see beyond the value is masked off, so the result is exactly the
// byte-by-byte rule's.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/cp932.h"
#include "base/simd.h"
#include "convert/inline.h"

#if TABULON_SSE2
#include <emmintrin.h>
#endif

namespace tabulon::scan {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

static_assert(std::endian::native == std::endian::little,
              "the scans count bytes from the low end of a loaded word");

// Eight bytes from `p`; byte k of memory is bits 8k to 8k+7.
inline std::uint64_t Load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The high bit of every byte of `x` that equals `c`, and no other bit. Exact:
// no carry crosses a byte, so there are no false flags.
inline std::uint64_t BytesEqual(std::uint64_t x, unsigned char c) {
  std::uint64_t y = x ^ (kOnes * c);
  return ~(((y & ~kHighs) + ~kHighs) | y) & kHighs;
}

// The high bit of every byte of `x` above `c` (c below 0x80), exactly.
inline std::uint64_t BytesAbove(std::uint64_t x, unsigned char c) {
  return (((x & ~kHighs) + kOnes * (0x7F - c)) | x) & kHighs;
}

// Number of bytes before the first flagged byte, counted from the low
// (first in memory) end; 8 when none is flagged.
inline int BytesBeforeFlag(std::uint64_t flags) {
  return std::countr_zero(flags) >> 3;
}
// The same counted from the high (last in memory) end.
inline int BytesAfterFlag(std::uint64_t flags) {
  return std::countl_zero(flags) >> 3;
}

// Four full-width blanks (0x81 0x40 four times) and eight blanks as one
// eight-byte load sees them.
inline constexpr std::uint64_t kFourWideBlanks = 0x4081408140814081ULL;
inline constexpr std::uint64_t kEightBlanks = 0x2020202020202020ULL;

inline bool IsWideBlankAt(const char* p) {
  return static_cast<unsigned char>(p[0]) == kWideBlankLead &&
         static_cast<unsigned char>(p[1]) == kWideBlankTrail;
}

#if TABULON_SSE2
// The scans' step: two 16-byte loads.
inline constexpr std::ptrdiff_t kScanStep = 32;

// Bit k of the result is set where byte k of the 32 bytes at `p` differs
// from the same byte of `pattern` (repeated).
inline std::uint32_t BytesOtherThan(const char* p, __m128i pattern) {
  const auto equal = [pattern](const char* q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, pattern)));
  };
  return ~(equal(p) | equal(p + 16) << 16);
}
inline __m128i SixteenBlanks() {
  return _mm_set1_epi8(kBlank);
}
// Eight full-width blanks, 0x81 at the even bytes.
inline __m128i EightWideBlanks() {
  return _mm_set1_epi16(static_cast<short>(kWideBlankTrail << 8 | kWideBlankLead));
}
#endif

// The runs of padding at either end of a value. Each takes steps of 32
// bytes where SSE2 is there and the step lies in the read window, and
// eight-byte words otherwise.

// The first byte other than a blank in [p, end), or a place at or after
// `end` when there is none.
TABULON_INLINE const char* BlanksEnd(const char* p, const char* end, const char* window_end) {
#if TABULON_SSE2
  const __m128i blanks = SixteenBlanks();
  while (window_end - p >= kScanStep) {  // p lies in the value
    if (const std::uint32_t others = BytesOtherThan(p, blanks)) return p + std::countr_zero(others);
    p += kScanStep;
    if (p >= end) return p;
  }
#endif
  while (end - p >= 8 && Load8(p) == kEightBlanks) p += 8;
  if (window_end - p >= 8) return p + BytesBeforeFlag(~BytesEqual(Load8(p), kBlank) & kHighs);
  while (p < end && *p == kBlank) ++p;
  return p;
}

// Where the run of whole full-width blanks from `p` ends inside the value.
TABULON_INLINE const char* PairsEnd(const char* p, const char* end, const char* window_end) {
#if TABULON_SSE2
  const __m128i pairs = EightWideBlanks();
  while (window_end - p >= kScanStep) {  // p lies in the value
    if (const std::uint32_t others = BytesOtherThan(p, pairs)) {
      p += std::countr_zero(others) & ~1;
      // A pair that the value's end cuts is none: back to the last whole one.
      return p > end ? end - ((end - p) & 1) : p;
    }
    p += kScanStep;
    if (p >= end) return end - ((end - p) & 1);
  }
#else
  static_cast<void>(window_end);    // whole words of pairs lie in the value
#endif
  while (end - p >= 8 && Load8(p) == kFourWideBlanks) p += 8;
  while (end - p >= 2 && IsWideBlankAt(p)) p += 2;
  return p;
}

// One past the last byte other than a blank in [begin, q), or a place at or
// before `begin` when there is none.
TABULON_INLINE const char* BlanksStart(const char* q, const char* begin, const char* window_begin) {
#if TABULON_SSE2
  const __m128i blanks = SixteenBlanks();
  while (q - window_begin >= kScanStep) {  // q lies after the value's first byte
    if (const std::uint32_t others = BytesOtherThan(q - kScanStep, blanks)) {
      return q - kScanStep + static_cast<int>(std::bit_width(others));
    }
    q -= kScanStep;
    if (q <= begin) return q;
  }
#endif
  while (q - begin >= 8 && Load8(q - 8) == kEightBlanks) q -= 8;
  if (q - window_begin >= 8) return q - BytesAfterFlag(~BytesEqual(Load8(q - 8), kBlank) & kHighs);
  while (q > begin && q[-1] == kBlank) --q;
  return q;
}

// Where the run of whole full-width blanks that ends at `q` starts inside
// the value.
TABULON_INLINE const char* PairsStart(const char* q, const char* begin, const char* window_begin) {
#if TABULON_SSE2
  const __m128i pairs = EightWideBlanks();  // a step ending at q starts at a pair
  while (q - window_begin >= kScanStep) {   // q lies after the value's first byte
    if (const std::uint32_t others = BytesOtherThan(q - kScanStep, pairs)) {
      q -= (kScanStep - static_cast<int>(std::bit_width(others))) & ~1;
      return q < begin ? begin + ((begin - q) & 1) : q;
    }
    q -= kScanStep;
    if (q <= begin) return begin + ((begin - q) & 1);
  }
#else
  static_cast<void>(window_begin);  // whole words of pairs lie in the value
#endif
  while (q - begin >= 8 && Load8(q - 8) == kFourWideBlanks) q -= 8;
  while (q - begin >= 2 && IsWideBlankAt(q - 2)) q -= 2;
  return q;
}

// Where the value [begin, end) starts once its leading blanks (0x20 and the
// pair 0x81 0x40) are gone. The last byte is never tested on its own, so a
// trailing single blank stays; a full-width blank in the last two bytes goes.
TABULON_INLINE const char* SkipLeadingBlanks(const char* begin, const char* end,
                                             const char* window_end) {
  const char* p = begin;
  while (end - p > 1) {
    char first = *p;
    if (first == kBlank) {
      p = BlanksEnd(p, end, window_end);
      if (end - p <= 1) return end - 1;  // the scan stops on the last byte
      first = *p;
    }
    if (static_cast<unsigned char>(first) != kWideBlankLead || !IsWideBlankAt(p)) return p;
    // Every pair of the run lies inside the value, so the result is the
    // pair-by-pair rule's.
    p = PairsEnd(p, end, window_end);
  }
  return p;
}

// Where the value [begin, end) ends once its trailing blanks are gone. The
// first byte is never tested on its own; a trailing 0x81 0x40 is a
// full-width blank only where its 0x81 starts a character.
TABULON_INLINE const char* SkipTrailingBlanks(const char* begin, const char* end,
                                              const char* window_begin) {
  const char* q = end;
  while (q - begin > 1) {
    char last = q[-1];
    if (last == kBlank) {
      q = BlanksStart(q, begin, window_begin);
      if (q - begin <= 1) return begin + 1;  // the first byte stays
      last = q[-1];
    }
    if (static_cast<unsigned char>(last) != kWideBlankTrail || !IsWideBlankAt(q - 2)) return q;
    // Every pair of the run but the lowest follows a 0x40, which ends a
    // character, so only the lowest needs the lead-byte walk.
    q = PairsStart(q, begin, window_begin);
    if (!StartsCharacter(begin, q)) return q + 2;
  }
  return q;
}

// StripLeadingLow removes leading bytes up to this one: the control bytes,
// the blank, the punctuation 0x21 to 0x2F and the digit 0.
inline constexpr unsigned char kHighestLowByte = 0x30;

// Where the value [begin, end) starts once its leading bytes of 0x30 and
// below are gone.
TABULON_INLINE const char* SkipLeadingLow(const char* begin, const char* end,
                                          const char* window_end) {
  const char* p = begin;
  while (p < end && static_cast<unsigned char>(*p) <= kHighestLowByte) {
    if (window_end - p >= 8) {
      int run = BytesBeforeFlag(BytesAbove(Load8(p), kHighestLowByte));
      p += run;
      if (run < 8) break;
    } else {
      ++p;
    }
  }
  return p < end ? p : end;
}

}  // namespace tabulon::scan
