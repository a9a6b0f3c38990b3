// The layout check against the reference model's reading of the same bytes
// (reference_model.h): which fields have a boundary inside a double-byte
// character, and which records end in a lead byte, hold a lead byte followed
// by a byte that cannot follow it, or hold a NUL. Random layouts and records;
// each record is fed whole and in random pieces (as a line that spans buffer
// refills arrives), and whole files are read at tiny buffer sizes.
//
// TABULON_REFERENCE_SEED=<n> replays a run.
#include "check/layout_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check/report.h"
#include "convert/field_plan.h"
#include "convert/reference_model.h"
#include "platform/temp_dir.h"

namespace tabulon::check {
namespace {

struct Expected {
  std::vector<bool> Split;  // per field
  bool LeadAtEnd = false;
  bool BadTrail = false;
  bool Nul = false;
};

bool CanFollowLead(int b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The model's reading: fields cut as its ConvertRecord cuts them, characters
// found by walking from the start of the record.
Expected Reference(const std::string& record, const std::vector<std::int32_t>& widths) {
  Expected e;
  const std::int64_t n = static_cast<std::int64_t>(record.size());
  auto inside = [&](std::int64_t p) {
    return p >= 1 && p <= n && !reference::StartsCharacter(record, p);
  };
  std::int32_t start = 1;
  for (std::int32_t width : widths) {
    std::int64_t from = start < 1 ? 1 : start;
    e.Split.push_back(width > 0 && (inside(from) || inside(from + width)));
    start = static_cast<std::int32_t>(static_cast<std::uint32_t>(start) +
                                      static_cast<std::uint32_t>(width));
  }
  for (std::int64_t i = 1; i <= n;) {
    if (!reference::IsLead(static_cast<unsigned char>(reference::ByteAt(record, i)))) {
      ++i;
      continue;
    }
    if (i == n) e.LeadAtEnd = true;
    if (i < n && !CanFollowLead(reference::ByteAt(record, i + 1))) e.BadTrail = true;
    i += 2;
  }
  e.Nul = record.find('\0') != std::string::npos;
  return e;
}

class LayoutCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* seed = std::getenv("TABULON_REFERENCE_SEED");
    Seed = seed != nullptr ? std::strtoull(seed, nullptr, 10) : std::random_device{}();
    Rng.seed(Seed);
    std::printf("seed %llu\n", static_cast<unsigned long long>(Seed));
  }

  int Draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Rng); }

  // Bytes of every class: ASCII, lead bytes, bytes that only follow one,
  // bytes that cannot follow one, NUL, the single-byte katakana.
  std::string Record(int max_size) {
    static constexpr unsigned char kBytes[] = {0x20, 'A',  '1',  0x81, 0x82, 0x83, 0x9F, 0xE0,
                                               0xEA, 0xFC, 0x40, 0x5C, 0x7E, 0x7F, 0x80, 0xA0,
                                               0xB1, 0xDF, 0xFD, 0xFF, 0x3F, 0x00};
    std::string record;
    int size = Draw(0, max_size);
    for (int i = 0; i < size; ++i) {
      record += static_cast<char>(kBytes[Draw(0, static_cast<int>(sizeof kBytes) - 1)]);
    }
    return record;
  }

  std::vector<std::int32_t> Widths() {
    std::vector<std::int32_t> widths(static_cast<std::size_t>(Draw(1, 8)));
    for (std::int32_t& w : widths) w = Draw(-3, 12);
    return widths;
  }

  static FieldTable Table(const std::vector<std::int32_t>& widths) {
    FieldTable table;
    std::size_t n = widths.size();
    table.TypeCodes.assign(n, 'X');
    table.Widths = widths;
    table.TrimCodes.assign(n, ' ');
    table.HeaderNames.assign(n, "");
    table.FieldCount = static_cast<std::int32_t>(n);
    return table;
  }

  std::uint64_t Seed = 0;
  std::mt19937_64 Rng;
};

TEST_F(LayoutCheckTest, RecordsWholeAndInPiecesReadAsTheModelReadsThem) {
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::int32_t> widths = Widths();
    CheckLayout layout = MakeCheckLayout(Table(widths));
    std::string record = Record(round % 2 == 0 ? 12 : 70);
    Expected want = Reference(record, widths);
    for (bool in_pieces : {false, true}) {
      TextFindings got;
      RecordScanner scanner(layout, got);
      scanner.Begin(7);
      std::size_t at = 0;
      while (in_pieces && at < record.size()) {
        std::size_t n = static_cast<std::size_t>(Draw(0, 20));
        n = std::min(n, record.size() - at);
        scanner.Piece(record.data() + at, n);
        at += n;
      }
      scanner.Piece(record.data() + at, record.size() - at);
      scanner.End();
      SCOPED_TRACE(::testing::Message() << "seed " << Seed << " round " << round
                                        << (in_pieces ? " in pieces" : " whole"));
      for (std::size_t i = 0; i < widths.size(); ++i) {
        EXPECT_EQ(got.SplitFields[i].Count, want.Split[i] ? 1u : 0u) << "field " << i + 1;
        if (want.Split[i]) {
          EXPECT_EQ(got.SplitFields[i].FirstLine, 7u);
        }
      }
      EXPECT_EQ(got.LeadAtEnd.Count, want.LeadAtEnd ? 1u : 0u);
      EXPECT_EQ(got.BadTrail.Count, want.BadTrail ? 1u : 0u);
      EXPECT_EQ(got.Nul.Count, want.Nul ? 1u : 0u);
      if (HasFailure()) return;
    }
  }
}

// Whole files through the line reader at tiny buffer sizes: lines cut at
// every refill, CRs dropped between the halves of a character, a Ctrl-Z that
// ends the data early. The counts must be those of the model's lines.
TEST_F(LayoutCheckTest, FilesReadAtAnyBufferSizeGiveTheModelsCounts) {
  test::TempDir dir;
  const std::string path = dir.Path("text.txt");
  for (int round = 0; round < 300; ++round) {
    std::vector<std::int32_t> widths = Widths();
    std::string data;
    for (int lines = Draw(0, 6); lines > 0; --lines) {
      data += Record(30);
      static const char* const kEnds[] = {"\r\n", "\n", "\r", ""};
      data += kEnds[Draw(0, 3)];
    }
    if (Draw(0, 3) == 0) {
      std::size_t at = static_cast<std::size_t>(Draw(0, static_cast<int>(data.size())));
      data = data.substr(0, at) + '\x1a' + data.substr(at);
    }
    std::ofstream(path, std::ios::binary) << data;

    std::vector<std::string> lines = reference::TextLines(data);
    TextFindings want;
    std::size_t reach = 0;
    for (const FieldPlan& f : MakePlan(Table(widths)).Fields)
      reach = std::max(reach, f.Offset + f.Length);
    want.SplitFields.assign(widths.size(), Tally{});
    for (std::size_t n = 0; n < lines.size(); ++n) {
      Expected e = Reference(lines[n], widths);
      for (std::size_t i = 0; i < widths.size(); ++i) {
        if (e.Split[i]) want.SplitFields[i].Add(n + 1);
      }
      if (e.LeadAtEnd) want.LeadAtEnd.Add(n + 1);
      if (e.BadTrail) want.BadTrail.Add(n + 1);
      if (lines[n].size() < reach) want.Shorter.Add(n + 1);
      if (lines[n].size() > reach) want.Longer.Add(n + 1);
    }
    std::size_t end = data.find('\x1a');
    want.BytesAfterEnd = end == std::string::npos ? 0 : data.size() - end - 1;

    // With kinds to find, the records of a sample of any size are kept and
    // handed over (one may be cut where the sample ends): the same counts
    // when no kinds are found.
    TextCheckOptions options{.Capacity = static_cast<std::uint32_t>(Draw(1, 5))};
    options.FindKinds = round % 2 == 1;
    options.SampleBytes = static_cast<std::size_t>(Draw(0, 40));
    options.LongestKept = static_cast<std::size_t>(Draw(0, 40));
    TextFindings got = CheckTextFile(path, MakeCheckLayout(Table(widths)), options);
    if (got.Kinds.Found()) continue;
    const std::uint32_t capacity = options.Capacity;
    SCOPED_TRACE(::testing::Message()
                 << "seed " << Seed << " round " << round << " capacity " << capacity);
    EXPECT_EQ(got.Records, lines.size());
    auto same = [](const Tally& a, const Tally& b) {
      return a.Count == b.Count && a.FirstLine == b.FirstLine;
    };
    for (std::size_t i = 0; i < widths.size(); ++i) {
      EXPECT_TRUE(same(got.SplitFields[i], want.SplitFields[i])) << "field " << i + 1;
    }
    EXPECT_TRUE(same(got.LeadAtEnd, want.LeadAtEnd));
    EXPECT_TRUE(same(got.BadTrail, want.BadTrail));
    EXPECT_TRUE(same(got.Shorter, want.Shorter));
    EXPECT_TRUE(same(got.Longer, want.Longer));
    EXPECT_EQ(got.BytesAfterEnd, want.BytesAfterEnd);
    if (HasFailure()) break;
  }
}

// A trailer of another layout at the end of a file is its own kind, whether
// the kinds' sample reaches it or not; the layout is checked on the body.
TEST_F(LayoutCheckTest, ALoneLastRecordIsItsOwnKindPastTheSampleToo) {
  test::TempDir dir;
  std::ofstream text(dir.Path("t.txt"), std::ios::binary);
  for (int i = 0; i < 200; ++i)
    text << 1000 + i * 37 % 9000 << "00ABCDEFGH  " << 10 + i % 90 << "\r\n";
  text << "TRL0000200\r\n";
  text.close();  // a file still open for writing is shared with no reader on Windows
  for (std::size_t sample : {std::size_t{100}, std::size_t{1} << 20}) {
    TextFindings got = CheckTextFile(dir.Path("t.txt"), MakeCheckLayout(Table({6, 10, 2})),
                                     {.FindKinds = true, .SampleBytes = sample});
    EXPECT_EQ(got.KindCounts, (std::vector<std::uint64_t>{200, 1})) << sample;
    EXPECT_EQ(LinesText(got.KindLines[0], TextForm::Utf8), "1-200行目");
    EXPECT_EQ(got.Shorter.Count, 0u);
  }
}

TEST(ReadsAsUtf8, WellFormedMultibyteTextOnly) {
  EXPECT_TRUE(ReadsAsUtf8("ab \xe3\x81\x82\xf0\x9f\x98\x80 \xc3\xa9"));
  EXPECT_FALSE(ReadsAsUtf8("plain ASCII"));                     // nothing multi-byte
  EXPECT_FALSE(ReadsAsUtf8("\x82\xa0\x82\xa2"));                // code page 932
  EXPECT_FALSE(ReadsAsUtf8("\xe3\x81"));                        // cut short
  EXPECT_FALSE(ReadsAsUtf8("\xe0\x80\x80"));                    // overlong
  EXPECT_FALSE(ReadsAsUtf8("\xed\xa0\x80"));                    // a surrogate
  EXPECT_FALSE(ReadsAsUtf8("\xc3\xa9 \xe3\x81\x82 \x93\xfa"));  // UTF-8, then not
}

// The report is put together from pieces of the catalogue: in the UTF-8 form
// (a terminal's), every piece must be UTF-8 while numbers and header names
// stay as they are. The code page 932 form is covered end to end.
TEST(CheckReport, Utf8FormConvertsItsTextsAndTheNamesBetweenThem) {
  FieldTable table;
  table.TypeCodes = {'X', 'E'};
  table.Widths = {3, 6};
  table.TrimCodes = {' ', ' '};
  table.HeaderNames = {"", "\x96\xbc"};  // a name in code page 932, shown in UTF-8
  table.FieldCount = 2;
  CheckLayout layout = MakeCheckLayout(table);
  TextFindings text;
  text.Records = 9;
  text.Longer = {4, 2};
  text.SplitFields = {{1, 5}, {3, 1}};
  text.LoneCr = {2, 8};
  text.EndOfDataLine = 9;
  text.BytesAfterEnd = 12;
  ParameterFindings parameters;
  Report report = MakeReport(parameters, layout, text, TextForm::Utf8);
  std::vector<std::string> want = {
      "レイアウトの幅9バイトより長いレコード: 4件(最初は2行目)",
      "項目1: 開始位置か終了位置が2バイト文字の途中にあるレコード: 1件(最初は5行目)",
      "項目2(名): 開始位置か終了位置が2バイト文字の途中にあるレコード: 3件(最初は1行目)",
      "単独のCRを含むレコード(変換では取り除かれます): 2件(最初は8行目)",
      "9行目のCtrl-Zでデータが終わります(後の12バイトは変換されません)",
  };
  EXPECT_EQ(report.Lines, want);
  EXPECT_TRUE(report.Found);

  text = TextFindings{};
  text.Records = 3;
  text.SplitFields.assign(2, Tally{});
  report = MakeReport(parameters, layout, text, TextForm::Utf8);
  EXPECT_EQ(report.Lines, std::vector<std::string>{"問題は見つかりませんでした(3レコード)"});
  EXPECT_FALSE(report.Found);
}

}  // namespace
}  // namespace tabulon::check
