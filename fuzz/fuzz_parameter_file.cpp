// Fuzz target: the parameter file loader on arbitrary bytes.
//
// Checks the table's shape (one slot per line, the field count, zeroed slots
// past it), that every diagnostic is one of the four texts with a valid line
// number, that the diagnostic is the one of the last faulty line, and that
// every width is read exactly as an independent reading of the width rules
// says.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "base/messages.h"
#include "fuzz_support.h"
#include "params/parameter_file.h"
#include "support/owned_forms.h"

namespace tabulon {
namespace {

// "項目定義が足りません(", "項目1が定義されていません(", "項目2が定義されていません(",
// "項目定義が多すぎます(" and "行目)".
constexpr std::string_view kTooFew = messages::kTooFewItems.Cp932;
constexpr std::string_view kItem1 = messages::kItem1Missing.Cp932;
constexpr std::string_view kItem2 = messages::kItem2Missing.Cp932;
constexpr std::string_view kTooMany = messages::kTooManyItems.Cp932;
constexpr std::string_view kSuffix = messages::kLineNumberTail.Cp932;

// The lines of the file: up to the first NUL; CR LF, CR or LF ends a line.
std::vector<std::string> ModelLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  std::size_t end = text.size();
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\0') {
      end = k;
      break;
    }
  }
  while (i < end) {
    std::string line;
    while (i < end && text[i] != '\r' && text[i] != '\n') line += text[i++];
    if (i < end && text[i] == '\r') ++i;
    if (i < end && text[i] == '\n') ++i;
    lines.push_back(line);
  }
  return lines;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The width rules read independently: blanks, one sign, then hexadecimal
// ($, x, X, 0x, 0X) up to 32 bits, or decimal within the signed 32-bit range.
std::optional<std::int32_t> ModelWidth(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  std::string_view rest = s.substr(i);
  bool hex = false;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    hex = true;
    rest.remove_prefix(1);
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    hex = true;
    rest.remove_prefix(2);
  }
  if (rest.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : rest) {
    int digit = hex ? HexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (hex) {
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
  }
  if (negative) {
    if (value > 0x80000000ull) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(0u - value));
  }
  if (value > 0x7FFFFFFFull) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string ExpectedDiagnostic(std::string_view before, std::size_t line_number) {
  return std::string(before) + std::to_string(line_number) + std::string(kSuffix);
}

void CheckLoad(std::string_view text) {
  std::vector<std::string> lines = ModelLines(text);
  FUZZ_CHECK(SplitLines(text).size() == lines.size());

  // What loading must give, line by line, from the items of each line.
  std::string expected_error;
  std::optional<std::string> bad_width;  // the first width that is not an integer
  std::size_t fields = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> items = SplitItems(line);
    if (!bad_width) {
      if (items.size() < 2) {
        expected_error = ExpectedDiagnostic(kTooFew, n + 1);
      } else if (items.size() > 4) {
        expected_error = ExpectedDiagnostic(kTooMany, n + 1);
      } else {
        if (items[0].empty()) expected_error = ExpectedDiagnostic(kItem1, n + 1);
        if (items[1].empty()) {
          expected_error = ExpectedDiagnostic(kItem2, n + 1);
        } else {
          std::optional<std::int32_t> width = ModelWidth(items[1]);
          std::int32_t parsed = 0;
          bool raised = false;
          try {
            parsed = ParseWidth(items[1]);
          } catch (const EConvertError&) {
            raised = true;
          }
          FUZZ_CHECK(raised == !width.has_value());
          if (width) FUZZ_CHECK(parsed == *width);
          if (!width) bad_width = items[1];
        }
      }
    }
    ++fields;
  }

  FieldTable table;
  std::string error;
  bool raised = false;
  try {
    error = LoadParameterText(text, table);
  } catch (const EConvertError& e) {
    raised = true;
    FUZZ_CHECK(bad_width.has_value());
    // "'%s' は整数ではありません"
    FUZZ_CHECK(e.Message() == std::string(messages::kNotAnIntegerHead.Cp932) + *bad_width +
                                  std::string(messages::kNotAnIntegerTail.Cp932));
  }
  FUZZ_CHECK(raised == bad_width.has_value());

  // The table's shape holds whether or not loading stopped early.
  std::size_t slots = table.TypeCodes.size();
  FUZZ_CHECK(slots == lines.size());
  FUZZ_CHECK(table.Widths.size() == slots);
  FUZZ_CHECK(table.TrimCodes.size() == slots);
  FUZZ_CHECK(table.HeaderNames.size() == slots);
  FUZZ_CHECK(table.FieldCount >= 0);
  FUZZ_CHECK(static_cast<std::size_t>(table.FieldCount) <= slots);
  for (std::size_t i = static_cast<std::size_t>(table.FieldCount); i < slots && !raised; ++i) {
    FUZZ_CHECK(table.TypeCodes[i] == 0);
    FUZZ_CHECK(table.Widths[i] == 0);
    FUZZ_CHECK(table.TrimCodes[i] == 0);
    FUZZ_CHECK(table.HeaderNames[i].empty());
  }
  if (raised) {
    FUZZ_CHECK(table.FieldCount == 0);
    return;
  }
  FUZZ_CHECK(static_cast<std::size_t>(table.FieldCount) == fields);
  FUZZ_CHECK(error == expected_error);
  if (!error.empty()) {
    // One of the four texts, a line number without sign or leading zero, the suffix.
    bool known = false;
    for (std::string_view before : {kTooFew, kItem1, kItem2, kTooMany}) {
      if (error.compare(0, before.size(), before) != 0) continue;
      std::string_view rest = std::string_view(error).substr(before.size());
      FUZZ_CHECK(rest.size() > kSuffix.size());
      FUZZ_CHECK(rest.substr(rest.size() - kSuffix.size()) == kSuffix);
      std::string_view digits = rest.substr(0, rest.size() - kSuffix.size());
      FUZZ_CHECK(digits[0] != '0');
      for (char c : digits) FUZZ_CHECK(c >= '0' && c <= '9');
      FUZZ_CHECK(digits.size() <= 20 && std::stoull(std::string(digits)) <= lines.size());
      known = true;
      break;
    }
    FUZZ_CHECK(known);
  }
  // Every field line's slot: trim code blank or a folded byte; codes folded.
  std::size_t field = 0;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> items = SplitItems(line);
    if (items.size() >= 2 && items.size() <= 4) {
      FUZZ_CHECK((table.TypeCodes[field] & 0x20) == 0);
      FUZZ_CHECK(table.TrimCodes[field] == ' ' || (table.TrimCodes[field] & 0x20) == 0);
      FUZZ_CHECK(items.size() == 4 || table.HeaderNames[field].empty());
    } else {
      FUZZ_CHECK(table.TypeCodes[field] == 0 && table.Widths[field] == 0);
      FUZZ_CHECK(table.TrimCodes[field] == 0 && table.HeaderNames[field].empty());
    }
    ++field;
  }
}

}  // namespace
}  // namespace tabulon

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tabulon::CheckLoad(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
