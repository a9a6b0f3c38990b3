// Code page 932 byte classes. Text is never converted; the program only needs
// to know where a double-byte character starts and what a blank is.
#pragma once

namespace tabulon {

// A lead byte starts a double-byte character: 0x81 to 0x9F and 0xE0 to 0xFC.
constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

inline constexpr char kBlank = 0x20;
// The full-width blank is the pair 0x81 0x40.
inline constexpr unsigned char kWideBlankLead = 0x81;
inline constexpr unsigned char kWideBlankTrail = 0x40;

}  // namespace tabulon
