#include "params/parameter_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/cp932.h"
#include "base/errors.h"
#include "base/messages.h"
#include "platform/platform.h"

namespace tabulon {
namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';

std::size_t SkipSeparators(std::string_view s, std::size_t i) {
  while (i < s.size() && IsSeparatorByte(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// A quoted item from the opening quote at `i`; returns the position after it.
// Each pair of quotes inside stands for one quote.
std::size_t TakeQuotedItem(std::string_view s, std::size_t i, std::string& item) {
  item.clear();
  std::size_t run = ++i;  // start of the bytes not yet copied
  while (i < s.size()) {
    if (s[i] != kQuote) {
      i += CharLength(s, i);
      continue;
    }
    item.append(s.substr(run, i - run));
    if (i + 1 < s.size() && s[i + 1] == kQuote) {
      item += kQuote;
      i += 2;
      run = i;
      continue;
    }
    return i + 1;  // past the closing quote
  }
  item.append(s.substr(run, i - run));
  return i;  // no closing quote: the item runs to the end of the line
}

std::size_t TakePlainItem(std::string_view s, std::size_t i, std::string& item) {
  std::size_t start = i;
  while (i < s.size() && s[i] != kComma && !IsSeparatorByte(static_cast<unsigned char>(s[i]))) {
    i += CharLength(s, i);
  }
  item.assign(s.substr(start, i - start));
  return i;
}

// A diagnostic: its text, the line number, and the text after the number.
std::string Diagnostic(const Text& before, std::size_t line_number, TextForm form) {
  std::string text(In(before, form));
  text += std::to_string(line_number);
  text += In(messages::kLineNumberTail, form);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The digits of `s` from `i` to its end as an unsigned value no larger than
// `limit`; false when there is no digit, a byte is not a digit, or the value
// exceeds the limit.
bool ParseDigits(std::string_view s, std::size_t i, unsigned base, std::uint64_t limit,
                 std::uint64_t& value) {
  if (i >= s.size()) return false;
  value = 0;
  for (; i < s.size(); ++i) {
    int digit = base == 16 ? HexDigit(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (digit < 0) return false;
    value = value * base + static_cast<unsigned>(digit);
    if (value > limit) return false;
  }
  return true;
}

bool TryParseWidth(std::string_view s, std::int32_t& width) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint64_t value = 0;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    if (!ParseDigits(s, i + 1, 16, 0xFFFFFFFFULL, value)) return false;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    if (!ParseDigits(s, i + 2, 16, 0xFFFFFFFFULL, value)) return false;
  } else {
    if (!ParseDigits(s, i, 10, negative ? 0x80000000ULL : 0x7FFFFFFFULL, value)) return false;
  }
  // Hexadecimal digits are a 32-bit pattern; '-' negates in two's complement.
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  width = static_cast<std::int32_t>(bits);
  return true;
}

}  // namespace

std::string_view BeforeFirstNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  text = BeforeFirstNul(text);
  std::vector<std::string_view> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.push_back(text.substr(i, end - i));
    i = end;
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  return lines;
}

std::size_t SplitItems(std::string_view line, std::vector<std::string>& items) {
  std::size_t count = 0;
  // Each item reuses the string of the same position from earlier lines.
  auto next = [&]() -> std::string& {
    if (count == items.size()) items.emplace_back();
    return items[count++];
  };
  std::size_t i = SkipSeparators(line, 0);
  while (i < line.size()) {
    std::string& item = next();
    i = line[i] == kQuote ? TakeQuotedItem(line, i, item) : TakePlainItem(line, i, item);
    i = SkipSeparators(line, i);
    if (i < line.size() && line[i] == kComma) {
      if (i + 1 == line.size()) next().clear();  // a comma as the last byte
      i = SkipSeparators(line, i + 1);
    }
  }
  return count;
}

std::int32_t ParseWidth(std::string_view item) {
  std::int32_t width = 0;
  if (!TryParseWidth(item, width)) RaiseConvertError(item);
  return width;
}

std::string LoadParameterText(std::string_view text, FieldTable& table, TextForm form) {
  std::string error_text;
  std::vector<std::string_view> lines = SplitLines(text);
  table.TypeCodes.assign(lines.size(), 0);
  table.Widths.assign(lines.size(), 0);
  table.TrimCodes.assign(lines.size(), 0);
  table.HeaderNames.assign(lines.size(), std::string());

  std::vector<std::string> items;  // reused for every line
  std::size_t field = 0;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    std::string_view line = lines[index];
    std::size_t line_number = index + 1;
    if (!line.empty() && line[0] == '#') continue;
    std::size_t count = SplitItems(line, items);
    if (count < 2) {
      error_text = Diagnostic(messages::kTooFewItems, line_number, form);
    } else if (count > 4) {
      error_text = Diagnostic(messages::kTooManyItems, line_number, form);
    } else {
      if (items[0].empty()) {
        error_text = Diagnostic(messages::kItem1Missing, line_number, form);
      } else {
        table.TypeCodes[field] = UpperCode(static_cast<unsigned char>(items[0][0]));
      }
      if (items[1].empty()) {
        error_text = Diagnostic(messages::kItem2Missing, line_number, form);
      } else {
        table.Widths[field] = ParseWidth(items[1]);
      }
      bool has_trim = count >= 3 && !items[2].empty();
      table.TrimCodes[field] = has_trim ? UpperCode(static_cast<unsigned char>(items[2][0])) : ' ';
      if (count == 4) table.HeaderNames[field] = items[3];
    }
    ++field;
  }
  table.FieldCount = static_cast<std::int32_t>(field);
  return error_text;
}

namespace {

// The parameter file as it is read, and what the table built from it would
// cost so far.
struct ParameterRead {
  std::string Text;
  std::size_t Cost = kLineCost;  // the last line, which needs no line end
  bool OverBudget = false;
};

bool TakeParameterBytes(void* reader, std::string_view bytes) {
  ParameterRead& read = *static_cast<ParameterRead*>(reader);
  std::string_view kept = BeforeFirstNul(bytes);
  std::size_t line_ends = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), '\n') +
                                                   std::count(kept.begin(), kept.end(), '\r'));
  read.Cost += 2 * kept.size() + line_ends * kLineCost;
  if (read.Cost > kParameterBudget) {
    read.OverBudget = true;
    return false;
  }
  read.Text.append(kept);
  return kept.size() == bytes.size();  // nothing after a NUL is read
}

}  // namespace

void FailAsOutOfMemory() {
  if (std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
}

std::string ReadParameterFile(std::string_view name) {
  std::string path(name);
  ParameterRead read;
  if (!platform::ReadWholeFile(path.c_str(), TakeParameterBytes, &read)) RaiseFOpenError(name);
  if (read.OverBudget) FailAsOutOfMemory();
  return std::move(read.Text);
}

std::string LoadParameterFile(std::string_view name, FieldTable& table, TextForm form) {
  return LoadParameterText(ReadParameterFile(name), table, form);
}

}  // namespace tabulon
