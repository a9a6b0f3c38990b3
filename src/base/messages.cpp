#include "base/messages.h"

#include "base/cp932.h"

namespace tabulon {

// The UTF-8 forms are written as plain literals: the compiler must keep them
// as UTF-8 bytes (GCC's and Clang's default execution character set).
static_assert(messages::kReportAt.Utf8 == "\x20\xe3\x81\xae\x20",
              "compile with -fexec-charset=UTF-8");

namespace {

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

}  // namespace tabulon
