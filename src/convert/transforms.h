// Field value transforms: cutting a value out of a record, trimming it as its
// trim code asks, and quoting it. Values are views; the trims only narrow
// them, and quoting appends straight to the output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "params/field_table.h"

namespace tabulon {

// The bytes of `value` from the 1-based `start`, at most `count` of them. A
// start below 1 counts as 1 (the count unchanged); a start past the end, or a
// count of zero or less, gives the empty value.
std::string_view CopyBytes(std::string_view value, std::int32_t start, std::int32_t count);

// Leading blanks (0x20 and the full-width pair 0x81 0x40) removed; a single
// blank in the last position is never removed.
std::string_view TrimLeftBlanks(std::string_view value);

// Trailing blanks removed; a single blank in the first position is never
// removed. A trailing 0x81 0x40 counts as a full-width blank only where its
// 0x81 starts a character.
std::string_view TrimRightBlanks(std::string_view value);

std::string_view TrimBothBlanks(std::string_view value);

// Leading bytes of 0x30 and below removed.
std::string_view StripLeadingLow(std::string_view value);

// The operation that `trim_code` selects: 'L', 'R', 'T', 'Z'; any other byte
// leaves the value unchanged.
std::string_view TrimByCode(std::string_view value, unsigned char trim_code);

// The trim of field `index` of the table (a table without that slot trims
// nothing).
std::string_view ApplyTrim(const FieldTable& table, std::string_view value, std::size_t index);

// The value between double quotes, every 0x22 byte doubled.
std::string QuoteField(std::string_view value);

// Appends QuoteField(value) to `out` through `append(const char*, size_t)`.
template <typename Append>
void AppendQuoted(std::string_view value, Append&& append) {
  static constexpr char kQuote = '"';
  append(&kQuote, 1);
  for (;;) {
    std::size_t quote = value.find(kQuote);
    if (quote == std::string_view::npos) break;
    append(value.data(), quote + 1);  // up to and including the quote ...
    append(&kQuote, 1);               // ... and the quote once more
    value.remove_prefix(quote + 1);
  }
  append(value.data(), value.size());
  append(&kQuote, 1);
}

}  // namespace tabulon
