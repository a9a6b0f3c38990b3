// A deliberately simple model of the conversion rules, for tests and fuzzers
// only: byte-by-byte loops over fresh strings, 1-based positions as in the
// rules' own wording, no views and no shortcuts. It is slow on purpose; its
// only job is to be obviously right, so that the real (fast) path can be
// compared against it on random input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/field_table.h"

namespace tabulon::reference {

struct Field {
  unsigned char TypeCode = 0;
  std::int32_t Width = 0;
  unsigned char TrimCode = 0;
  std::string HeaderName;
};

// `Slots` holds one entry per line of the parameter file; `FieldCount` of
// them are field lines (FieldCount <= Slots.size()).
struct Table {
  std::vector<Field> Slots;
  std::int32_t FieldCount = 0;
};

inline bool IsLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The byte at 1-based position `p`, or -1 when there is none.
inline int ByteAt(const std::string& v, std::int64_t p) {
  if (p < 1 || p > static_cast<std::int64_t>(v.size())) return -1;
  return static_cast<unsigned char>(v[static_cast<std::size_t>(p - 1)]);
}

inline std::string CopyBytes(const std::string& v, std::int32_t start, std::int32_t count) {
  std::string result;
  if (v.empty()) return result;
  std::int64_t from = start < 1 ? 1 : start;
  if (from > static_cast<std::int64_t>(v.size())) return result;
  if (count <= 0) return result;
  for (std::int64_t k = 0; k < count; ++k) {
    int b = ByteAt(v, from + k);
    if (b < 0) break;
    result += static_cast<char>(b);
  }
  return result;
}

inline std::string TrimLeftBlanks(const std::string& v) {
  std::int64_t n = static_cast<std::int64_t>(v.size());
  std::int64_t p = 1;
  while (p != n) {
    if (ByteAt(v, p) == 0x20) {
      p += 1;
    } else if (ByteAt(v, p) == 0x81 && ByteAt(v, p + 1) == 0x40) {
      p += 2;
    } else {
      break;
    }
  }
  std::string result;
  for (std::int64_t k = p; k <= n; ++k) result += static_cast<char>(ByteAt(v, k));
  return result;
}

// True when 1-based position `p` starts a character, walking from the start.
inline bool StartsCharacter(const std::string& v, std::int64_t p) {
  std::int64_t n = static_cast<std::int64_t>(v.size());
  std::int64_t i = 1;
  while (i < p) i += (IsLead(static_cast<unsigned char>(ByteAt(v, i))) && i + 1 <= n) ? 2 : 1;
  return i == p;
}

inline std::string TrimRightBlanks(const std::string& v) {
  std::int64_t q = static_cast<std::int64_t>(v.size());
  while (q > 1) {
    if (ByteAt(v, q) == 0x20) {
      q -= 1;
    } else if (ByteAt(v, q - 1) == 0x81 && ByteAt(v, q) == 0x40 && StartsCharacter(v, q - 1)) {
      q -= 2;
    } else {
      break;
    }
  }
  std::string result;
  for (std::int64_t k = 1; k <= q; ++k) result += static_cast<char>(ByteAt(v, k));
  return result;
}

inline std::string StripLeadingLow(const std::string& v) {
  std::size_t p = 0;
  while (p < v.size() && static_cast<unsigned char>(v[p]) <= 0x30) ++p;
  std::string result;
  for (; p < v.size(); ++p) result += v[p];
  return result;
}

inline std::string ApplyTrim(const std::string& v, unsigned char code) {
  if (code == 'L') return TrimLeftBlanks(v);
  if (code == 'R') return TrimRightBlanks(v);
  if (code == 'T') return TrimRightBlanks(TrimLeftBlanks(v));
  if (code == 'Z') return StripLeadingLow(TrimLeftBlanks(v));
  return v;
}

inline std::string QuoteField(const std::string& v) {
  std::string result = "\"";
  for (char c : v) {
    result += c;
    if (c == '"') result += c;
  }
  result += '"';
  return result;
}

inline bool HasComma(const std::string& v) {
  for (char c : v) {
    if (c == ',') return true;
  }
  return false;
}

inline std::string FieldText(const std::string& cut, const Field& field, bool comma_mode) {
  std::string trimmed = ApplyTrim(cut, field.TrimCode);
  if (field.TypeCode == 'E') {
    if (comma_mode && HasComma(cut)) return QuoteField(trimmed);
    std::string text = "=";
    text += QuoteField(trimmed);
    return text;
  }
  if (field.TypeCode == 'X') return QuoteField(trimmed);
  return trimmed;
}

// Slot i, or a zeroed slot when the table has none there.
inline Field SlotOf(const Table& table, std::int64_t i) {
  if (i < static_cast<std::int64_t>(table.Slots.size())) {
    return table.Slots[static_cast<std::size_t>(i)];
  }
  return Field{};
}

// The model of a FieldTable.
inline Table ModelOf(const FieldTable& table) {
  Table model;
  for (std::size_t i = 0; i < table.SlotCount(); ++i) {
    model.Slots.push_back(
        {table.TypeCodes[i], table.Widths[i], table.TrimCodes[i], table.HeaderNames[i]});
  }
  model.FieldCount = table.FieldCount;
  return model;
}

// The output line of one record (without its line end). Field 0 is always
// produced; the start position is a 32-bit integer that wraps.
inline std::string ConvertRecord(const std::string& record, const Table& table, char separator) {
  bool comma_mode = separator == ',';
  Field first = SlotOf(table, 0);
  std::string line = FieldText(CopyBytes(record, 1, first.Width), first, comma_mode);
  std::int32_t start = static_cast<std::int32_t>(static_cast<std::uint32_t>(first.Width) + 1u);
  for (std::int64_t i = 1; i < table.FieldCount; ++i) {
    Field field = SlotOf(table, i);
    line += separator;
    line += FieldText(CopyBytes(record, start, field.Width), field, comma_mode);
    start = static_cast<std::int32_t>(static_cast<std::uint32_t>(start) +
                                      static_cast<std::uint32_t>(field.Width));
  }
  return line;
}

inline std::string HeaderLine(const Table& table, char separator) {
  std::string line = QuoteField(SlotOf(table, 0).HeaderName);
  for (std::int64_t i = 1; i < table.FieldCount; ++i) {
    line += separator;
    line += QuoteField(SlotOf(table, i).HeaderName);
  }
  return line;
}

// The lines of a text file: LF or CR LF ends a line, any other CR is dropped,
// Ctrl-Z ends the data, and a last line without a line end still counts (so
// does a lone CR after the last line end: it starts a line of its own).
inline std::vector<std::string> TextLines(const std::string& data) {
  std::vector<std::string> lines;
  std::string line;
  bool in_line = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char b = data[i];
    if (b == 0x1A) break;
    in_line = true;
    if (b == '\n') {
      lines.push_back(line);
      line.clear();
      in_line = false;
    } else if (b == '\r') {
      if (i + 1 < data.size() && data[i + 1] == '\n') {
        lines.push_back(line);
        line.clear();
        in_line = false;
        ++i;
      }
    } else {
      line += b;
    }
  }
  if (in_line) lines.push_back(line);
  return lines;
}

// The whole output file for `text`.
inline std::string ConvertText(const std::string& text, const Table& table, char separator,
                               bool header) {
  std::string out;
  if (header) out += HeaderLine(table, separator) + "\r\n";
  for (const std::string& record : TextLines(text)) {
    out += ConvertRecord(record, table, separator) + "\r\n";
  }
  return out;
}

}  // namespace tabulon::reference
