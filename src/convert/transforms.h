// Field value transforms: trimming a value as its trim kind asks, and
// quoting it. Values are views; the trims only narrow them, and quoting
// appends straight to the output.
//
// Each trim rule is stated here once. The converter calls the same
// operations with a wider readable window (the whole record), which lets
// their word loads run past the value without changing the result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert/block_copy.h"
#include "convert/byte_scan.h"
#include "convert/field_plan.h"
#include "params/field_table.h"

namespace tabulon {

// Readable bytes around a value, [Begin, End): the scans may load any of
// them, and only look at the value's own.
struct ReadWindow {
  const char* Begin;
  const char* End;
};
inline ReadWindow WindowOf(std::string_view value) {
  return {value.data(), value.data() + value.size()};
}

inline std::string_view ViewOf(const char* begin, const char* end) {
  return {begin, static_cast<std::size_t>(end - begin)};
}

// Leading blanks (0x20 and the full-width pair 0x81 0x40) removed; a single
// blank in the last position is never removed.
TABULON_INLINE std::string_view TrimLeftBlanks(std::string_view value, ReadWindow window) {
  const char* end = value.data() + value.size();
  return ViewOf(scan::SkipLeadingBlanks(value.data(), end, window.End), end);
}

// Trailing blanks removed; a single blank in the first position is never
// removed. A trailing 0x81 0x40 counts as a full-width blank only where its
// 0x81 starts a character.
TABULON_INLINE std::string_view TrimRightBlanks(std::string_view value, ReadWindow window) {
  const char* end = value.data() + value.size();
  return ViewOf(value.data(), scan::SkipTrailingBlanks(value.data(), end, window.Begin));
}

TABULON_INLINE std::string_view TrimBothBlanks(std::string_view value, ReadWindow window) {
  return TrimRightBlanks(TrimLeftBlanks(value, window), window);
}

// Leading bytes of 0x30 and below removed.
TABULON_INLINE std::string_view StripLeadingLow(std::string_view value, ReadWindow window) {
  const char* end = value.data() + value.size();
  return ViewOf(scan::SkipLeadingLow(value.data(), end, window.End), end);
}

// The trim of one kind: 'Z' is the left trim and then StripLeadingLow.
template <TrimKind kTrim>
TABULON_INLINE std::string_view TrimAs(std::string_view value, ReadWindow window) {
  if constexpr (kTrim == TrimKind::None) {
    return value;
  } else if constexpr (kTrim == TrimKind::Left) {
    return TrimLeftBlanks(value, window);
  } else if constexpr (kTrim == TrimKind::Right) {
    return TrimRightBlanks(value, window);
  } else if constexpr (kTrim == TrimKind::Both) {
    return TrimBothBlanks(value, window);
  } else {
    static_assert(kTrim == TrimKind::LeftLow, "every trim kind has its rule");
    return StripLeadingLow(TrimLeftBlanks(value, window), window);
  }
}

// The same operations on the value alone.
inline std::string_view TrimLeftBlanks(std::string_view value) {
  return TrimLeftBlanks(value, WindowOf(value));
}
inline std::string_view TrimRightBlanks(std::string_view value) {
  return TrimRightBlanks(value, WindowOf(value));
}
inline std::string_view TrimBothBlanks(std::string_view value) {
  return TrimBothBlanks(value, WindowOf(value));
}
inline std::string_view StripLeadingLow(std::string_view value) {
  return StripLeadingLow(value, WindowOf(value));
}

// The trim of `kind`, chosen at run time.
std::string_view TrimByKind(std::string_view value, TrimKind kind);

// Whether a formula field's text starts with '=': always, except in comma
// mode for a cut-out value (before its trim) that holds a comma.
constexpr bool TakesFormulaMark(bool comma_mode, bool value_holds_comma) {
  return !(comma_mode && value_holds_comma);
}

// Appends the value between double quotes, every 0x22 byte doubled, through
// `append(const char*, size_t)`.
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
