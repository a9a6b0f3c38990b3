#include "convert/transforms.h"

#include "convert/byte_scan.h"

namespace tabulon {

std::string_view CopyBytes(std::string_view value, std::int32_t start, std::int32_t count) {
  if (value.empty()) return {};
  std::int64_t from = start < 1 ? 1 : start;
  if (from > static_cast<std::int64_t>(value.size()) || count <= 0) return {};
  std::size_t offset = static_cast<std::size_t>(from - 1);
  return value.substr(offset, static_cast<std::size_t>(count));
}

std::string_view TrimLeftBlanks(std::string_view value) {
  const char* end = value.data() + value.size();
  const char* p = scan::SkipLeadingBlanks(value.data(), end, end);
  return {p, static_cast<std::size_t>(end - p)};
}

std::string_view TrimRightBlanks(std::string_view value) {
  const char* q = scan::SkipTrailingBlanks(value.data(), value.data() + value.size(), value.data());
  return {value.data(), static_cast<std::size_t>(q - value.data())};
}

std::string_view TrimBothBlanks(std::string_view value) {
  return TrimRightBlanks(TrimLeftBlanks(value));
}

std::string_view StripLeadingLow(std::string_view value) {
  const char* end = value.data() + value.size();
  const char* p = scan::SkipLeadingLow(value.data(), end, end);
  return {p, static_cast<std::size_t>(end - p)};
}

std::string_view TrimByCode(std::string_view value, unsigned char trim_code) {
  switch (trim_code) {
    case 'L':
      return TrimLeftBlanks(value);
    case 'R':
      return TrimRightBlanks(value);
    case 'T':
      return TrimBothBlanks(value);
    case 'Z':
      return StripLeadingLow(TrimLeftBlanks(value));
    default:
      return value;
  }
}

std::string_view ApplyTrim(const FieldTable& table, std::string_view value, std::size_t index) {
  unsigned char code = index < table.TrimCodes.size() ? table.TrimCodes[index] : 0;
  return TrimByCode(value, code);
}

std::string QuoteField(std::string_view value) {
  std::string quoted;
  quoted.reserve(value.size() + 2);
  AppendQuoted(value, [&](const char* data, std::size_t size) { quoted.append(data, size); });
  return quoted;
}

}  // namespace tabulon
