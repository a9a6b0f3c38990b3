#include "base/messages.h"

#include <iterator>

#include "base/cp932.h"

namespace tabulon {

// The UTF-8 forms are written as plain literals: the compiler must keep them
// as UTF-8 bytes (GCC's and Clang's default execution character set).
static_assert(messages::kReportAt.Utf8 == "\x20\xe3\x81\xae\x20",
              "compile with -fexec-charset=UTF-8");

namespace {

// The character of each double-byte pair; see make_cp932_table.py.
constexpr std::size_t kTrailCount = 188;
constexpr char16_t kDoubleByteCharacters[] = {
#include "base/cp932_table.inc"
};
static_assert(std::size(kDoubleByteCharacters) == 60 * kTrailCount);

// The character of the pair, or 0 when it is none.
char16_t DoubleByteCharacter(unsigned char lead, unsigned char trail) {
  if (!IsTrailByte(trail)) return 0;
  std::size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31;
  std::size_t column = trail < 0x7F ? trail - 0x40u : trail - 0x41u;
  return kDoubleByteCharacters[row * kTrailCount + column];
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendEscape(unsigned char b, std::string& out) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[b >> 4];
  out += kDigits[b & 0x0F];
}

constexpr std::size_t Utf8Length(unsigned char b) {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  return b < 0xF0 ? 3 : 4;
}

}  // namespace

constinit TextForms ChosenTextForms;

bool NamesUtf8(std::string_view locale_name) {
  for (std::size_t i = 0; i + 4 <= locale_name.size(); ++i) {
    auto lower = [&](std::size_t at) { return static_cast<char>(locale_name[at] | 0x20); };
    if (lower(i) != 'u' || lower(i + 1) != 't' || lower(i + 2) != 'f') continue;
    std::size_t eight = i + 3;
    if (locale_name[eight] == '-' && eight + 1 < locale_name.size()) ++eight;
    if (locale_name[eight] == '8') return true;
  }
  return false;
}

std::string_view Utf8Prefix(const Text& text, std::size_t cp932_size) {
  // Both forms hold the same characters in the same order: step through
  // them side by side.
  std::size_t from = 0;
  std::size_t to = 0;
  while (from < cp932_size && from < text.Cp932.size() && to < text.Utf8.size()) {
    std::size_t width = IsLeadByte(static_cast<unsigned char>(text.Cp932[from])) ? 2 : 1;
    if (from + width > cp932_size) break;
    from += width;
    to += Utf8Length(static_cast<unsigned char>(text.Utf8[to]));
  }
  return text.Utf8.substr(0, to);
}

void AppendUtf8Form(std::string_view cp932, std::string& out) {
  for (std::size_t i = 0; i < cp932.size(); ++i) {
    auto b = static_cast<unsigned char>(cp932[i]);
    if (b < 0x20 || b == 0x7F || IsNoCharacterByte(b)) {
      AppendEscape(b, out);
    } else if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (InRange(kHalfWidthKatakana, b)) {
      AppendUtf8(0xFF61 + (b - 0xA1u), out);  // half-width katakana
    } else if (char16_t c = IsLeadByte(b) && i + 1 < cp932.size()
                                ? DoubleByteCharacter(b, static_cast<unsigned char>(cp932[i + 1]))
                                : char16_t{0};
               c != 0) {
      AppendUtf8(c, out);
      ++i;
    } else {
      AppendEscape(b, out);
    }
  }
}

}  // namespace tabulon
