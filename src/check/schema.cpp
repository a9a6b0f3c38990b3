#include "check/schema.h"

#include <array>

#include "check/parameter_text.h"
#include "params/parameter_file.h"

namespace tabulon::check {
namespace {

enum Column : std::size_t { kName, kStart, kLength, kColumns };
constexpr std::array<std::string_view, kColumns> kColumnNames = {"column", "start", "length"};
constexpr std::size_t kNoCell = static_cast<std::size_t>(-1);
constexpr std::uint64_t kLargestNumber = std::uint64_t{1} << 40;

// A CSV record read from lines[at] on: quoted cells may hold commas, doubled
// quotes and line ends. Each cell goes to take(index, bytes) as soon as it is
// complete, so that a record of any length needs one cell's memory.
struct RecordRead {
  std::size_t Line = 0;   // where the record starts, from 1
  std::size_t Cells = 0;  // how many it has
  bool OpenQuote = false;
  bool Blank = false;  // an empty line
};

template <class Take>
RecordRead ReadRecord(const std::vector<std::string_view>& lines, std::size_t& at, Take&& take) {
  RecordRead read{at + 1, 0, false, lines[at].empty()};
  std::string cell;
  bool quoted = false;
  std::string_view line = lines[at];
  std::size_t i = 0;
  for (;;) {
    if (i == line.size()) {
      ++at;
      if (!quoted) break;
      if (at == lines.size()) {
        read.OpenQuote = true;
        return read;
      }
      cell += '\n';
      line = lines[at];
      i = 0;
      continue;
    }
    const char c = line[i++];
    if (quoted) {
      if (c != '"') {
        cell += c;
      } else if (i < line.size() && line[i] == '"') {
        cell += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == ',') {
      take(read.Cells++, cell);
      cell.clear();
    } else if (c == '"' && cell.empty()) {
      quoted = true;
    } else {
      cell += c;
    }
  }
  take(read.Cells++, cell);
  return read;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameWord(std::string_view cell, std::string_view word) {
  cell = TrimBlanks(cell);
  if (cell.size() != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if ((cell[i] | 0x20) != word[i]) return false;
  }
  return true;
}

bool ParseCount(std::string_view cell, std::uint64_t& value) {
  return ParseNumber(TrimBlanks(cell), kLargestNumber, value);
}

struct SchemaReader {
  SchemaReader(const std::vector<std::string_view>& lines, ReadBudget& budget)
      : Lines(lines), Budget(budget) {}

  const std::vector<std::string_view>& Lines;
  ReadBudget& Budget;
  ImportedLayout Layout;
  std::array<std::size_t, kColumns> Index{kNoCell, kNoCell, kNoCell};
  std::array<std::string, kColumns> Cells;
  std::uint64_t Base = 0;
  bool First = true;

  void Refuse(std::size_t line, const Text& reason, std::string item = {},
              std::string detail = {}) {
    Layout.Refused = Refusal{line, std::move(item), &reason, std::move(detail)};
  }

  void Field(std::uint64_t width, char trim, std::string_view name) {
    const std::size_t before = Layout.Body.size();
    AppendFieldLine(Layout.Body, 'X', width, trim, name);
    Budget.Spend(2 * (Layout.Body.size() - before) + kLineCost);
    ++Layout.FieldCount;
  }

  // One row: its cells in Cells.
  void Row(std::size_t line, std::size_t cells) {
    for (std::size_t index : Index) {
      if (index >= cells) return Refuse(line, messages::kSchemaCells);
    }
    const std::string& name = Cells[kName];
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    if (!ParseCount(Cells[kStart], start))
      return Refuse(line, messages::kSchemaBadNumber, name, Cells[kStart]);
    if (!ParseCount(Cells[kLength], length))
      return Refuse(line, messages::kSchemaBadNumber, name, Cells[kLength]);
    if (First) Base = start == 1 ? 1 : 0;
    First = false;
    if (length == 0) return Refuse(line, messages::kSchemaZeroLength, name);
    if (!IsWritableName(name)) return Refuse(line, messages::kImportBadName);
    if (start < Base || start - Base < Layout.RecordLength)
      return Refuse(line, messages::kSchemaOverlap, name);
    const std::uint64_t at = start - Base;
    if (at + length > kLongestImportedRecord) return Refuse(line, messages::kImportTooLong, name);
    if (at > Layout.RecordLength) Field(at - Layout.RecordLength, 'T', "FILLER");
    Field(length, 'T', name);
    Layout.RecordLength = at + length;
  }

  void Read() {
    std::size_t at = 0;
    bool header = true;
    while (at < Lines.size() && !Layout.Refused) {
      for (std::string& cell : Cells) cell.clear();
      RecordRead read = ReadRecord(Lines, at, [&](std::size_t i, const std::string& cell) {
        for (std::size_t c = 0; c < kColumns; ++c) {
          if (header && Index[c] == kNoCell && SameWord(cell, kColumnNames[c])) Index[c] = i;
          if (!header && Index[c] == i) Cells[c] = cell;
        }
      });
      if (read.OpenQuote) return Refuse(read.Line, messages::kImportOpenQuote);
      if (read.Blank) continue;
      if (header) {
        for (std::size_t index : Index) {
          if (index == kNoCell) return Refuse(read.Line, messages::kSchemaNoHeader);
        }
        header = false;
        continue;
      }
      Row(read.Line, read.Cells);
    }
    if (header) Refuse(0, messages::kSchemaNoHeader);
    Layout.Notes = Base == 1 ? messages::kSchemaOneBased.Cp932 : messages::kSchemaZeroBased.Cp932;
    EndLine(Layout.Notes);
  }
};

}  // namespace

ImportedLayout ReadSchema(const std::vector<std::string_view>& lines, ReadBudget& budget) {
  SchemaReader reader(lines, budget);
  reader.Read();
  return std::move(reader.Layout);
}

}  // namespace tabulon::check
