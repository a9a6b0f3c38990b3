// The masked field writer: a value of up to kMaskedFieldLimit bytes loaded
// into vector registers once, trimmed by bit operations on its byte masks
// (byte_masks.h) with no branch on the bytes, and copied in whole blocks.
// It gives exactly the scalar writer's text (scalar_field.h); the tests and
// fuzz targets hold the two against each other.
#pragma once

#include "convert/byte_masks.h"

#if TABULON_BYTE_MASKS
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "convert/block_copy.h"
#include "convert/byte_scan.h"
#include "convert/field_plan.h"
#include "convert/inline.h"
#include "convert/transforms.h"

namespace tabulon {

namespace masked {

// std::bit_width of x below 2^63, without the test for zero that the
// library's version may compile to: a branch on the bytes of the value.
constexpr TABULON_INLINE unsigned BitWidth(std::uint64_t x) {
  return static_cast<unsigned>(std::bit_width((x << 1) | 1)) - 1;
}

// The same for x below 2^kBits: by a table when the masks are those of a
// value of up to eight bytes (one load in place of three instructions). The
// trims only ask it of masks kept within the value's bits.
inline constexpr auto kByteWidths = [] {
  std::array<unsigned char, 256> widths{};
  for (unsigned x = 0; x < widths.size(); ++x) {
    widths[x] = static_cast<unsigned char>(std::bit_width(x));
  }
  return widths;
}();

template <std::size_t kBits>
constexpr TABULON_INLINE unsigned BitWidthBelow(std::uint64_t x) {
  if constexpr (kBits <= 8) {
    return kByteWidths[x & 0xFF];  // the mask keeps the read inside the table whatever x is
  } else {
    return BitWidth(x);
  }
}

// The bits right above the runs of set bits of x that are odd in length: a
// run that starts at an even bit and is odd ends at an odd one, and the
// other way round. Adding a run's lowest bit carries it to the bit above
// it; the runs of each parity of start are carried apart, so that their
// ends can be told by the parity of where they land. Every operation is a
// plain one (no bit scan), and a bit depends on the bits below it only.
// Word is the unsigned type the work is done in: in one of 32 bits the
// constants fit the instructions that use them, and the bits from 32 up are
// lost (the end of a run that reaches bit 31).
template <typename Word = std::uint64_t>
constexpr TABULON_INLINE std::uint64_t OddRunEnds(Word x) {
  constexpr Word kEven = static_cast<Word>(0x5555555555555555);
  const Word starts = x & static_cast<Word>(~(x << 1));
  const Word even_ends = (x + (starts & kEven)) & static_cast<Word>(~x);
  const Word odd_ends = (x + (starts & static_cast<Word>(~kEven))) & static_cast<Word>(~x);
  return (even_ends & static_cast<Word>(~kEven)) | (odd_ends & kEven);
}

// Bit k set where the run of set bits of eight bits x that ends at bit k,
// if one does, is even in length: ~(OddRunEnds(x) >> 1), by table.
inline constexpr auto kEvenRunEnds = [] {
  std::array<std::uint8_t, 256> ends{};
  for (unsigned x = 0; x < ends.size(); ++x) {
    ends[x] = static_cast<std::uint8_t>(~(OddRunEnds(x) >> 1));
  }
  return ends;
}();

// The 0x81 bytes of `pairs` that are second bytes of a character, of the
// lead-range bytes `lead` of the value (of up to kBits bytes; lead's bits
// above them may be set): those that end an even run of lead-range bytes.
// By table for a value of up to eight bytes, one load in place of a dozen
// operations.
template <std::size_t kBits>
constexpr TABULON_INLINE std::uint64_t SecondBytePairs(std::uint64_t lead, std::uint64_t pairs) {
  if constexpr (kBits <= 8) {
    return pairs & kEvenRunEnds[lead & 0xFF];
  } else if constexpr (kBits <= 32) {
    // A pair's 0x81 lies below bit kBits - 1, so the end at bit 32 that
    // 32 bits lose is never asked for.
    return pairs & ~(OddRunEnds(static_cast<std::uint32_t>(lead)) >> 1);
  } else {
    return pairs & ~(OddRunEnds(lead) >> 1);
  }
}

// The leading blanks and pairs of a value: `blank` and `pairs` (the 0x81 of
// each 0x81 0x40 inside the value) hold no bit beyond the value. The blanks
// and pairs take turns without overlap, so the run of their bits from bit 0
// is what the byte-by-byte trim skips.
constexpr TABULON_INLINE std::uint64_t BlanksAndPairs(std::uint64_t blank, std::uint64_t pairs) {
  return blank | pairs | (pairs << 1);
}

// Where the leading blanks of a value end, of its blanks and pairs `skip`;
// `last` is the bit of its last byte. That byte is never taken on its own: a
// blank there ends the run, as a byte that is no blank does.
constexpr TABULON_INLINE unsigned LeadingBlanksEnd(std::uint64_t skip, std::uint64_t blank,
                                                   std::uint64_t last) {
  return static_cast<unsigned>(std::countr_zero(~skip | (blank & last)));
}

// Where the value [first, n) ends once its trailing blanks are gone; `first`
// is 0 or where the leading blanks end, so every byte before it is in `skip`
// and the one right before it is a blank or a 0x40. Within the trailing run
// of blanks and pairs, every pair but the lowest follows a blank or a 0x40
// and so starts a character; the lowest one starts a character when the
// lead-range bytes right before it are even in number (the run of them ends
// at first at the latest). The 0x81 of a pair is a lead-range byte and its
// 0x40 is not, so that run with the 0x81 ends at the 0x40: odd before the
// 0x81 when even with it. The pairs that are second bytes are worked out of
// the masks alone, beside the search for the run's start, and not after
// it. The first byte is never taken on its own: a blank there counts as a
// byte kept. Whether the run starts with a pair, or takes the whole value,
// varies from record to record in real data, so both are worked out without
// a branch. `lead` marks the lead-range bytes of the value, which has at
// most kBits bytes.
template <std::size_t kBits>
constexpr TABULON_INLINE unsigned TrailingBlanksEnd(std::uint64_t lead, std::uint64_t skip,
                                                    std::uint64_t blank, std::uint64_t pairs,
                                                    std::uint64_t valid, unsigned first) {
  // The run starts above the last byte that is neither a blank nor a pair,
  // and above `first` (or the blank there); its search does not wait for
  // `first`.
  const unsigned after_kept = BitWidthBelow<kBits>(valid & ~skip);
  const unsigned blank_first = static_cast<unsigned>(blank >> first) & 1;
  const std::uint64_t second_bytes = SecondBytePairs<kBits>(lead, pairs);
  const unsigned run = std::max(first + blank_first, after_kept);
  // A run that starts with a pair keeps it when its 0x81 is a second byte.
  const unsigned kept_pair = static_cast<unsigned>(second_bytes >> run) & 1;
  return run + 2 * kept_pair;
}

// The byte classes the writers use, named by their index in kClasses.
enum ClassName : unsigned char {
  kBlanks,
  kWideLeads,   // 0x81
  kWideTrails,  // 0x40
  kQuotes,
  kLeads,
  kLows,
  kCommas,
  kClassNames
};
inline constexpr masks::ByteClass kClasses[kClassNames] = {
    masks::Only(kBlank), masks::Only(kWideBlankLead), masks::Only(kWideBlankTrail),
    masks::Only('"'),    masks::kLeadBytes,           masks::UpTo(scan::kHighestLowByte),
    masks::Only(',')};

// The classes one kind of field takes, in the order in which they are
// worked out two at a time (see masks::PairedBytes).
struct ClassList {
  ClassName Names[kClassNames];
  std::size_t Count;
};

template <TrimKind kTrim, TextKind kText, bool kCommaMode>
constexpr ClassList ClassesOf() {
  ClassList list{};
  auto add = [&list](ClassName name) { list.Names[list.Count++] = name; };
  if (kTrim != TrimKind::None) {
    add(kBlanks);
    add(kWideLeads);
    add(kWideTrails);
  }
  if (kText != TextKind::Plain) add(kQuotes);
  if (kTrim == TrimKind::Right || kTrim == TrimKind::Both) add(kLeads);
  if (kTrim == TrimKind::LeftLow) add(kLows);
  if (kText == TextKind::Formula && kCommaMode) add(kCommas);
  return list;
}

// The masks of a value's classes by name; those of the classes not asked
// for stay 0, and the bits from the value's end up are not defined.
using ClassMasks = std::array<std::uint64_t, kClassNames>;

template <ClassName kFirst, ClassName kSecond, typename Bytes>
TABULON_INLINE void PutPair(const Bytes& bytes, ClassMasks& m) {
  const masks::ClassPair p = bytes.template Pair<kClasses[kFirst], kClasses[kSecond]>();
  m[kFirst] = p.First;
  m[kSecond] = p.Second;
}

template <ClassList kList, std::size_t... I, typename Bytes>
TABULON_INLINE ClassMasks MasksInPairs(const Bytes& bytes, std::index_sequence<I...>) {
  ClassMasks m{};
  (PutPair<kList.Names[2 * I], kList.Names[2 * I + 1]>(bytes, m), ...);
  if constexpr (kList.Count % 2 == 1) {
    constexpr ClassName kLast = kList.Names[kList.Count - 1];
    m[kLast] = bytes.template Of<kClasses[kLast]>();
  }
  return m;
}

template <ClassList kList, typename Bytes>
TABULON_INLINE ClassMasks MasksOf(const Bytes& bytes) {
  return MasksInPairs<kList>(bytes, std::make_index_sequence<kList.Count / 2>{});
}

// The trimmed value's bounds [First, Last) within the value.
struct Trimmed {
  unsigned First;
  unsigned Last;
};

// The 0x81 of each 0x81 0x40 inside the value whose bits are `valid`.
constexpr TABULON_INLINE std::uint64_t PairsOf(const ClassMasks& m, std::uint64_t valid) {
  return m[kWideLeads] & ((m[kWideTrails] & valid) >> 1);
}

// The trim of one kind, by the class masks of the value's n bytes (n at
// most kBits; `valid`, the low n bits; `last`, the highest of them).
template <TrimKind kTrim, std::size_t kBits>
constexpr TABULON_INLINE Trimmed TrimByMasks(const ClassMasks& m, unsigned n, std::uint64_t valid,
                                             std::uint64_t last) {
  Trimmed t{0, n};
  if constexpr (kTrim != TrimKind::None) {
    const std::uint64_t blank = m[kBlanks] & valid;
    const std::uint64_t pairs = PairsOf(m, valid);
    const std::uint64_t skip = BlanksAndPairs(blank, pairs);
    if constexpr (kTrim == TrimKind::Left || kTrim == TrimKind::Both) {
      t.First = LeadingBlanksEnd(skip, blank, last);
    }
    if constexpr (kTrim == TrimKind::LeftLow) {
      // A blank is a low byte too: the low bytes take a last blank that the
      // leading run leaves, so the run needs no rule for it here.
      const std::uint64_t leading = ((skip + 1) ^ skip) >> 1;
      const std::uint64_t low = m[kLows] & valid;
      t.First = static_cast<unsigned>(std::countr_zero(~(low | leading)));
    }
    if constexpr (kTrim == TrimKind::Right || kTrim == TrimKind::Both) {
      t.Last = TrailingBlanksEnd<kBits>(m[kLeads], skip, blank, pairs, valid, t.First);
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
template <std::size_t kBytes>
TABULON_INLINE char* CopyText(char* out, const char* text, unsigned length, const char* value_end) {
  if constexpr (kBytes <= 2 * kMaskBlockSize) {
    std::memcpy(out, text, kMaskBlockSize);
    if constexpr (kBytes == 2 * kMaskBlockSize)
      std::memcpy(out + kMaskBlockSize, text + kMaskBlockSize, kMaskBlockSize);
    return out + length;
  } else {
    return CopyInBlocks(out, text, length, value_end + kMaskedTail);
  }
}

// --- trimmed values of kQuadLength bytes, by table ---

// The four classes whose mask (masks::QuadBytes) indexes a trim's table:
// the blanks and both bytes of a full-width blank, and what else the trim
// asks: the lead bytes (right trims), the low bytes ('Z'), or, where it
// asks for nothing more, the quotes, which its index then leaves out.
template <TrimKind kTrim>
inline constexpr ClassName kQuadFourth = kTrim == TrimKind::Right || kTrim == TrimKind::Both
                                             ? kLeads
                                             : (kTrim == TrimKind::LeftLow ? kLows : kQuotes);
template <TrimKind kTrim>
inline constexpr unsigned kQuadIndexBits = kQuadFourth<kTrim> == kQuotes ? 12 : 16;

// The trimmed bounds of the kQuadLength-byte value whose classes' mask is
// `index`: First in the low four bits, Last in the high four. Worked out by
// the mask trim itself, so that the table and the trim cannot disagree;
// an index no value's bytes can give (a byte both a blank and a 0x40) gets
// whatever it gives.
template <TrimKind kTrim>
constexpr unsigned char QuadTrimOf(std::size_t index) {
  ClassMasks m{};
  m[kBlanks] = index & 0xF;
  m[kWideLeads] = (index >> 4) & 0xF;
  m[kWideTrails] = (index >> 8) & 0xF;
  m[kQuadFourth<kTrim>] = (index >> 12) & 0xF;
  const Trimmed t = TrimByMasks<kTrim, 8>(m, kQuadLength, 0xF, 0x8);
  return static_cast<unsigned char>(t.First | t.Last << 4);
}

// The table is worked out a part at a time, each part a constant of its
// own, so that no one evaluation passes the compilers' limits on constant
// evaluation (GCC's operations, clang's steps).
inline constexpr std::size_t kQuadPart = 1024;

template <TrimKind kTrim, std::size_t kFirst>
inline constexpr auto kQuadTrimPart = [] {
  std::array<unsigned char, kQuadPart> part{};
  for (std::size_t i = 0; i < kQuadPart; ++i) part[i] = QuadTrimOf<kTrim>(kFirst + i);
  return part;
}();

template <TrimKind kTrim, std::size_t... kParts>
constexpr auto JoinQuadTrims(std::index_sequence<kParts...>) {
  std::array<unsigned char, kQuadPart * sizeof...(kParts)> trims{};
  std::size_t at = 0;
  for (const auto* part : {&kQuadTrimPart<kTrim, kParts * kQuadPart>...}) {
    for (unsigned char bounds : *part) trims[at++] = bounds;
  }
  return trims;
}

// The trimmed bounds of every value of kQuadLength bytes, by its classes'
// mask (QuadTrimOf).
template <TrimKind kTrim>
inline constexpr auto kQuadTrims = JoinQuadTrims<kTrim>(
    std::make_index_sequence<(std::size_t{1} << kQuadIndexBits<kTrim>) / kQuadPart>{});

}  // namespace masked

// The field text of the kQuadLength-byte value at `value` with a trim, and
// the separator after it: its trim is one load from the trim's table,
// indexed by one compare's mask. The conditions of WriteMaskedField hold.
template <TrimKind kTrim, TextKind kText, bool kCommaMode>
TABULON_INLINE char* WriteQuadField(char* out, const char* value, char separator) {
  using namespace masked;
  constexpr ClassName kFourth = kQuadFourth<kTrim>;
  const masks::QuadBytes bytes(value);
  const unsigned classes = bytes.Mask<kClasses[kBlanks], kClasses[kWideLeads],
                                      kClasses[kWideTrails], kClasses[kFourth]>();
  const unsigned bounds = kQuadTrims<kTrim>[classes & ((1u << kQuadIndexBits<kTrim>)-1)];
  const unsigned first = bounds & 0xF;
  const unsigned length = (bounds >> 4) - first;
  unsigned quotes = kFourth == kQuotes ? classes >> 12 : 0;
  unsigned commas = 0;
  constexpr bool kFormulaComma = kText == TextKind::Formula && kCommaMode;
  if constexpr ((kText != TextKind::Plain && kFourth != kQuotes) || kFormulaComma) {
    const unsigned more =
        bytes.Mask<kClasses[kQuotes], kClasses[kCommas], kClasses[kQuotes], kClasses[kQuotes]>();
    if constexpr (kFourth != kQuotes) quotes = more & 0xF;
    commas = (more >> 4) & 0xF;
  }
  if constexpr (kText == TextKind::Formula) {
    *out = '=';  // taken back when it does not belong
    out += TakesFormulaMark(kCommaMode, commas != 0) ? 1 : 0;
  }
  const char* text = value + first;
  if constexpr (kText != TextKind::Plain) {
    *out++ = '"';
    if (quotes != 0) [[unlikely]] {
      out = CopyDoublingQuotes(out, text, quotes >> first, length);
      return CloseQuoted(out, separator);
    }
  }
  std::memcpy(out, text, kQuadLength);  // the text and at most three bytes of room
  out += length;
  if constexpr (kText != TextKind::Plain) return CloseQuoted(out, separator);
  *out = separator;
  return out + 1;
}

// The field text of the n-byte value at `value` (n at most kMaskedFieldLimit
// and kBytes; `valid` holds its low n bits, `last` the bit of its last
// byte, 0 when n is 0) and the separator after it.
// kMaskedTail bytes after the value's end are readable; `out` has room for
// LongestFieldText(n) + kCopySlack bytes.
template <TrimKind kTrim, TextKind kText, std::size_t kBytes, bool kCommaMode>
TABULON_INLINE char* WriteMaskedField(char* out, const char* value, unsigned n, std::uint64_t valid,
                                      std::uint64_t last, char separator) {
  const masks::LoadedBytes<kBytes> bytes(value);
  const masked::ClassMasks m =
      masked::MasksOf<masked::ClassesOf<kTrim, kText, kCommaMode>()>(bytes);
  const masked::Trimmed t = masked::TrimByMasks<kTrim, kBytes>(m, n, valid, last);
  const char* text = value + t.First;
  const unsigned length = t.Last - t.First;
  if constexpr (kText == TextKind::Formula) {
    if constexpr (kCommaMode) {
      const bool comma = (m[masked::kCommas] & valid) != 0;
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
    const std::uint64_t quotes = m[masked::kQuotes] & valid;
    if (quotes != 0) [[unlikely]] {
      out = masked::CopyDoublingQuotes(out, text, quotes >> t.First, length);
      return masked::CloseQuoted(out, separator);
    }
  }
  if constexpr ((kTrim == TrimKind::None || kTrim == TrimKind::Right) &&
                kBytes <= 2 * kMaskBlockSize) {
    bytes.StoreTo(out);  // the text starts with the value: its loaded bytes
    out += length;
  } else {
    out = masked::CopyText<kBytes>(out, text, length, value + n);
  }
  if constexpr (kText != TextKind::Plain) return masked::CloseQuoted(out, separator);
  *out = separator;
  return out + 1;
}

}  // namespace tabulon

#endif
