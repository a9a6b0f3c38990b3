// Code page 932 byte classes. Text is never converted; the program only needs
// to know where a double-byte character starts and what a blank is.
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon {

// A range of byte values, both ends included.
struct ByteRange {
  unsigned char First;
  unsigned char Last;
};

constexpr bool InRange(ByteRange range, unsigned char b) {
  return b >= range.First && b <= range.Last;
}

// A lead byte starts a double-byte character: 0x81 to 0x9F and 0xE0 to 0xFC.
// Written with literals, which GCC turns into one subtract-and-compare per
// range on the record path; the ranges below (for the vector compares) are
// checked against it at compile time.
constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline constexpr ByteRange kLeadLow{0x81, 0x9F};
inline constexpr ByteRange kLeadHigh{0xE0, 0xFC};
// The byte after a lead byte: 0x40 to 0x7E and 0x80 to 0xFC.
inline constexpr ByteRange kTrailLow{0x40, 0x7E};
inline constexpr ByteRange kTrailHigh{0x80, 0xFC};

constexpr bool LeadRangesMatchIsLeadByte() {
  for (unsigned v = 0; v < 256; ++v) {
    auto b = static_cast<unsigned char>(v);
    if (IsLeadByte(b) != (InRange(kLeadLow, b) || InRange(kLeadHigh, b))) return false;
  }
  return true;
}
static_assert(LeadRangesMatchIsLeadByte());

constexpr bool IsTrailByte(unsigned char b) {
  return InRange(kTrailLow, b) || InRange(kTrailHigh, b);
}

// The single-byte half-width katakana: 0xA1 to 0xDF.
inline constexpr ByteRange kHalfWidthKatakana{0xA1, 0xDF};

// A byte of 0x80 and above that is neither a lead byte nor a katakana: 0x80,
// 0xA0 and 0xFD to 0xFF are no character of code page 932. The UTF-8 form of
// a text writes them escaped, and the draft counts them as bytes of no text.
constexpr bool IsNoCharacterByte(unsigned char b) {
  return b >= 0x80 && !IsLeadByte(b) && !InRange(kHalfWidthKatakana, b);
}
static_assert(IsNoCharacterByte(0x80) && IsNoCharacterByte(0xA0) && IsNoCharacterByte(0xFD) &&
              IsNoCharacterByte(0xFF) && !IsNoCharacterByte(0xA1) && !IsNoCharacterByte(0xFC));

// True when `p` starts a character of the text beginning at `begin`, read
// from its start by the lead-byte rule. The byte before a run of lead-range
// bytes ends a character (a single byte or a second byte), so the run pairs
// up from its first byte: an even run before `p` means `p` starts one.
inline bool StartsCharacter(const char* begin, const char* p) {
  const char* q = p;
  while (q > begin && IsLeadByte(static_cast<unsigned char>(q[-1]))) --q;
  return ((p - q) & 1) == 0;
}

// The length of the character at `i` of `s`: a lead byte and the byte after
// it are one character, unless the lead byte is the last byte.
constexpr std::size_t CharLength(std::string_view s, std::size_t i) {
  return IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

// A byte from 0x01 to 0x20 (blank, TAB and the other control bytes) separates
// items on a parameter line and arguments on a command line.
constexpr bool IsSeparatorByte(unsigned char b) {
  return b >= 0x01 && b <= 0x20;
}

inline constexpr char kBlank = 0x20;
// The full-width blank is the pair 0x81 0x40.
inline constexpr unsigned char kWideBlankLead = 0x81;
inline constexpr unsigned char kWideBlankTrail = 0x40;

}  // namespace tabulon
