#include "convert/transforms.h"

namespace tabulon {

std::string_view CopyBytes(std::string_view value, std::int32_t start, std::int32_t count) {
  if (value.empty()) return {};
  std::int64_t from = start < 1 ? 1 : start;
  if (from > static_cast<std::int64_t>(value.size()) || count <= 0) return {};
  std::size_t offset = static_cast<std::size_t>(from - 1);
  return value.substr(offset, static_cast<std::size_t>(count));
}

std::string_view TrimByKind(std::string_view value, TrimKind kind) {
  const ReadWindow window = WindowOf(value);
  switch (kind) {
    case TrimKind::None:
    case TrimKind::Count:
      return TrimAs<TrimKind::None>(value, window);
    case TrimKind::Left:
      return TrimAs<TrimKind::Left>(value, window);
    case TrimKind::Right:
      return TrimAs<TrimKind::Right>(value, window);
    case TrimKind::Both:
      return TrimAs<TrimKind::Both>(value, window);
    case TrimKind::LeftLow:
      return TrimAs<TrimKind::LeftLow>(value, window);
  }
  return value;
}

std::string_view TrimByCode(std::string_view value, unsigned char trim_code) {
  return TrimByKind(value, TrimKindOf(trim_code));
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
