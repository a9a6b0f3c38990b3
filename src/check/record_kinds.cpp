#include "check/record_kinds.h"

#include <algorithm>
#include <array>
#include <map>

#include "base/cp932.h"
#include "check/draft_layout.h"

namespace tabulon::check {
namespace {

using draft::ByteClass;

// The kind of byte a column holds in one record; padding and the bytes past
// a record's end are one family.
enum Family : unsigned char {
  kPadFamily,
  kDigitFamily,
  kLetterFamily,
  kWideFamily,
  kKanaFamily,
  kPunctFamily,
  kOtherFamily,
  kFamilies
};

constexpr Family FamilyOf(ByteClass c) {
  switch (c) {
    case draft::kBlank:
    case draft::kWideBlank:
      return kPadFamily;
    case draft::kDigit:
      return kDigitFamily;
    case draft::kLetter:
      return kLetterFamily;
    case draft::kLead:
    case draft::kTrail:
      return kWideFamily;
    case draft::kKana:
      return kKanaFamily;
    case draft::kPunct:
      return kPunctFamily;
    default:
      return kOtherFamily;
  }
}

// A column is one family in a group when this share of its records agree;
// a length is a group's own at this share (the body's at kBodyLength).
constexpr double kStrong = 0.9;
constexpr double kBodyLength = 0.99;
// Groups differ in at least this many columns, and this share of them.
constexpr std::size_t kFewestColumns = 3;
constexpr std::size_t kColumnShare = 20;  // one column in 20
// A lone first or last record needs a body of at least this many records.
constexpr std::size_t kFewestBody = 3;

// The families of the first `columns` bytes of every record, one record
// after another (a record's own bytes only: the rest is padding).
struct Families {
  std::size_t Columns = 0;
  std::vector<Family> Bytes;
  std::vector<std::size_t> Begin;  // per record, and one past the last
  std::size_t Size(std::size_t i) const { return Begin[i + 1] - Begin[i]; }
  Family At(std::size_t i, std::size_t c) const {
    return c < Size(i) ? Bytes[Begin[i] + c] : kPadFamily;
  }
};

Families ReadFamilies(const std::vector<std::string_view>& records, std::size_t columns) {
  Families f;
  f.Columns = columns;
  f.Begin.reserve(records.size() + 1);
  std::vector<ByteClass> classes(columns);
  for (std::string_view r : records) {
    f.Begin.push_back(f.Bytes.size());
    std::string_view head = r.substr(0, columns);
    draft::ClassifyRecord(head, classes.data());
    for (std::size_t c = 0; c < head.size(); ++c) f.Bytes.push_back(FamilyOf(classes[c]));
  }
  f.Begin.push_back(f.Bytes.size());
  return f;
}

// Family counts per column, and the count per length, over a group.
struct Profile {
  std::uint64_t Records = 0;
  std::vector<std::array<std::uint32_t, kFamilies>> Columns;
  std::map<std::size_t, std::uint64_t> Lengths;
  explicit Profile(std::size_t columns) : Columns(columns) {}
  void Add(const Families& f, std::size_t i, std::size_t length) {
    ++Records;
    ++Lengths[length];
    for (std::size_t c = 0; c < Columns.size(); ++c) ++Columns[c][f.At(i, c)];
  }
  // The family nearly every record has in column c, or kFamilies.
  Family Strong(std::size_t c) const {
    const auto& counts = Columns[c];
    const auto top = std::max_element(counts.begin(), counts.end());
    if (static_cast<double>(*top) < kStrong * static_cast<double>(Records)) return kFamilies;
    return static_cast<Family>(top - counts.begin());
  }
  // The length at least `share` of the records have, or 0.
  std::size_t OwnLength(double share) const {
    for (const auto& [length, count] : Lengths) {
      if (static_cast<double>(count) >= share * static_cast<double>(Records)) return length;
    }
    return 0;
  }
};

// The columns outside the key where both groups are strong in another family.
std::size_t DifferingColumns(const Profile& a, const Profile& b, std::size_t key_begin,
                             std::size_t key_end) {
  std::size_t differ = 0;
  for (std::size_t c = 0; c < a.Columns.size(); ++c) {
    if (c >= key_begin && c < key_end) continue;
    const Family fa = a.Strong(c);
    const Family fb = b.Strong(c);
    if (fa != kFamilies && fb != kFamilies && fa != fb) ++differ;
  }
  return differ;
}

// How far the body's own records stray from it: the number of strong
// columns that `per_hundred` in 100 of them leave at most. A group of many
// records is set against 99 in 100; a lone record against them all, since
// one in a hundred of the body's own would stray further by chance.
std::size_t BodyStray(const Families& f, const std::vector<std::size_t>& body, const Profile& p,
                      std::uint64_t per_hundred) {
  std::vector<Family> strong(f.Columns);
  for (std::size_t c = 0; c < f.Columns; ++c) strong[c] = p.Strong(c);
  std::vector<std::uint64_t> histogram(f.Columns + 1, 0);
  for (std::size_t i : body) {
    std::size_t stray = 0;
    for (std::size_t c = 0; c < f.Columns; ++c) {
      if (strong[c] != kFamilies && f.At(i, c) != strong[c]) ++stray;
    }
    ++histogram[stray];
  }
  std::uint64_t seen = 0;
  for (std::size_t d = 0; d < histogram.size(); ++d) {
    seen += histogram[d];
    if (seen * 100 >= body.size() * per_hundred) return d;
  }
  return f.Columns;
}

struct Comparison {
  std::size_t KeyBegin = 0;
  std::size_t KeyEnd = 0;
  std::size_t Threshold = kFewestColumns;  // columns that make groups differ
  std::size_t Stray = 0;                   // of the body's own records
};

// A group of another layout than the body: a length of its own where the
// body has one, or more differing columns than the threshold and than the
// body's own records show.
bool Differs(const Profile& group, const Profile& body, const Comparison& how) {
  const std::size_t own = group.OwnLength(kStrong);
  const std::size_t body_own = body.OwnLength(kBodyLength);
  if (own != 0 && body_own != 0 && own != body_own) return true;
  const std::size_t differ = DifferingColumns(group, body, how.KeyBegin, how.KeyEnd);
  return differ >= how.Threshold && differ > how.Stray;
}

std::size_t ThresholdFor(const std::vector<std::string_view>& records, std::size_t columns) {
  std::map<std::size_t, std::size_t> lengths;
  for (std::string_view r : records) ++lengths[r.size()];
  std::size_t common = 0;
  std::size_t most = 0;
  for (const auto& [length, count] : lengths) {
    if (count > most) std::tie(common, most) = std::tie(length, count);
  }
  return std::max(kFewestColumns, std::min(common, columns) / kColumnShare);
}

// One candidate key: its values so far.
struct Candidate {
  std::size_t Position = 0;
  std::size_t Size = 1;
  bool Dead = false;
  std::vector<std::pair<std::string, std::uint64_t>> Values;
};

constexpr bool IsBlankByte(char b) {
  return b == ' ';
}

// The key bytes of a record at a candidate, or false when that position
// holds padding or does not start and end on characters there (`starts`:
// which of the first bytes start a character).
bool KeyBytes(std::string_view r, const ByteClass* k, const bool* starts, const Candidate& c,
              std::string& value) {
  value.assign(c.Size, ' ');
  for (std::size_t i = 0; i < c.Size; ++i) {
    const std::size_t at = c.Position + i;
    if (at < r.size()) value[i] = r[at];
  }
  if (std::any_of(value.begin(), value.end(), IsBlankByte)) return false;
  const std::size_t end = c.Position + c.Size;
  if (c.Position < r.size() && (!starts[c.Position] || k[c.Position] == draft::kWideBlank))
    return false;
  return end >= r.size() || starts[end];
}

std::vector<Candidate> CountKeyValues(const std::vector<std::string_view>& records) {
  std::vector<Candidate> candidates;
  for (std::size_t p = 0; p < kKeyPositions; ++p) {
    for (std::size_t size = 1; size <= 2; ++size) {
      Candidate c;
      c.Position = p;
      c.Size = size;
      candidates.push_back(std::move(c));
    }
  }
  std::array<ByteClass, kKeyPositions + 2> classes{};
  std::array<bool, kKeyPositions + 2> starts{};
  std::string value;
  for (std::string_view r : records) {
    std::string_view head = r.substr(0, classes.size());
    classes.fill(draft::kBlank);
    draft::ClassifyRecord(head, classes.data());
    starts.fill(true);
    for (std::size_t c = 0; c < head.size(); c += CharLength(r, c)) {
      if (CharLength(r, c) == 2 && c + 1 < starts.size()) starts[c + 1] = false;
    }
    for (Candidate& c : candidates) {
      if (c.Dead) continue;
      if (!KeyBytes(r, classes.data(), starts.data(), c, value)) {
        c.Dead = true;
        continue;
      }
      auto found = std::find_if(c.Values.begin(), c.Values.end(),
                                [&](const auto& v) { return v.first == value; });
      if (found != c.Values.end()) {
        ++found->second;
      } else if (c.Values.size() == kMaxKinds) {
        c.Dead = true;
      } else {
        c.Values.emplace_back(value, 1);
      }
    }
  }
  return candidates;
}

// The groups of a key, the largest first, when each differs from the largest.
bool KeySplits(const std::vector<std::string_view>& records, const Families& f, const Candidate& c,
               Comparison how) {
  const std::size_t n = c.Values.size();
  std::vector<Profile> groups(n, Profile(f.Columns));
  std::vector<std::vector<std::size_t>> members(n);
  for (std::size_t i = 0; i < records.size(); ++i) {
    for (std::size_t g = 0; g < n; ++g) {
      if (!HasKey(records[i], c.Position, c.Values[g].first)) continue;
      groups[g].Add(f, i, records[i].size());
      members[g].push_back(i);
      break;
    }
  }
  how.KeyBegin = c.Position;
  how.KeyEnd = c.Position + c.Size;
  how.Stray = BodyStray(f, members[0], groups[0], 99);
  for (std::size_t g = 1; g < n; ++g) {
    if (!Differs(groups[g], groups[0], how)) return false;
  }
  return true;
}

RecordKinds FindKeyedKinds(const std::vector<std::string_view>& records, const Families& f,
                           const Comparison& how) {
  RecordKinds kinds;
  std::vector<Candidate> candidates = CountKeyValues(records);
  std::size_t values_at_one = 0;  // the values the one-byte key at a position has
  for (Candidate& c : candidates) {
    if (c.Size == 1) values_at_one = c.Dead ? 0 : c.Values.size();
    if (c.Dead || c.Values.size() < 2) continue;
    // A two-byte key that splits no further than its first byte did.
    if (c.Size == 2 && c.Values.size() == values_at_one) continue;
    std::stable_sort(c.Values.begin(), c.Values.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (c.Values.front().second < kFewestBody) continue;  // no body to differ from
    if (!KeySplits(records, f, c, how)) continue;
    kinds.KeyPosition = c.Position;
    kinds.KeySize = c.Size;
    for (auto& [value, count] : c.Values) kinds.Kinds.push_back({KindPlace::Keyed, value, count});
    return kinds;
  }
  return kinds;
}

// A lone first and a lone last record of other layouts than the body.
RecordKinds FindLoneKinds(const std::vector<std::string_view>& records, const Families& f,
                          bool whole_file, const Comparison& how) {
  RecordKinds kinds;
  const std::size_t n = records.size();
  const std::size_t body_end = whole_file ? n - 1 : n;
  if (body_end < kFewestBody + 1) return kinds;
  Profile body(f.Columns);
  std::vector<std::size_t> members;
  for (std::size_t i = 1; i < body_end; ++i) {
    body.Add(f, i, records[i].size());
    members.push_back(i);
  }
  Comparison lone = how;
  lone.Stray = BodyStray(f, members, body, 100);
  auto differs = [&](std::size_t i) {
    Profile one(f.Columns);
    one.Add(f, i, records[i].size());
    return Differs(one, body, lone);
  };
  const bool first = differs(0);
  const bool last = whole_file && differs(n - 1);
  if (!first && !last) return kinds;
  // The first and last records not of their own kind are the body's.
  const std::uint64_t others = (first ? 0u : 1u) + (whole_file && !last ? 1u : 0u);
  kinds.Kinds.push_back({KindPlace::Body, {}, body.Records + others});
  if (first) kinds.Kinds.push_back({KindPlace::First, {}, 1});
  if (last) kinds.Kinds.push_back({KindPlace::Last, {}, 1});
  return kinds;
}

// Keyed kinds whose others are only the first record and the last: a
// header and a trailer around the body, told by their place (the key may be
// no more than the first byte of the body's first field).
void KeyedToLone(const std::vector<std::string_view>& records, bool whole_file,
                 RecordKinds& kinds) {
  const std::size_t n = records.size();
  bool first = false;
  bool last = false;
  for (std::size_t k = 1; k < kinds.Kinds.size(); ++k) {
    // The first record, the last, or both (a header and a trailer whose
    // bytes agree at the key).
    const std::string& value = kinds.Kinds[k].Value;
    const bool at_first = HasKey(records[0], kinds.KeyPosition, value);
    const bool at_last = whole_file && HasKey(records[n - 1], kinds.KeyPosition, value);
    if (kinds.Kinds[k].Count != std::uint64_t{at_first} + std::uint64_t{at_last}) return;
    first = first || at_first;
    last = last || at_last;
  }
  RecordKinds lone;
  lone.Kinds.push_back({KindPlace::Body, {}, kinds.Kinds[0].Count});
  if (first) lone.Kinds.push_back({KindPlace::First, {}, 1});
  if (last) lone.Kinds.push_back({KindPlace::Last, {}, 1});
  kinds = std::move(lone);
}

}  // namespace

bool HasKey(std::string_view record, std::size_t position, std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::size_t at = position + i;
    const char b = at < record.size() ? record[at] : ' ';
    if (b != value[i]) return false;
  }
  return true;
}

const Text* ParseKindOption(std::string_view argument, KindKey& key) {
  constexpr std::size_t kLastPosition = 65536;
  const std::size_t colon = argument.find(':');
  if (colon == std::string_view::npos) return &messages::kKindNoColon;
  std::string_view position = argument.substr(0, colon);
  std::size_t value = 0;
  for (char d : position) {
    if (d < '0' || d > '9' || value > kLastPosition) return &messages::kKindBadPosition;
    value = value * 10 + static_cast<std::size_t>(d - '0');
  }
  if (position.empty() || value == 0 || value > kLastPosition) return &messages::kKindBadPosition;
  std::string_view bytes = argument.substr(colon + 1);
  if (bytes.empty() || bytes.size() > 2) return &messages::kKindBadValue;
  key.Position = value - 1;
  key.Value = bytes;
  return nullptr;
}

std::size_t RecordKinds::KindOf(std::string_view record, std::uint64_t line,
                                std::uint64_t last_line) const {
  if (KeySize != 0) {
    for (std::size_t k = 0; k < Kinds.size(); ++k) {
      if (HasKey(record, KeyPosition, Kinds[k].Value)) return k;
    }
    return kNoKind;
  }
  for (std::size_t k = 0; k < Kinds.size(); ++k) {
    if (Kinds[k].Place == KindPlace::First && line == 1) return k;
    if (Kinds[k].Place == KindPlace::Last && line == last_line) return k;
  }
  return Kinds.empty() ? kNoKind : 0;
}

RecordKinds FindKinds(const std::vector<std::string_view>& records, bool whole_file) {
  if (records.size() < 2) return {};
  std::size_t longest = 0;
  for (std::string_view r : records) longest = std::max(longest, r.size());
  const std::size_t columns = std::min(longest, kProfileColumns);
  if (columns == 0) return {};
  const Families f = ReadFamilies(records, columns);
  Comparison how;
  how.Threshold = ThresholdFor(records, columns);
  RecordKinds kinds = FindKeyedKinds(records, f, how);
  if (kinds.Found()) KeyedToLone(records, whole_file, kinds);
  // A lone first or last record that shares the body's key is found by
  // its place alone.
  if (kinds.KeySize == 0) {
    RecordKinds lone = FindLoneKinds(records, f, whole_file, how);
    if (lone.Kinds.size() > kinds.Kinds.size()) kinds = std::move(lone);
  }
  return kinds;
}

void LineRanges::Add(std::uint64_t line) {
  const bool follows = LastLine != 0 && line == LastLine + 1;
  LastLine = line;
  if (follows && MoreRanges == 0) {
    Shown.back().second = line;
  } else if (!follows) {
    if (Shown.size() < kShownRanges) {
      Shown.emplace_back(line, line);
    } else {
      ++MoreRanges;
    }
  }
}

std::string LinesText(const LineRanges& lines, TextForm form) {
  std::string out;
  for (const auto& [first, last] : lines.Shown) {
    if (!out.empty()) out += ", ";
    out += std::to_string(first);
    if (last != first) out += '-' + std::to_string(last);
  }
  out += In(messages::kImportLineTail, form);  // "行目", shared with the importers
  if (lines.MoreRanges != 0) {
    out += In(messages::kKindMore, form);
    out += std::to_string(lines.MoreRanges);
    out += In(messages::kKindPlaces, form);
  }
  return out;
}

std::string KindName(const RecordKind& kind, TextForm form) {
  switch (kind.Place) {
    case KindPlace::Body:
      return std::string(In(messages::kKindBody, form));
    case KindPlace::First:
      return std::string(In(messages::kKindFirst, form));
    case KindPlace::Last:
      return std::string(In(messages::kKindLast, form));
    case KindPlace::Keyed:
      break;
  }
  std::string out(In(messages::kKindOpen, form));
  if (form == TextForm::Utf8) {
    AppendUtf8Form(kind.Value, out);
  } else {
    out += kind.Value;
  }
  out += In(messages::kKindClose, form);
  return out;
}

}  // namespace tabulon::check
