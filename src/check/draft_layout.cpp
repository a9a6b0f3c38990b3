#include "check/draft_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <unordered_map>

#include "base/cp932.h"

namespace tabulon::check::draft {
namespace {

constexpr bool IsDigitByte(unsigned char b) {
  return b >= '0' && b <= '9';
}

// Digits and letters (either case) are counted by value per column.
constexpr std::size_t kAlnumValues = 36;
constexpr int AlnumValue(unsigned char b) {
  if (IsDigitByte(b)) return b - '0';
  if (b >= 'A' && b <= 'Z') return 10 + (b - 'A');
  if (b >= 'a' && b <= 'z') return 10 + (b - 'a');
  return -1;
}

// Bytes a number may hold besides digits: signs, the comma, the point.
constexpr bool IsNumberMark(unsigned char b) {
  return b == '+' || b == '-' || b == ',' || b == '.';
}

constexpr ByteClass ClassOfSingle(unsigned char b) {
  if (IsDigitByte(b)) return kDigit;
  if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) return kLetter;
  if (b == ' ') return kBlank;
  if (InRange(kHalfWidthKatakana, b)) return kKana;
  if (b > 0x20 && b < 0x7F) return kPunct;
  return kOther;
}

// The kind of character a byte belongs to, for changes between fields: the
// two bytes of a double-byte character are one kind.
enum Family : unsigned char {
  kFamilyDigit,
  kFamilyLetter,
  kFamilyWide,
  kFamilyKana,
  kFamilyPunct,
  kFamilyOther
};

constexpr Family FamilyOf(ByteClass c) {
  switch (c) {
    case kDigit:
      return kFamilyDigit;
    case kLetter:
      return kFamilyLetter;
    case kLead:
    case kTrail:
      return kFamilyWide;
    case kKana:
      return kFamilyKana;
    case kPunct:
      return kFamilyPunct;
    default:
      return kFamilyOther;
  }
}

// A change of kind that separates fields. Punctuation joins parts of one
// value (dates, postal codes, phone numbers), and codes such as AB1234 put
// digits after letters, so neither counts.
constexpr bool SeparatesFields(Family before, Family after) {
  if (before == after || before == kFamilyPunct || after == kFamilyPunct) return false;
  return !(before == kFamilyLetter && after == kFamilyDigit);
}

int TwoDigits(std::string_view s, std::size_t at) {
  return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

// A date of `size` bytes (8: YYYYMMDD, 10: YYYY/MM/DD or YYYY-MM-DD) at `at`.
bool IsDate(std::string_view r, std::size_t at, std::size_t size) {
  const bool marked = size == 10;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char b = static_cast<unsigned char>(r[at + i]);
    const bool mark_here = marked && (i == 4 || i == 7);
    if (mark_here ? (b != '/' && b != '-') : !IsDigitByte(b)) return false;
  }
  if (marked && r[at + 4] != r[at + 7]) return false;
  const int year = TwoDigits(r, at) * 100 + TwoDigits(r, at + 2);
  const std::size_t m = marked ? at + 5 : at + 4;
  const std::size_t d = marked ? at + 8 : at + 6;
  const int month = TwoDigits(r, m);
  const int day = TwoDigits(r, d);
  return year >= 1900 && year <= 2099 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool AllDigits(std::string_view r, std::size_t at, std::size_t size) {
  return std::all_of(r.begin() + static_cast<std::ptrdiff_t>(at),
                     r.begin() + static_cast<std::ptrdiff_t>(at + size),
                     [](char b) { return IsDigitByte(static_cast<unsigned char>(b)); });
}

// A time of day HH:MM:SS (`colons`) or HHMMSS at `at`.
bool IsTimeOfDay(std::string_view r, std::size_t at, bool colons) {
  const std::size_t step = colons ? 3 : 2;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!AllDigits(r, at + i * step, 2) || (colons && i < 2 && r[at + i * step + 2] != ':'))
      return false;
  }
  return TwoDigits(r, at) < 24 && TwoDigits(r, at + step) < 60 && TwoDigits(r, at + 2 * step) < 61;
}

// The forms of a date, the longest first: YYYY-MM-DD with a time of day after
// a 'T' or a blank (ISO 8601: YYYY-MM-DDTHH:MM:SS) and then an offset +HH:MM,
// milliseconds .mmm, a Z or nothing; YYYYMMDDHHMMSS; YYYY/MM/DD (or with
// '-'); YYYYMMDD.
constexpr std::size_t kDateSizes[] = {25, 23, 20, 19, 14, 10, 8};
constexpr std::size_t kDateForms = std::size(kDateSizes);

// A date of kDateSizes[form] bytes at `at`.
bool IsDateForm(std::string_view r, std::size_t at, std::size_t form) {
  const std::size_t size = kDateSizes[form];
  if (size <= 10) return IsDate(r, at, size);
  if (size == 14) return IsDate(r, at, 8) && IsTimeOfDay(r, at + 8, false);
  if (!IsDate(r, at, 10) || (r[at + 10] != 'T' && r[at + 10] != ' ') ||
      !IsTimeOfDay(r, at + 11, true))
    return false;
  const char after = r[at + 19];
  switch (size) {
    case 25:
      return (after == '+' || after == '-') && AllDigits(r, at + 20, 2) && r[at + 22] == ':' &&
             AllDigits(r, at + 23, 2);
    case 23:
      return after == '.' && AllDigits(r, at + 20, 3);
    case 20:
      return after == 'Z';
    default:
      return true;
  }
}

bool AllPad(const ByteClass* classes, std::size_t at, std::size_t size) {
  return std::all_of(classes + at, classes + at + size, IsPad);
}

// One blank (or one full-width blank) between two words of the same kind
// before `c`, as between a family name and a given name: no field starts
// after it. Digits are no words: a blank between two numbers pads one.
bool IsWordGap(const ByteClass* k, std::size_t c) {
  const std::size_t gap = k[c - 1] == kWideBlank ? 2 : 1;
  if (c < gap + 1 || IsPad(k[c - gap - 1])) return false;
  const Family before = FamilyOf(k[c - gap - 1]);
  return before == FamilyOf(k[c]) && before != kFamilyDigit;
}

// Counts per column over the records of the common length.
struct ColumnCounts {
  explicit ColumnCounts(std::size_t length)
      : Content(length),
        Starts(length),
        RunOn(length),
        Both(length),
        Changes(length),
        Digits(length),
        Zeros(length),
        Values(length),
        Dates(length),
        Hyphens(length),
        Letters(length),
        WideBlanks(length),
        Inside(length) {}
  std::vector<std::uint32_t> Content;  // not padding
  std::vector<std::uint32_t> Starts;   // content with padding (or the record's start) before it
  std::vector<std::uint32_t> RunOn;    // a digit after a digit, sign, comma or point
  std::vector<std::uint32_t> Both;     // a character starts here, with content here and before
  std::vector<std::uint32_t> Changes;  // of those, a change of kind that separates fields
  std::vector<std::uint32_t> Digits;
  std::vector<std::uint32_t> Zeros;
  std::vector<std::array<std::uint32_t, kAlnumValues>> Values;  // of digits and letters
  // Dates of each form of kDateSizes (or padding as long) from here.
  std::vector<std::array<std::uint32_t, kDateForms>> Dates;
  std::vector<std::uint32_t> Hyphens;
  std::vector<std::uint32_t> Letters;
  std::vector<std::uint32_t> WideBlanks;  // either byte of a full-width blank
  std::vector<bool> Inside;  // the second byte of a double-byte character in some record
};

// The second byte of each double-byte character (a full-width blank
// included), reading from the record's start.
void MarkSecondBytes(std::string_view record, std::vector<bool>& inside) {
  for (std::size_t c = 0; c < record.size(); c += CharLength(record, c)) {
    if (CharLength(record, c) == 2 && c + 1 < inside.size()) inside[c + 1] = true;
  }
}

void CountRecord(std::string_view r, const ByteClass* k, ColumnCounts& n) {
  const std::size_t length = r.size();
  for (std::size_t c = 0; c < length; ++c) {
    const unsigned char b = static_cast<unsigned char>(r[c]);
    if (IsPad(k[c])) {
      if (k[c] == kWideBlank) ++n.WideBlanks[c];
      continue;
    }
    ++n.Content[c];
    if (c == 0 || (IsPad(k[c - 1]) && !IsWordGap(k, c))) ++n.Starts[c];
    if (IsDigitByte(b)) {
      if (c > 0 && (k[c - 1] == kDigit || IsNumberMark(static_cast<unsigned char>(r[c - 1]))))
        ++n.RunOn[c];
      ++n.Digits[c];
      if (b == '0') ++n.Zeros[c];
    }
    if (b == '-') ++n.Hyphens[c];
    if (k[c] == kLetter) ++n.Letters[c];
    if (const int v = AlnumValue(b); v >= 0) ++n.Values[c][static_cast<std::size_t>(v)];
    // Punctuation says nothing either way (see SeparatesFields).
    if (c > 0 && k[c] != kTrail && !IsPad(k[c - 1]) && k[c] != kPunct && k[c - 1] != kPunct) {
      ++n.Both[c];
      if (SeparatesFields(FamilyOf(k[c - 1]), FamilyOf(k[c]))) ++n.Changes[c];
    }
  }
  MarkSecondBytes(r, n.Inside);
}

// Bits of information in the first `count` values of a column: about 3.3
// for digits spread evenly, near 0 for a column of leading zeros.
double Entropy(const std::array<std::uint32_t, kAlnumValues>& values,
               std::size_t count = kAlnumValues) {
  double total = 0;
  for (std::size_t i = 0; i < count; ++i) total += values[i];
  if (total == 0) return 0;
  double bits = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (values[i] != 0) bits -= values[i] / total * std::log2(values[i] / total);
  }
  return bits;
}

double DigitEntropy(const std::array<std::uint32_t, kAlnumValues>& values) {
  return Entropy(values, 10);
}

std::size_t DistinctValues(const std::array<std::uint32_t, kAlnumValues>& values) {
  return static_cast<std::size_t>(
      std::count_if(values.begin(), values.end(), [](std::uint32_t v) { return v != 0; }));
}

// Shares of the records for the rules below, chosen on generated files of
// known layout (bench/draft_score.py): "always" leaves room for a few odd
// records, "some" for padding that only a few records show.
constexpr double kAlways = 0.97;
constexpr double kMost = 0.9;
constexpr double kHalf = 0.5;
constexpr double kSome = 0.05;
constexpr double kZerosRise = 0.4;   // the rise in the share of '0' where leading zeros start
constexpr double kSpreadBits = 2.5;  // digits this spread end a number (evenly spread: 3.3)
constexpr double kDropBits = 0.5;
constexpr double kSpreadRecords = 30;  // records that show how spread a column's values are    //
                                       // less spread than this after digits starts another field

struct Thresholds {
  double Records;
  bool AtLeast(std::uint32_t count, double share) const { return count >= share * Records; }
};

// The dates (or padding as long) from each column where one may start:
// digits in at least half the records, nearly all of them the 1 or 2 of a
// year. Only those columns are read again.
void CountDates(const std::vector<std::string_view>& records, const std::vector<ByteClass>& classes,
                std::size_t length, Thresholds t, ColumnCounts& n) {
  std::vector<std::size_t> starts;
  for (std::size_t c = 0; c + 8 <= length; ++c) {
    const std::uint32_t year = n.Values[c][1] + n.Values[c][2];
    if (t.AtLeast(n.Digits[c], kHalf) && year >= kAlways * n.Digits[c]) starts.push_back(c);
  }
  for (std::size_t i = 0; i < records.size() && !starts.empty(); ++i) {
    const ByteClass* k = classes.data() + i * length;
    for (std::size_t c : starts) {
      for (std::size_t form = 0; form < kDateForms; ++form) {
        const std::size_t size = kDateSizes[form];
        if (c + size <= length && (IsDateForm(records[i], c, form) || AllPad(k, c, size)))
          ++n.Dates[c][form];
      }
    }
  }
}

// A change between two columns of digits that no number shows inside it:
// the digits of a number grow more varied from its first digit to its last,
// so a column of fewer values after one of more starts a field (a flag after
// an amount, a code's leading zeros after a flag). Letters in most records
// after a column of digits start a field of mixed letters and digits.
bool DigitsChange(const ColumnCounts& n, std::size_t p, Thresholds t) {
  // A few records show a column's values by chance.
  if (t.Records < kSpreadRecords) return false;
  // Leading zeros after a letter (a flag, or before the 0 that starts a
  // telephone number).
  if (t.AtLeast(n.Letters[p - 1], kAlways) && t.AtLeast(n.Zeros[p], kAlways)) return true;
  if (!t.AtLeast(n.Digits[p - 1], kAlways)) return false;
  if (t.AtLeast(n.Both[p], kAlways) && n.Changes[p] * 2 >= n.Both[p]) return true;
  return t.AtLeast(n.Digits[p], kAlways) &&
         DigitEntropy(n.Values[p]) + kDropBits <= DigitEntropy(n.Values[p - 1]);
}

// Flags: a column of a few values (a code of one byte) beside another column
// of digits or letters in every record. Nothing ties a flag to the column
// beside it, while the columns of one value depend on each other (words,
// padding, leading zeros) or are alike (the characters of a random code). A
// flag starts a field after a column of many values (an entropy drop), ends
// one before a letter code, or sits beside another flag, when the two columns
// are independent: their G statistic within kIndependent standard deviations
// of its mean under independence.
constexpr std::size_t kFlagValues = 4;
constexpr double kIndependent = 3;

bool AlnumColumn(const ColumnCounts& n, std::size_t c, Thresholds t) {
  return t.AtLeast(n.Digits[c] + n.Letters[c], kAlways);
}

bool Independent(const std::vector<std::string_view>& records, std::size_t p) {
  std::array<std::array<std::uint32_t, kAlnumValues>, kAlnumValues> joint{};
  std::array<std::uint32_t, kAlnumValues> before{};
  std::array<std::uint32_t, kAlnumValues> after{};
  double total = 0;
  for (std::string_view r : records) {
    const int a = AlnumValue(static_cast<unsigned char>(r[p - 1]));
    const int b = AlnumValue(static_cast<unsigned char>(r[p]));
    if (a < 0 || b < 0) continue;
    ++joint[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
    ++before[static_cast<std::size_t>(a)];
    ++after[static_cast<std::size_t>(b)];
    ++total;
  }
  double g = 0;
  for (std::size_t a = 0; a < kAlnumValues; ++a) {
    for (std::size_t b = 0; b < kAlnumValues; ++b) {
      const double o = joint[a][b];
      if (o != 0) g += 2 * o * std::log(o * total / (double(before[a]) * after[b]));
    }
  }
  auto distinct = [](const auto& v) {
    return static_cast<double>(std::count_if(v.begin(), v.end(), [](auto x) { return x != 0; }));
  };
  const double freedom = (distinct(before) - 1) * (distinct(after) - 1);
  return g <= freedom + kIndependent * std::sqrt(2 * freedom);
}

std::vector<bool> FlagBoundaries(const std::vector<std::string_view>& records,
                                 const ColumnCounts& n, std::size_t length, Thresholds t) {
  std::vector<bool> cut(length + 1, false);
  if (t.Records < kSpreadRecords) return cut;
  for (std::size_t p = 1; p < length; ++p) {
    if (!AlnumColumn(n, p - 1, t) || !AlnumColumn(n, p, t)) continue;
    const std::size_t before = DistinctValues(n.Values[p - 1]);
    const std::size_t after = DistinctValues(n.Values[p]);
    const bool letters = t.AtLeast(n.Letters[p - 1], kAlways) && t.AtLeast(n.Letters[p], kAlways);
    if (after <= kFlagValues && Entropy(n.Values[p - 1]) >= kSpreadBits &&
        Entropy(n.Values[p]) + kDropBits <= Entropy(n.Values[p - 1])) {
      cut[p] = true;
    } else if (before >= 2 && before <= kFlagValues && after >= 2 &&
               (after <= kFlagValues || letters)) {
      cut[p] = Independent(records, p);
    }
  }
  return cut;
}

// A postal code NNN-NNNN: a hyphen in every record with three digits before
// it and four after, and no other hyphen near (as a telephone number has).
void MarkPostalCodes(const ColumnCounts& n, std::size_t length, Thresholds t,
                     std::vector<bool>& cut) {
  auto digits = [&](std::size_t from, std::size_t to) {
    for (std::size_t c = from; c < to; ++c) {
      if (!t.AtLeast(n.Digits[c], kAlways)) return false;
    }
    return true;
  };
  auto hyphen = [&](std::size_t c) { return t.AtLeast(n.Hyphens[c], kAlways); };
  for (std::size_t m = 3; m + 4 < length; ++m) {
    if (!hyphen(m) || !digits(m - 3, m) || !digits(m + 1, m + 5)) continue;
    bool near = false;
    for (std::size_t c = m >= 6 ? m - 6 : 0; c < std::min(length, m + 7); ++c)
      near = near || (c != m && t.AtLeast(n.Hyphens[c], kSome));
    if (near) continue;
    cut[m - 3] = cut[m + 5] = true;
  }
}

// Boundaries that the columns show by themselves: content that always starts
// at one column after padding, a change of the kind of character in nearly
// every record, leading zeros starting again after a column of spread
// digits, and the ends of dates.
std::vector<bool> ClearBoundaries(const ColumnCounts& n, std::size_t length, Thresholds t,
                                  std::vector<bool> cut, std::vector<bool>& in_date) {
  cut[0] = cut[length] = true;
  for (std::size_t p = 1; p < length; ++p) {
    // Content that starts here after padding, unless it is the end of a
    // right-aligned number: then the digits before run on into it.
    const bool runs_on =
        t.AtLeast(n.Content[p - 1], kHalf) && n.RunOn[p] >= kMost * n.Content[p - 1];
    const bool starts = t.AtLeast(n.Content[p], kAlways) && n.Starts[p] > 0 &&
                        t.AtLeast(n.Starts[p], kSome) && !runs_on;
    const bool changes = t.AtLeast(n.Both[p], kHalf) && n.Changes[p] >= kMost * n.Both[p];
    const bool zeros = t.AtLeast(n.Digits[p - 1] + n.Letters[p - 1], kAlways) &&
                       t.AtLeast(n.Digits[p], kAlways) &&
                       n.Zeros[p] >= n.Zeros[p - 1] + kZerosRise * t.Records &&
                       Entropy(n.Values[p - 1]) >= kSpreadBits;
    cut[p] = cut[p] || starts || changes || zeros || DigitsChange(n, p, t);
  }
  MarkPostalCodes(n, length, t, cut);
  // A date is one field: its ends are boundaries, nothing inside it is.
  for (std::size_t s = 0; s < length; ++s) {
    for (std::size_t form = 0; form < kDateForms; ++form) {
      const std::size_t size = kDateSizes[form];
      if (s + size > length || !t.AtLeast(n.Dates[s][form], kAlways)) continue;
      std::fill(cut.begin() + static_cast<std::ptrdiff_t>(s) + 1,
                cut.begin() + static_cast<std::ptrdiff_t>(s + size), false);
      std::fill(in_date.begin() + static_cast<std::ptrdiff_t>(s) + 1,
                in_date.begin() + static_cast<std::ptrdiff_t>(s + size), true);
      cut[s] = cut[s + size] = true;
      s += size - 1;
      break;
    }
  }
  for (std::size_t p = 1; p < length; ++p) {
    if (n.Inside[p]) cut[p] = false;
  }
  return cut;
}

// Padding shared by a text (or a filler) and the right-aligned number after
// it: a number's field is seldom wider than its longest value, one digit more
// and a sign (unless some value shows one), so in a gap wider than kWideGap
// the number starts that room before its longest value.
constexpr std::size_t kWideGap = 3;
constexpr std::size_t NumberRoom(bool signed_values) {
  return signed_values ? 1 : 2;
}

constexpr bool IsSign(char b) {
  return b == '-' || b == '+';
}

// One record's view of a part [a, b): where a right-aligned number at its end
// starts, and where the content before that number ends.
struct RightNumber {
  bool Present = false;     // the part ends in a digit (a sign or mark may follow)
  std::size_t Start = 0;    // first byte of the number
  std::size_t LeftEnd = 0;  // after the last content byte before it (a: none)
};

RightNumber FindRightNumber(std::string_view r, const ByteClass* k, std::size_t a, std::size_t b) {
  RightNumber found;
  std::size_t i = b;
  bool digit = false;
  while (i > a && (k[i - 1] == kDigit || IsNumberMark(static_cast<unsigned char>(r[i - 1])))) {
    digit = digit || k[i - 1] == kDigit;
    --i;
  }
  if (!digit) return found;
  found.Present = true;
  found.Start = i;
  // Numbers are padded with ASCII blanks only: full-width blanks before the
  // number pad the content before it.
  while (i > a && k[i - 1] == kBlank) --i;
  found.LeftEnd = AllPad(k, a, i - a) ? a : i;
  return found;
}

// Where a part [a, b) that ends in a right-aligned number splits from the
// content before it: after the longest content before the number, when that
// never reaches into a number. Returns b when it does not split; sets
// `guessed` when the split lies in padding that both could own.
std::size_t SplitBeforeNumber(const std::vector<std::string_view>& records,
                              const std::vector<ByteClass>& classes, std::size_t length,
                              std::size_t a, std::size_t b, Thresholds t, bool& guessed) {
  std::uint32_t with_number = 0;
  std::uint32_t with_left = 0;  // content before the number
  std::uint32_t separated = 0;  // ... with padding between them
  std::size_t min_start = b;    // the first byte of a number, where padding shows it
  std::size_t left_max = a;
  std::size_t left_min = b;
  bool signed_values = false;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ByteClass* k = classes.data() + i * length;
    RightNumber n = FindRightNumber(records[i], k, a, b);
    if (!n.Present) {
      if (!AllPad(k, a, b - a)) return b;  // content of another kind at the end
      continue;
    }
    ++with_number;
    signed_values = signed_values || IsSign(records[i][n.Start]);
    if (n.LeftEnd == a && n.Start > a) min_start = std::min(min_start, n.Start);
    if (n.LeftEnd == a) continue;
    ++with_left;
    if (n.LeftEnd == n.Start) continue;  // a number that runs into the content before it
    ++separated;
    min_start = std::min(min_start, n.Start);
    left_max = std::max(left_max, n.LeftEnd);
    left_min = std::min(left_min, n.LeftEnd);
  }
  // Content that always abuts the number shows no alignment: one field.
  if (!t.AtLeast(with_number, kAlways) || separated * 2 < with_left || left_max == a ||
      left_max > min_start)
    return b;
  // Where content runs into the number in some records, the number starts
  // at the first byte that padding shows it may hold.
  if (separated < with_left) return min_start;
  guessed = left_max < min_start && left_min < left_max;
  // A wide gap between the longest content and the longest number: the
  // number keeps a little room, the content the rest.
  if (min_start - left_max > kWideGap) {
    guessed = true;
    return min_start - NumberRoom(signed_values);
  }
  return left_max;
}

// A part whose content always reaches one column and never beyond: a field of
// fixed width followed by a filler. Returns b when the part has no such end.
std::size_t SplitBeforeFiller(const ColumnCounts& n, std::size_t a, std::size_t b, Thresholds t) {
  std::size_t e = b;
  while (e > a && n.Content[e - 1] == 0) --e;
  if (e == a || e + 1 >= b || !t.AtLeast(n.Content[e - 1], kAlways)) return b;
  return e;
}

// Columns of padding in every record, between content, separate fields: a
// boundary lies at their ends or among them. Without one, the content after
// them starts a field (or, a number padded on the left, the padding does).
void CutBlankColumns(const ColumnCounts& n, std::size_t length, const std::vector<bool>& in_date,
                     std::vector<bool>& cut) {
  for (std::size_t a = 1; a < length; ++a) {
    // The blank between a date and its time of day is no gap.
    if (n.Content[a] != 0 || n.Content[a - 1] == 0 || in_date[a]) continue;
    std::size_t b = a;
    while (b < length && n.Content[b] == 0) ++b;
    if (b == length) break;
    // One full-width blank between two words of one field; columns of ASCII
    // blanks in every record always hold a boundary.
    const bool ascii = std::all_of(n.WideBlanks.begin() + static_cast<std::ptrdiff_t>(a),
                                   n.WideBlanks.begin() + static_cast<std::ptrdiff_t>(b),
                                   [](std::uint32_t w) { return w == 0; });
    bool found = n.Starts[b] == 0 && !ascii;
    for (std::size_t p = a; p <= b; ++p) found = found || cut[p];
    if (!found) {
      const bool number = n.Digits[b] * 2 >= n.Content[b];
      // The padding's start for a number, the content's start otherwise; the
      // nearest byte that starts a character in every record.
      std::size_t p = number ? a : b;
      while (n.Inside[p] && p < b) ++p;
      while (n.Inside[p] && p > a) --p;
      if (!n.Inside[p]) cut[p] = true;
      // A filler before the number's room.
      if (number && b - a > kWideGap) {
        bool signed_values = false;
        for (std::size_t c = b; c < length && (c == b || !cut[c]); ++c)
          signed_values = signed_values || n.Hyphens[c] != 0;
        const std::size_t room = b - NumberRoom(signed_values);
        if (!n.Inside[room]) cut[room] = true;
      }
    }
    a = b;
  }
}

FieldKind KindOf(const std::vector<std::string_view>& records,
                 const std::vector<ByteClass>& classes, std::size_t length, std::size_t a,
                 std::size_t b, DraftField& field) {
  bool any_content = false;
  bool digits_only = true;  // every content byte a digit, no padding
  bool number = true;       // padding, then a number, in every record
  bool digit_first = true;  // the content begins with a digit in every record
  bool zero_first = false;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ByteClass* k = classes.data() + i * length;
    std::string_view r = records[i];
    if (IsPad(k[a])) field.PadLeft = true;
    if (IsPad(k[b - 1])) field.PadRight = true;
    std::size_t first = a;
    while (first < b && IsPad(k[first])) ++first;
    if (first == b) continue;
    any_content = true;
    if (k[first] != kDigit) digit_first = false;
    if (r[first] == '0') zero_first = true;
    RightNumber n = FindRightNumber(r, k, a, b);
    if (!n.Present || n.LeftEnd != a) number = false;
    for (std::size_t c = a; c < b; ++c) {
      if (k[c] != kDigit) digits_only = false;
    }
  }
  if (!any_content) return FieldKind::Blank;
  if (digits_only) return zero_first && b - a > 1 ? FieldKind::ZeroDigits : FieldKind::Digits;
  if (number && field.PadLeft) return FieldKind::Number;
  if (digit_first && zero_first) return FieldKind::ZeroDigits;
  return FieldKind::Text;
}

// Records shorter than the layout, with the trailing blanks they lost put
// back, so that every record read has the layout's length.
struct PaddedRecords {
  PaddedRecords(const std::vector<std::string_view>& given, std::size_t length) {
    std::size_t short_bytes = 0;
    for (std::string_view r : given) short_bytes += r.size() < length ? length : 0;
    Bytes.reserve(short_bytes);
    Records.reserve(given.size());
    for (std::string_view r : given) {
      if (r.size() >= length) {
        Records.push_back(r.substr(0, length));
        continue;
      }
      const std::size_t at = Bytes.size();
      Bytes.append(r);
      Bytes.append(length - r.size(), ' ');
      Records.push_back(std::string_view(Bytes).substr(at, length));
    }
  }
  std::string Bytes;
  std::vector<std::string_view> Records;
};

}  // namespace

void ClassifyRecord(std::string_view record, ByteClass* classes) {
  const std::size_t size = record.size();
  for (std::size_t c = 0; c < size;) {
    const unsigned char b = static_cast<unsigned char>(record[c]);
    if (IsLeadByte(b) && c + 1 < size) {
      const bool wide_blank =
          b == kWideBlankLead && static_cast<unsigned char>(record[c + 1]) == kWideBlankTrail;
      classes[c] = wide_blank ? kWideBlank : kLead;
      classes[c + 1] = wide_blank ? kWideBlank : kTrail;
      c += 2;
      continue;
    }
    classes[c++] = IsLeadByte(b) ? kOther : ClassOfSingle(b);
  }
}

DraftLayout DraftFromRecords(const std::vector<std::string_view>& given, std::size_t length,
                             const std::vector<std::string_view>& others,
                             const std::vector<std::size_t>& cuts) {
  DraftLayout layout;
  layout.RecordLength = length;
  if (length == 0) return layout;
  PaddedRecords padded(given, length);
  const std::vector<std::string_view>& records = padded.Records;
  std::vector<ByteClass> classes(records.size() * length);
  ColumnCounts counts(length);
  for (std::size_t i = 0; i < records.size(); ++i) {
    ByteClass* k = classes.data() + i * length;
    ClassifyRecord(records[i], k);
    CountRecord(records[i], k, counts);
  }
  // The characters of the records as they are: padding starts none.
  for (std::string_view r : given) MarkSecondBytes(r, counts.Inside);
  for (std::string_view r : others) MarkSecondBytes(r, counts.Inside);
  const Thresholds t{static_cast<double>(records.size())};
  CountDates(records, classes, length, t, counts);

  std::vector<bool> in_date(length + 1, false);
  std::vector<bool> cut =
      ClearBoundaries(counts, length, t, FlagBoundaries(records, counts, length, t), in_date);
  for (std::size_t p : cuts) {
    if (p < length && !counts.Inside[p]) cut[p] = true;
  }
  std::vector<bool> guessed(length + 1, false);
  // Each part between clear boundaries may still hold a text and a
  // right-aligned number, or a fixed field and a filler.
  for (std::size_t a = 0; a < length;) {
    std::size_t b = a + 1;
    while (!cut[b]) ++b;
    // Split from the right until nothing splits: each split leaves a part
    // before it that may hold another number.
    for (std::size_t end = b; end > a;) {
      bool guess = false;
      std::size_t split = SplitBeforeNumber(records, classes, length, a, end, t, guess);
      if (split == end) split = SplitBeforeFiller(counts, a, end, t);
      while (split < end && counts.Inside[split]) ++split;  // never inside a character
      if (split == end) break;
      cut[split] = true;
      guessed[split] = guess;
      end = split;
    }
    a = b;
  }
  CutBlankColumns(counts, length, in_date, cut);
  std::size_t a = 0;
  for (std::size_t p = 1; p <= length; ++p) {
    if (!cut[p]) continue;
    DraftField field;
    field.Width = p - a;
    field.Guessed = guessed[a];
    field.Kind = KindOf(records, classes, length, a, p, field);
    layout.Fields.push_back(field);
    a = p;
  }
  return layout;
}

std::size_t LayoutLength(const std::vector<std::string_view>& records) {
  std::unordered_map<std::size_t, std::size_t> counts;
  std::size_t common = 0;
  std::size_t at_common = 0;
  std::size_t longest = 0;
  for (std::string_view r : records) {
    const std::size_t n = ++counts[r.size()];
    if (n > at_common || (n == at_common && r.size() < common)) {
      common = r.size();
      at_common = n;
    }
    longest = std::max(longest, r.size());
  }
  std::size_t longer = 0;
  for (const auto& [size, n] : counts) longer += size > common ? n : 0;
  std::size_t length = longer * 100 >= records.size() ? longest : common;
  // Past the characters of longer records that the end would split.
  std::vector<bool> inside(longest + 1, false);
  for (std::string_view r : records) {
    if (r.size() > length) MarkSecondBytes(r, inside);
  }
  while (inside[length]) ++length;
  return length;
}

DraftLayout DraftFromSample(const std::vector<std::string_view>& records,
                            const std::vector<std::size_t>& cuts) {
  const std::size_t length = LayoutLength(records);
  const std::size_t room =
      length == 0 ? records.size() : std::max<std::size_t>(1, kDraftCells / length);
  std::vector<std::string_view> drafted;
  std::vector<std::string_view> others;
  for (std::string_view r : records) {
    (r.size() <= length && drafted.size() < room ? drafted : others).push_back(r);
  }
  return DraftFromRecords(drafted, length, others, cuts);
}

}  // namespace tabulon::check::draft
