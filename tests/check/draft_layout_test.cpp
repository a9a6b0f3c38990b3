// The draft's byte classes and boundary rules, on small sets of records
// whose layout is known: each padding kind, numbers that must stay whole,
// and boundaries that would split a double-byte character.
#include "check/draft_layout.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "check/header_row.h"
#include "check/record_kinds.h"

namespace tabulon::check::draft {

// For the messages of failed expectations (found by argument lookup).
void PrintTo(const DraftField& f, std::ostream* os) {
  *os << "{" << f.Width << " kind " << int(f.Kind) << " left " << f.PadLeft << " right "
      << f.PadRight << " guessed " << f.Guessed << "}";
}

namespace {

// One letter per class, in the order of ByteClass.
std::string ClassLetters(std::string_view record) {
  std::vector<ByteClass> classes(record.size());
  ClassifyRecord(record, classes.data());
  std::string letters;
  for (ByteClass c : classes) letters += "DLBWltKPO"[c];
  return letters;
}

TEST(DraftClasses, CharactersAreReadFromTheRecordStart) {
  struct Case {
    std::string_view Record;
    std::string_view Classes;
  };
  const Case cases[] = {
      {"0a Z-", "DLBLP"},
      // A full-width blank, a kanji, half-width kana.
      {"\x81\x40\x8e\x52\xb1\xdf", "WWltKK"},
      // 0x81 0x40 as the trail and the next byte of other characters is no blank.
      {"\x88\x81\x40\x41", "ltPL"},
      // A lead byte at the end, control bytes, bytes that start no character.
      {"\x01\x7f\x80\xfd\x8e", "OOOOO"},
      {"\t\x8e\x52", "Olt"},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassLetters(c.Record), c.Classes) << c.Record;
}

std::vector<std::string> Append(std::vector<std::string> records,
                                std::initializer_list<const char*> more) {
  records.insert(records.end(), more.begin(), more.end());
  return records;
}

struct Field {
  std::size_t Width;
  FieldKind Kind;
  bool PadLeft = false;
  bool PadRight = false;
  bool Guessed = false;
};

bool operator==(const DraftField& a, const Field& b) {
  return a.Width == b.Width && a.Kind == b.Kind && a.PadLeft == b.PadLeft &&
         a.PadRight == b.PadRight && a.Guessed == b.Guessed;
}

struct LayoutCase {
  const char* Name;
  std::vector<std::string_view> Records;  // all of one length
  std::vector<Field> Fields;
  std::vector<std::string_view> Others = {};  // records of other lengths
};

// 山 田 佐 藤 花 子 森 一, and the full-width blank.
#define YAMA "\x8e\x52"
#define TA "\x93\x63"
#define SA "\x8d\xb2"
#define FUJI "\x93\xa1"
#define HANA "\x89\xd4"
#define KO "\x8e\x71"
#define MORI "\x90\x58"
#define ICHI "\x88\xea"
#define WB "\x81\x40"

TEST(DraftLayout, BoundariesAndPaddingOfKnownLayouts) {
  using K = FieldKind;
  const LayoutCase cases[] = {
      {"leading zeros, then a name padded with full-width blanks",
       {"000123" YAMA TA WB WB, "000124" SA FUJI HANA KO, "004125" MORI WB WB WB},
       {{6, K::ZeroDigits}, {8, K::Text, false, true}}},
      {"a name with one full-width blank between its words is one field",
       {YAMA TA WB TA HANA WB WB, SA FUJI WB HANA KO WB WB, MORI TA WB ICHI WB WB WB},
       {{14, K::Text, false, true}}},
      {"text padded on the right, then a number padded on the left: the boundary follows "
       "the longest text",
       {"ABCDE   12", "AB    -345", "ABC      7"},
       {{5, K::Text, false, true}, {5, K::Number, true, false, true}}},
      {"a right-aligned number keeps its last digits; leading zeros start the next field",
       {"  1231000567", " 98762000012", "     3001234", "   -54000099", "  1005000001",
        "   206001111", "  3337000222", "    48000333", "  5559000444", "     0000555"},
       {{6, K::Number, true}, {6, K::ZeroDigits}}},
      {"a date stays whole before leading zeros",
       {"2024011500012", "1999123100345", "2010063000007", "2023110200999"},
       {{8, K::Digits}, {5, K::ZeroDigits}}},
      {"content that always ends at one byte, then a filler",
       {"AB12    ", "CD34    ", "EF56    "},
       {{4, K::Text}, {4, K::Blank, true, true}}},
      {"a filler's start inside a character of another record moves past it",
       {"AB12    ", "CD34    ", "EF56    "},
       {{5, K::Text, false, true}, {3, K::Blank, true, true}},
       {"AB1" YAMA "    "}},
      {"one blank after fixed content is spare room, no filler",
       {"AB12 ", "CD34 ", "EF56 "},
       {{5, K::Text, false, true}}},
      {"no boundary inside a character of any record",
       {"12" YAMA TA, "34" TA YAMA, "5" YAMA TA "X"},
       {{6, K::Text}}},
      {"records that lost their trailing blanks read as padded",
       {"AB12    ", "CD34", "EF56  "},
       {{4, K::Text}, {4, K::Blank, true, true}}},
      {"no boundary inside a character of a record of another length",
       {"12" YAMA TA, "34" TA YAMA, "56" TA TA},
       {{6, K::Text}},
       {"5" YAMA TA}},
  };
  for (const LayoutCase& c : cases) {
    const std::size_t length = c.Records.front().size();
    DraftLayout layout = DraftFromRecords(c.Records, length, c.Others);
    std::size_t sum = 0;
    for (const DraftField& f : layout.Fields) sum += f.Width;
    EXPECT_EQ(sum, length) << c.Name;
    ASSERT_EQ(layout.Fields.size(), c.Fields.size()) << c.Name;
    for (std::size_t i = 0; i < c.Fields.size(); ++i) {
      EXPECT_TRUE(layout.Fields[i] == c.Fields[i])
          << c.Name << ", field " << i + 1 << ": " << testing::PrintToString(layout.Fields[i]);
    }
  }
}

// `n` digits of `v`, and a number that spreads the records' values.
std::string d(unsigned v, std::size_t n) {
  std::string s(n, '0');
  for (std::size_t i = n; i-- > 0; v /= 10) s[i] = static_cast<char>('0' + v % 10);
  return s;
}
unsigned m(unsigned i) {
  return i * 2654435761u >> 7;
}

// A bank-transfer-like file (key in byte 1: 1 header, 2 data, 8 trailer, 9
// end), the same with its trailing blanks lost, a header and a trailer of
// other layouts around a body, and files of one kind: a flag that splits no
// layout, and a small file whose records start with different bytes.
TEST(DraftLayout, RecordKindsOfKnownFiles) {
  auto pad = [](std::string s, std::size_t width) { return s.append(width - s.size(), ' '); };
  std::vector<std::string> bank = {
      pad("1210123456789\xb1\xb2\xb3\xb4\xb5\xb6\xb7\xb8\xb9"
          "1225",
          40)};
  const char* const names[] = {"\xd4\xcf\xc0\xde \xc0\xdb\xb3", "\xbb\xc4\xb3 \xcb\xb1",
                               "\xbd\xbd\xde\xb7"};
  for (int i = 0; i < 5; ++i) {
    bank.push_back("2000" + std::to_string(i + 1) + pad(names[i % 3], 10) + "12" +
                   std::to_string(i) + "1123456" + std::to_string(i) + pad(names[(i + 1) % 3], 10) +
                   "0" + std::to_string(i) + "50");
  }
  bank.push_back(pad("8000005000000012345", 40));
  bank.push_back(pad("9", 40));
  std::vector<std::string> lost = bank;
  for (std::string& r : lost) r.erase(r.find_last_not_of(' ') + 1);
  std::vector<std::string> around = {pad("HDR20241209CUSTOMERS", 30)};
  for (int i = 0; i < 6; ++i)
    around.push_back("00000" + std::to_string(i) + pad(names[i % 3], 16) + "   " +
                     std::to_string(i) + "0500");
  around.push_back(pad("TRL00000006", 30));
  // The trailer's first byte that of the header, or of the body.
  std::vector<std::string> same_first = around, body_first = around;
  same_first.back()[0] = 'H';
  body_first.back()[0] = '0';
  std::vector<std::string> flags;
  for (int i = 0; i < 8; ++i)
    flags.push_back(std::to_string(i % 2) + "AB" + std::to_string(i) + "  X");
  const std::vector<std::string> small = {"1ABC 12", "2DEF 34", "3GHI 56"};
  // Digits with three letters at other places in each record (five in one,
  // four in the last): the first and last records stray from the body no
  // more than its own records do.
  std::vector<std::string> odd(300, std::string(60, '0'));
  for (unsigned i = 0; i < 300; ++i) {
    for (unsigned c = 0; c < 60; ++c) odd[i][c] = static_cast<char>('0' + m(i * 61 + c) % 10);
    for (unsigned j = 0; j < 3u + (i == 50) * 2 + (i == 299); ++j)
      odd[i][(i * 7 + j * 13) % 60] = static_cast<char>('A' + j);
  }
  using P = KindPlace;
  struct Case {
    const char* Name;
    const std::vector<std::string>& Records;
    bool WholeFile;
    std::size_t KeySize;
    std::vector<std::pair<P, std::string>> Kinds;  // counts: the first holds the rest
  };
  const std::vector<std::pair<P, std::string>> keyed = {
      {P::Keyed, "2"}, {P::Keyed, "1"}, {P::Keyed, "8"}, {P::Keyed, "9"}};
  const std::vector<std::pair<P, std::string>> lone = {
      {P::Body, ""}, {P::First, ""}, {P::Last, ""}};
  const Case cases[] = {
      {"bank transfer", bank, true, 1, keyed},
      {"bank transfer, trailing blanks lost", lost, true, 1, keyed},
      {"header and trailer", around, true, 0, lone},
      {"header, file not read to its end", around, false, 0, {{P::Body, ""}, {P::First, ""}}},
      {"header and trailer of one first byte", same_first, true, 0, lone},
      {"trailer of the body's first byte", body_first, true, 0, lone},
      {"a flag", flags, true, 0, {}},
      {"too few records of one key", small, true, 0, {}},
      {"first and last records as odd as the body's", odd, true, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> records(c.Records.begin(), c.Records.end());
    if (!c.WholeFile) records.pop_back();
    RecordKinds got = FindKinds(records, c.WholeFile);
    EXPECT_EQ(got.KeySize, c.KeySize) << c.Name;
    ASSERT_EQ(got.Kinds.size(), c.Kinds.size()) << c.Name;
    for (std::size_t k = 0; k < c.Kinds.size(); ++k) {
      EXPECT_EQ(got.Kinds[k].Place, c.Kinds[k].first) << c.Name << " kind " << k;
      EXPECT_EQ(got.Kinds[k].Value, c.Kinds[k].second) << c.Name << " kind " << k;
      EXPECT_EQ(got.Kinds[k].Count, k == 0 ? records.size() - c.Kinds.size() + 1 : 1u) << c.Name;
    }
    // Each record's kind, as the check reads it record by record.
    std::vector<std::uint64_t> counts(got.Kinds.size(), 0);
    for (std::size_t i = 0; i < records.size() && got.Found(); ++i)
      ++counts[got.KindOf(records[i], i + 1, c.WholeFile ? records.size() : 0)];
    for (std::size_t k = 0; k < counts.size(); ++k) EXPECT_EQ(counts[k], got.Kinds[k].Count);
  }
}

TEST(DraftLayout, KindOptionAndLineRanges) {
  KindKey key;
  EXPECT_EQ(ParseKindOption("12", key), &messages::kKindNoColon);
  for (const char* bad : {":2", "0:2", "x:2", "65537:2", "99999999999999999999:2"})
    EXPECT_EQ(ParseKindOption(bad, key), &messages::kKindBadPosition) << bad;
  for (const char* bad : {"1:", "1:234"})
    EXPECT_EQ(ParseKindOption(bad, key), &messages::kKindBadValue);
  ASSERT_EQ(ParseKindOption("3:\x8e\x52", key), nullptr);
  EXPECT_EQ(key.Position, 2u);
  EXPECT_TRUE(HasKey("ab\x8e\x52", key));
  EXPECT_TRUE(HasKey("a", KindKey{3, " "}));  // past the end: blanks
  LineRanges lines;
  for (int line : {2, 3, 4, 7, 9, 10, 12, 14, 15, 20}) lines.Add(static_cast<std::uint64_t>(line));
  EXPECT_EQ(LinesText(lines, TextForm::Utf8), "2-4, 7, 9-10, 12行目ほか2か所");
}

// `n` characters of a code drawn from the digits and the first `letters`
// capital letters (none: letters alone), a value spreading them.
std::string code(unsigned v, std::size_t n, unsigned letters = 26, bool digits = true) {
  std::string s;
  const unsigned first = digits ? 0 : 10;
  for (std::size_t i = 0; i < n; ++i, v = m(v + 1)) {
    const unsigned k = first + v % (letters + 10 - first);
    s += static_cast<char>(k < 10 ? '0' + k : 'A' + (k - 10));
  }
  return s;
}
std::string pad(std::string s, std::size_t n) {
  return s.append(n - s.size(), ' ');
}
std::string rjust(const std::string& s, std::size_t n) {
  return std::string(n - s.size(), ' ') + s;
}

// Boundaries between abutting fields that only many records show: each
// record made from its number by `make`.
TEST(DraftLayout, AbuttingFieldsOfManyRecords) {
  struct Case {
    const char* Name;
    std::string (*Make)(unsigned);
    std::vector<std::size_t> Widths;
  };
  const Case cases[] = {
      {"an amount's last digit, then a flag of two values",
       [](unsigned i) { return d(m(i) % 100000, 5) + "01"[m(i + 7) % 2]; },
       {5, 1}},
      {"a letter flag, then a code's leading zeros",
       [](unsigned i) { return std::string(1, "YN"[i % 2]) + "00" + d(m(i), 3); },
       {1, 5}},
      {"a code, then a postal code NNN-NNNN",
       [](unsigned i) { return "0" + d(m(i), 3) + d(m(i + 1), 3) + "-" + d(m(i + 2), 4); },
       {4, 8}},
      {"a date and time of day stay one field",
       [](unsigned i) {
         return "2024-" + d(1 + i % 12, 2) + "-" + d(1 + i % 28, 2) + "T" + d(i % 24, 2) + ":" +
                d(m(i) % 60, 2) + ":" + d(m(i + 3) % 60, 2) + d(m(i + 5), 4);
       },
       {19, 4}},
      {"a date and time with a blank and an offset, then a compact one, stay whole",
       [](unsigned i) {
         return "2024-" + d(1 + i % 12, 2) + "-" + d(1 + i % 28, 2) + " " + d(i % 24, 2) + ":" +
                d(m(i) % 60, 2) + ":" + d(m(i + 3) % 60, 2) + "+09:00" + "2023" +
                d(1 + m(i) % 12, 2) + d(1 + m(i + 1) % 28, 2) + d(m(i + 2) % 24, 2) +
                d(m(i + 4) % 60, 4);
       },
       {25, 14}},
      {"a code of letters and digits, then two flags that nothing ties together",
       [](unsigned i) { return code(m(i), 4) + "01"[m(i + 7) % 2] + "123"[m(i + 9) % 3]; },
       {4, 1, 1}},
      {"a letter flag, then a code of letters",
       [](unsigned i) {
         return std::string(1, "YN"[m(i) % 2]) + code(m(i + 1), 2, 20, false) +
                d(m(i + 2) % 1000, 3);
       },
       {1, 5}},
      {"a code of letters and digits, then a code's leading zeros",
       [](unsigned i) { return code(m(i), 4) + "00" + d(m(i + 1) % 1000, 3); },
       {4, 5}},
      {"a short text padded far, then a signed amount with a byte of room",
       [](unsigned i) {
         return pad("ABCD" + std::string(m(i) % 3, 'E'), 10) +
                rjust((i % 5 ? "" : "-") + std::to_string(m(i + 3) % 100000), 7);
       },
       {10, 7}},
      {"a code, a filler, then an amount with room for a sign and a digit",
       [](unsigned i) {
         return d(m(i) % 1000, 5) + "    " + rjust(std::to_string(m(i + 2) % 100000), 7);
       },
       {5, 4, 7}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> owned;
    for (unsigned i = 0; i < 200; ++i) owned.push_back(c.Make(i));
    std::vector<std::string_view> records(owned.begin(), owned.end());
    std::vector<std::size_t> widths;
    for (const DraftField& f : DraftFromSample(records).Fields) widths.push_back(f.Width);
    EXPECT_EQ(widths, c.Widths) << c.Name;
  }
}

// A first line of names over codes, names and amounts: the names taken
// (trimmed; none for one without letters, words far apart, a repeated one
// and one no parameter file holds), the body's own boundaries; a record, a
// row over text alone, one name, a word or a character cut by the
// boundaries, and bytes past the layout make no names row.
TEST(DraftLayout, NamesRowsOverKnownRecords) {
  std::vector<std::string> owned;
  for (const char* amount : {"    7", " 1234", "  340", " 5120", "   88", "  901", " 4000"})
    owned.push_back(d(m(static_cast<unsigned>(owned.size())) % 100000, 6) +
                    (owned.size() % 2 ? YAMA TA WB WB : SA FUJI HANA KO) + amount);
  std::vector<std::string_view> body(owned.begin(), owned.end());
  std::vector<std::size_t> widths;
  for (const DraftField& f : DraftFromSample(body).Fields) widths.push_back(f.Width);
  ASSERT_EQ(widths, (std::vector<std::size_t>{6, 8, 5}));
  const std::pair<std::string_view, std::vector<std::string>> cases[] = {
      {"ID    " YAMA TA WB WB "Sum", {"ID", YAMA TA, "Sum"}},
      {"ID    #       Sum", {"ID", "", "Sum"}},
      {"ID    A   B   Sum", {"ID", "", "Sum"}},
      {"ID    ID      S\x01m", {"ID", "", ""}},
      {"AB    " YAMA TA WB WB "   12", {}},
      {"      " YAMA TA WB WB "S", {}},
      {"ID", {}},
      {"ID    " YAMA TA WB WB "Sum  X", {}},
      {"IDENTITY      Sum", {}},
      {"ID   " WB "       Sum", {}},
  };
  for (const auto& [row, names] : cases) {
    std::vector<std::string_view> records = body;
    records.insert(records.begin(), row);
    EXPECT_EQ(FirstIsNamesRow(records), !names.empty()) << row;
    if (!names.empty()) {
      EXPECT_EQ(NamesOfRow(row, widths), names) << row;
    }
  }
}

// Files of random fields (codes, words with a blank between them, kanji
// padded with full-width blanks, right-aligned amounts, fillers): a run of
// columns that holds an ASCII blank in every record, between content, always
// holds a boundary (at one of its ends or inside it), however few the records.
TEST(DraftLayout, EveryRunOfColumnsBlankInEveryRecordHoldsABoundary) {
  unsigned seed = 1;
  auto next = [&seed](unsigned n) { return (seed = m(seed + 1)) % n; };
  for (int file = 0; file < 300; ++file) {
    std::vector<unsigned> kinds(2 + next(6));
    for (unsigned& k : kinds) k = next(5);
    std::vector<std::string> owned(1 + next(2) * (4 + next(60)));
    for (std::string& r : owned) {
      for (unsigned k : kinds) {
        const std::string w = code(next(1000), 1 + next(3), 26, false);
        r += std::vector<std::string>{code(next(1000), 3), pad(w + (next(2) ? " " + w : ""), 8),
                                      next(2) ? YAMA TA WB : YAMA TA HANA,
                                      rjust(std::to_string(next(10000)), 6), "  "}[k];
      }
    }
    std::vector<std::string_view> records(owned.begin(), owned.end());
    const DraftLayout layout = DraftFromSample(records);
    std::vector<int> cut(layout.RecordLength + 1, 0), blank(layout.RecordLength, 1);
    std::size_t at = 0;
    for (const DraftField& f : layout.Fields) cut[at += f.Width] = 1;
    for (std::string_view r : records) {
      std::vector<ByteClass> k(r.size());
      ClassifyRecord(r, k.data());
      for (std::size_t c = 0; c < r.size(); ++c) blank[c] &= k[c] == kBlank;
    }
    // A run [a, b) of blank columns between content, and the cuts in [a, b].
    for (std::size_t a = 1, b; a < blank.size(); a = b + 1) {
      for (b = a; b < blank.size() && blank[b] && blank[a - 1] == 0;) ++b;
      if (b == a || b == blank.size()) continue;
      int found = 0;
      for (std::size_t p = a; p <= b; ++p) found |= cut[p];
      EXPECT_TRUE(found) << "file " << file << ": columns " << a << " to " << b << " of "
                         << owned.front();
    }
  }
}

TEST(DraftLayout, LengthHoldsTheLongerRecordsAndEndsBetweenCharacters) {
  struct Case {
    const char* Name;
    std::vector<std::string> Records;
    std::size_t Length;
  };
  std::vector<std::string> body(300, "abcd");
  std::vector<std::string> trimmed(50, "abcdef");
  trimmed.insert(trimmed.end(), 50, "abc");
  const Case cases[] = {
      {"one longer record: the common length", Append(body, {"abcdefgh"}), 4},
      {"the end never splits a character of a longer record", Append(body, {"abc" YAMA}), 5},
      {"many records shorter than the longest: the longest", trimmed, 6},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> views(c.Records.begin(), c.Records.end());
    EXPECT_EQ(LayoutLength(views), c.Length) << c.Name;
    EXPECT_EQ(DraftFromSample(views).RecordLength, c.Length) << c.Name;
  }
}

}  // namespace
}  // namespace tabulon::check::draft
