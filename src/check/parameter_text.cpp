#include "check/parameter_text.h"

#include <algorithm>

#include "base/cp932.h"
#include "params/parameter_file.h"

namespace tabulon::check {
namespace {

bool NeedsQuotes(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    return c == ',' || c == '"' || IsSeparatorByte(static_cast<unsigned char>(c));
  });
}

}  // namespace

void EndLine(std::string& out) {
  out += "\r\n";
}

void AppendFieldLine(std::string& out, char type, std::uint64_t width, char trim,
                     std::string_view name) {
  out += type;
  out += ',';
  out += std::to_string(width);
  out += ',';
  if (trim != '\0') out += trim;
  out += ',';
  if (!NeedsQuotes(name)) {
    out += name;
  } else {
    out += '"';
    for (char c : name) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  EndLine(out);
}

bool IsWritableName(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x20 || b == 0x7F) return false;
    if (!IsLeadByte(b)) continue;
    if (i + 1 == name.size() || !IsTrailByte(static_cast<unsigned char>(name[i + 1]))) return false;
    ++i;
  }
  return true;
}

std::size_t ParameterReadCost(std::string_view text) {
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return 2 * text.size() + (lines + 1) * kLineCost;
}

bool ParseNumber(std::string_view s, std::uint64_t limit, std::uint64_t& value) {
  if (s.empty()) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return false;
  }
  return true;
}

}  // namespace tabulon::check
