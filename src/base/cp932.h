// Code page 932 byte classes. Text is never converted; the program only needs
// to know where a double-byte character starts and what a blank is.
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon {

// A lead byte starts a double-byte character: 0x81 to 0x9F and 0xE0 to 0xFC.
constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
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
