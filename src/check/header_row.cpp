#include "check/header_row.h"

#include <algorithm>
#include <cstdint>

#include "base/cp932.h"
#include "check/draft_layout.h"
#include "check/parameter_text.h"
#include "params/parameter_file.h"

namespace tabulon::check {
namespace {

using draft::ByteClass;

// A column of digits holds one in some of the body's records (those of a
// number padded on the left only in the larger numbers), and name text in
// hardly any.
constexpr double kSome = 0.1;
constexpr double kHardly = 0.03;
constexpr std::size_t kFewestBody = 3;
constexpr std::size_t kFewestNames = 2;

constexpr bool IsNameText(ByteClass c) {
  return c == draft::kLetter || c == draft::kKana || c == draft::kLead || c == draft::kTrail;
}

// The row's bytes: their classes, and where characters start.
struct RowBytes {
  explicit RowBytes(std::string_view row)
      : Row(row), Classes(row.size()), Starts(row.size() + 1, true) {
    draft::ClassifyRecord(row, Classes.data());
    for (std::size_t c = 0; c < row.size(); c += CharLength(row, c)) {
      if (CharLength(row, c) == 2) Starts[c + 1] = false;
    }
  }
  // Padding; the bytes past the row's end are blanks.
  bool Pad(std::size_t c) const { return c >= Row.size() || draft::IsPad(Classes[c]); }
  bool StartsAt(std::size_t c) const { return Starts[std::min(c, Row.size())]; }
  std::string_view Row;
  std::vector<ByteClass> Classes;
  std::vector<bool> Starts;
};

enum class Span : unsigned char {
  Empty,    // padding only
  Aligned,  // one name at the field's start or ending at its last byte
  Astray,   // content elsewhere, words far apart or cut at the field's start or end (a
            // boundary the layout lacks or misplaces), or no name text
  Broken,   // a character cut at the field's start or end, or a digit first (data)
};

// The field [a, b) of the row, and its content trimmed of padding.
Span ReadSpan(const RowBytes& r, std::size_t a, std::size_t b, std::string_view& name) {
  name = {};
  if (a == b) return Span::Empty;
  if (!r.StartsAt(a) || !r.StartsAt(b)) return Span::Broken;
  // A word running on from the field before, or on into the next.
  const bool cut = (a > 0 && !r.Pad(a - 1) && !r.Pad(a)) || (!r.Pad(b - 1) && !r.Pad(b));
  std::size_t first = a;
  while (first < b && r.Pad(first)) ++first;
  if (first == b) return Span::Empty;
  std::size_t last = b;
  while (r.Pad(last - 1)) --last;
  name = r.Row.substr(first, last - first);
  if (r.Classes[first] == draft::kDigit) return Span::Broken;
  bool text = false;
  bool far = false;  // padding longer than one blank or one full-width blank
  for (std::size_t c = first, run = 0; c < last; ++c) {
    text = text || IsNameText(r.Classes[c]);
    run = r.Pad(c) ? run + 1 : 0;
    far = far || run > 2 || (run == 2 && r.Classes[c] == draft::kBlank);
  }
  return !text || far || cut || (first != a && last != b) ? Span::Astray : Span::Aligned;
}

// A name the parameter file's reader gives back as it is: written as the
// draft writes a field line, it reads as that line's fourth item.
bool ReadsBack(std::string_view name) {
  if (!IsWritableName(name)) return false;
  std::string line;
  AppendFieldLine(line, 'X', 1, '\0', name);
  line.resize(line.size() - 2);  // CR LF
  std::vector<std::string> items;
  return SplitItems(line, items) == 4 && items[3] == name;
}

}  // namespace

bool TextOverDigits(std::string_view row, const std::vector<std::string_view>& body) {
  if (body.size() < kFewestBody) return false;
  const std::size_t columns = row.size();
  std::vector<ByteClass> classes(columns);
  draft::ClassifyRecord(row, classes.data());
  std::vector<std::uint32_t> digits(columns, 0);
  std::vector<std::uint32_t> text(columns, 0);
  std::vector<ByteClass> k(columns);
  for (std::string_view r : body) {
    r = r.substr(0, columns);
    draft::ClassifyRecord(r, k.data());
    for (std::size_t c = 0; c < r.size(); ++c) {
      digits[c] += k[c] == draft::kDigit;
      text[c] += IsNameText(k[c]);
    }
  }
  const double records = static_cast<double>(body.size());
  for (std::size_t c = 0; c < columns; ++c) {
    if (IsNameText(classes[c]) && digits[c] >= kSome * records && text[c] <= kHardly * records)
      return true;
  }
  return false;
}

bool AlignedNames(std::string_view row, const std::vector<std::size_t>& widths) {
  const RowBytes r(row);
  std::size_t aligned = 0;
  std::size_t astray = 0;
  std::size_t at = 0;
  for (std::size_t width : widths) {
    std::string_view name;
    const Span span = ReadSpan(r, at, at + width, name);
    if (span == Span::Broken) return false;
    aligned += span == Span::Aligned;
    astray += span == Span::Astray;
    at += width;
  }
  for (std::size_t c = at; c < row.size(); ++c) {
    if (!r.Pad(c)) return false;
  }
  return aligned >= kFewestNames && aligned > astray;
}

bool FirstIsNamesRow(const std::vector<std::string_view>& records) {
  if (records.size() < kFewestBody + 1) return false;
  const std::vector<std::string_view> body(records.begin() + 1, records.end());
  if (!TextOverDigits(records.front(), body)) return false;
  std::vector<std::size_t> widths;
  for (const draft::DraftField& f : draft::DraftFromSample(body).Fields) widths.push_back(f.Width);
  return AlignedNames(records.front(), widths);
}

std::vector<std::string> NamesOfRow(std::string_view row, const std::vector<std::size_t>& widths) {
  const RowBytes r(row);
  std::vector<std::string> names;
  std::size_t at = 0;
  for (std::size_t width : widths) {
    std::string_view name;
    const bool aligned = ReadSpan(r, at, at + width, name) == Span::Aligned;
    at += width;
    const bool repeated = std::find(names.begin(), names.end(), name) != names.end();
    names.emplace_back(aligned && !repeated && ReadsBack(name) ? name : std::string_view{});
  }
  return names;
}

}  // namespace tabulon::check
