// The converter's value operations in their plain forms, for the tests and
// the benchmarks: a trim chosen by code or by table slot, and quoting into a
// string of its own. The converter itself picks the trim from its plan
// (TrimByKind, TrimAs) and quotes straight into the output (AppendQuoted).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "convert/field_plan.h"
#include "convert/transforms.h"
#include "params/field_table.h"

namespace tabulon {

// The operation that `trim_code` selects: 'L', 'R', 'T', 'Z'; any other byte
// leaves the value unchanged.
inline std::string_view TrimByCode(std::string_view value, unsigned char trim_code) {
  return TrimByKind(value, TrimKindOf(trim_code));
}

// The trim of field `index` of the table (a table without that slot trims
// nothing).
inline std::string_view ApplyTrim(const FieldTable& table, std::string_view value,
                                  std::size_t index) {
  unsigned char code = index < table.TrimCodes.size() ? table.TrimCodes[index] : 0;
  return TrimByCode(value, code);
}

// The value between double quotes, every 0x22 byte doubled.
inline std::string QuoteField(std::string_view value) {
  std::string quoted;
  quoted.reserve(value.size() + 2);
  AppendQuoted(value, [&](const char* data, std::size_t size) { quoted.append(data, size); });
  return quoted;
}

}  // namespace tabulon
