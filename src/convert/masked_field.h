// The masked field writer: a value of up to kMaskedFieldLimit bytes loaded
// into vector registers once, trimmed by bit operations on its byte masks
// (byte_masks.h) with no branch on the bytes, and copied in whole blocks.
// It gives exactly the scalar writer's text (scalar_field.h); the tests and
// fuzz targets hold the two against each other.
#pragma once

#include "convert/byte_masks.h"

#if TABULON_BYTE_MASKS
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "convert/block_copy.h"
#include "convert/byte_scan.h"
#include "convert/field_plan.h"
#include "convert/inline.h"
#include "convert/transforms.h"

namespace tabulon {

namespace masked {

// std::bit_width of x below 2^63, without the test for zero that the
// library's version may compile to: a branch on the bytes of the value.
TABULON_INLINE unsigned BitWidth(std::uint64_t x) {
  return static_cast<unsigned>(std::bit_width((x << 1) | 1)) - 1;
}

// The leading blanks and pairs of a value: `blank` and `pairs` (the 0x81 of
// each 0x81 0x40 inside the value) hold no bit beyond the value. The blanks
// and pairs take turns without overlap, so the run of their bits from bit 0
// is what the byte-by-byte trim skips.
TABULON_INLINE std::uint64_t BlanksAndPairs(std::uint64_t blank, std::uint64_t pairs) {
  return blank | pairs | (pairs << 1);
}

// Where the leading blanks of a value end, of its blanks and pairs `skip`;
// `last` is the bit of its last byte. That byte is never taken on its own: a
// blank there ends the run, as a byte that is no blank does.
TABULON_INLINE unsigned LeadingBlanksEnd(std::uint64_t skip, std::uint64_t blank,
                                         std::uint64_t last) {
  return static_cast<unsigned>(std::countr_zero(~skip | (blank & last)));
}

// Where the value [first, n) ends once its trailing blanks are gone; `first`
// is 0 or where the leading blanks end, so every byte before it is in `skip`
// and the one right before it is a blank or a 0x40. Within the trailing run
// of blanks and pairs, every pair but the lowest follows a blank or a 0x40
// and so starts a character; the lowest one starts a character when the
// lead-range bytes right before it are even in number (the run of them ends
// at first at the latest). The first byte is never taken on its own: a
// blank there counts as a byte kept. Whether the run starts with a pair, or
// takes the whole value, varies from record to record in real data, so both
// are worked out without a branch.
template <std::size_t kBlocks>
TABULON_INLINE unsigned TrailingBlanksEnd(const masks::ValueBytes<kBlocks>& bytes,
                                          std::uint64_t skip, std::uint64_t blank,
                                          std::uint64_t pairs, std::uint64_t valid,
                                          unsigned first) {
  const std::uint64_t kept = (valid & ~skip) | (blank & (std::uint64_t{1} << first));
  const unsigned run = std::max(first, BitWidth(kept));  // the trailing run starts here
  // A run that starts with a pair keeps it when its 0x81 is a second byte,
  // that is, after an odd run of lead-range bytes.
  const unsigned lead_run = run - BitWidth(~bytes.Lead() & masks::Below(run));
  const unsigned kept_pair = static_cast<unsigned>(pairs >> run) & lead_run & 1;
  return run + 2 * kept_pair;
}

// The trimmed value's bounds [First, Last) within the value.
struct Trimmed {
  unsigned First;
  unsigned Last;
};

// The trim of one kind, by the masks of the value's n bytes (`valid`, the
// low n bits; `last`, the highest of them).
template <TrimKind kTrim, std::size_t kBlocks>
TABULON_INLINE Trimmed TrimByMasks(const masks::ValueBytes<kBlocks>& bytes, unsigned n,
                                   std::uint64_t valid, std::uint64_t last) {
  Trimmed t{0, n};
  if constexpr (kTrim != TrimKind::None) {
    const std::uint64_t blank = bytes.Equal(kBlank) & valid;
    const std::uint64_t pairs =
        bytes.Equal(kWideBlankLead) & ((bytes.Equal(kWideBlankTrail) & valid) >> 1);
    const std::uint64_t skip = BlanksAndPairs(blank, pairs);
    if constexpr (kTrim == TrimKind::Left || kTrim == TrimKind::Both) {
      t.First = LeadingBlanksEnd(skip, blank, last);
    }
    if constexpr (kTrim == TrimKind::LeftLow) {
      // A blank is a low byte too: the low bytes take a last blank that the
      // leading run leaves, so the run needs no rule for it here.
      const std::uint64_t leading = ((skip + 1) ^ skip) >> 1;
      const std::uint64_t low = bytes.AtMost(scan::kHighestLowByte) & valid;
      t.First = static_cast<unsigned>(std::countr_zero(~(low | leading)));
    }
    if constexpr (kTrim == TrimKind::Right || kTrim == TrimKind::Both) {
      t.Last = TrailingBlanksEnd(bytes, skip, blank, pairs, valid, t.First);
    }
  }
  return t;
}

// Copies the `length` bytes at `from`, each 0x22 doubled; bit k of `quotes`
// marks a quote at from[k]. (Rare: kept out of the inlined writers.)
[[gnu::noinline]] inline char* CopyDoublingQuotes(char* out, const char* from, std::uint64_t quotes,
                                                  unsigned length) {
  // kMaskedTail bytes after the value may be read: each piece is copied in
  // whole blocks.
  const char* const source_end = from + length + kMaskedTail;
  unsigned done = 0;
  for (; quotes != 0; quotes &= quotes - 1) {
    const unsigned after = static_cast<unsigned>(std::countr_zero(quotes)) + 1;
    out = CopyInBlocks(out, from + done, after - done, source_end);
    *out++ = '"';
    done = after;
  }
  return CopyInBlocks(out, from + done, length - done, source_end);
}

// The closing quote and the separator at `out`, stored as four bytes: the
// last two fall in the room after the text (kCopySlack), which the next text
// overwrites. (Byte masks mean x86: the store is little-endian.)
TABULON_INLINE char* CloseQuoted(char* out, char separator) {
  const std::uint32_t bytes = 0x22u | std::uint32_t{static_cast<unsigned char>(separator)} << 8;
  std::memcpy(out, &bytes, sizeof bytes);
  return out + 2;
}

// Copies the trimmed text in whole blocks: kMaskedTail bytes after the
// value's end may be read. A value of one or two blocks takes as many moves,
// whatever its length.
template <std::size_t kBlocks>
TABULON_INLINE char* CopyText(char* out, const char* text, unsigned length, const char* value_end) {
  if constexpr (kBlocks <= 2) {
    std::memcpy(out, text, kMaskBlockSize);
    if constexpr (kBlocks == 2)
      std::memcpy(out + kMaskBlockSize, text + kMaskBlockSize, kMaskBlockSize);
    return out + length;
  } else {
    return CopyInBlocks(out, text, length, value_end + kMaskedTail);
  }
}

}  // namespace masked

// The field text of the n-byte value at `value` (n at most kMaskedFieldLimit
// and 16 * kBlocks; `valid` is masks::Below(n), `last` the bit of its last
// byte, 0 when n is 0) and the separator after it.
// kMaskedTail bytes after the value's end are readable; `out` has room for
// LongestFieldText(n) + kCopySlack bytes.
template <TrimKind kTrim, TextKind kText, std::size_t kBlocks, bool kCommaMode>
TABULON_INLINE char* WriteMaskedField(char* out, const char* value, unsigned n, std::uint64_t valid,
                                      std::uint64_t last, char separator) {
  const masks::ValueBytes<kBlocks> bytes(value);
  const masked::Trimmed t = masked::TrimByMasks<kTrim>(bytes, n, valid, last);
  const char* text = value + t.First;
  const unsigned length = t.Last - t.First;
  if constexpr (kText == TextKind::Formula) {
    if constexpr (kCommaMode) {
      const bool comma = (bytes.Equal(',') & valid) != 0;
      *out = '=';  // taken back when it does not belong
      out += TakesFormulaMark(kCommaMode, comma) ? 1 : 0;
    } else {
      *out++ = '=';
    }
  }
  if constexpr (kText != TextKind::Plain) {
    *out++ = '"';
    // The blanks a trim takes are never quotes; the low bytes a 'Z'
    // trim takes can be, and their bits are shifted out below.
    const std::uint64_t quotes = bytes.Equal('"') & valid;
    if (quotes != 0) [[unlikely]] {
      out = masked::CopyDoublingQuotes(out, text, quotes >> t.First, length);
      return masked::CloseQuoted(out, separator);
    }
  }
  if constexpr ((kTrim == TrimKind::None || kTrim == TrimKind::Right) && kBlocks <= 2) {
    bytes.StoreTo(out);  // the text starts with the value: its loaded bytes
    out += length;
  } else {
    out = masked::CopyText<kBlocks>(out, text, length, value + n);
  }
  if constexpr (kText != TextKind::Plain) return masked::CloseQuoted(out, separator);
  *out = separator;
  return out + 1;
}

}  // namespace tabulon

#endif
