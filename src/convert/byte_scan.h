// Byte scans of the record path, eight bytes at a time.
//
// The trims here work on a value [begin, end) that lies inside a readable
// window [window_begin, window_end) (the whole record when called from the
// converter, the value itself otherwise). Eight-byte loads never leave the
// window; what they see beyond the value is masked off, so the result is
// exactly the byte-by-byte rule's.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "base/cp932.h"
#include "convert/inline.h"

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

// Where the value [begin, end) starts once its leading blanks (0x20 and the
// pair 0x81 0x40) are gone. The last byte is never tested on its own, so a
// trailing single blank stays; a full-width blank in the last two bytes goes.
TABULON_INLINE const char* SkipLeadingBlanks(const char* begin, const char* end,
                                             const char* window_end) {
  const char* p = begin;
  while (end - p > 1) {
    char first = *p;
    if (first == kBlank) {
      // Long padding goes a word at a time with one compare; the word's
      // bytes lie inside the value and before its last byte.
      while (end - p >= 9 && Load8(p) == kEightBlanks) p += 8;
      int run;
      if (window_end - p >= 8) {
        run = BytesBeforeFlag(~BytesEqual(Load8(p), kBlank) & kHighs);
      } else {
        run = 0;
        while (p + run < window_end && run < 8 && p[run] == kBlank) ++run;
      }
      p += run;
      if (end - p <= 1) return end - 1;  // the scan stops on the last byte
      if (run == 8) continue;
      first = *p;
    }
    if (static_cast<unsigned char>(first) != kWideBlankLead || !IsWideBlankAt(p)) return p;
    // Full-width padding goes four pairs at a time; the bytes tested lie
    // inside the value, so the result is the pair-by-pair rule's.
    while (end - p >= 10 && Load8(p + 2) == kFourWideBlanks) p += 8;
    p += 2;
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
      // A word at a time while the word lies after the first byte.
      while (q - begin >= 9 && Load8(q - 8) == kEightBlanks) q -= 8;
      int run;
      if (q - window_begin >= 8) {
        run = BytesAfterFlag(~BytesEqual(Load8(q - 8), kBlank) & kHighs);
      } else {
        run = 0;
        while (q - run > window_begin && run < 8 && q[-run - 1] == kBlank) ++run;
      }
      q -= run;
      if (q - begin <= 1) return begin + 1;  // the first byte stays
      if (run == 8) continue;
      last = q[-1];
    }
    if (static_cast<unsigned char>(last) != kWideBlankTrail || !IsWideBlankAt(q - 2)) return q;
    // Four pairs at a time: every pair but the lowest of the run follows a
    // 0x40, which ends a character, so only the lowest needs the lead-byte
    // walk. (At least one byte stays before them, so the next round may
    // read q[-1].)
    if (q - begin >= 9 && Load8(q - 8) == kFourWideBlanks) {
      q -= 8;
      while (q - begin >= 9 && Load8(q - 8) == kFourWideBlanks) q -= 8;
      if (!StartsCharacter(begin, q)) return q + 2;
      continue;
    }
    if (!StartsCharacter(begin, q - 2)) return q;
    q -= 2;
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
