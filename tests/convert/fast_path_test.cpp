// The record path's shortcuts (eight-byte blank scans, one quote/comma
// search per record, field texts written straight into the output buffer,
// block copies that run over) against the plain byte-by-byte rules, on
// inputs made of the bytes that matter: blanks, both halves of the
// full-width blank, lead bytes, low bytes, quotes and commas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/record.h"
#include "convert/reference_model.h"
#include "convert/transforms.h"
#include "params/field_table.h"
#include "support/memory_device.h"
#include "support/value_forms.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

// The expected text: the reference model's, one byte at a time.
std::string PlainLine(const std::string& record, const FieldTable& table, char separator) {
  return reference::ConvertRecord(record, reference::ModelOf(table), separator);
}

// --- inputs -------------------------------------------------------------------

// Bytes that steer the rules: blank, the full-width pair's halves (0x40 is
// '@'), other lead bytes and the bytes just outside their ranges, low bytes,
// the quote, the comma and plain letters.
constexpr char kAlphabet[] = {' ',    ' ',    '\x81', '@', '\x81', '@',    '\x83', '\xE0', '0',
                              '-',    '"',    ',',    'a', 'Z',    '\x30', '\x31', '\x00', '\x9F',
                              '\xFC', '\x40', ' ',    '1', '\x80', '\xA0', '\xDF', '\xFD'};

std::string RandomBytes(std::mt19937& rng, std::size_t length) {
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
  std::string v;
  for (std::size_t i = 0; i < length; ++i) v += kAlphabet[pick(rng)];
  return v;
}

// Runs of one or two kinds of blank around a short body: long runs cross
// the eight-byte steps of the scans.
std::string PaddedValue(std::mt19937& rng) {
  auto run = [&](int n) {
    std::string pad;
    for (int i = 0; i < n; ++i) pad += rng() % 3 == 0 ? "\x81\x40" : " ";
    return pad;
  };
  return run(static_cast<int>(rng() % 20)) + RandomBytes(rng, rng() % 4) +
         run(static_cast<int>(rng() % 20));
}

// --- line file on memory ------------------------------------------------------

MemoryDevice g_device;
const std::string& g_written = g_device.Written;

std::unique_ptr<LineFile> MemoryWriter(std::uint32_t capacity) {
  auto file = std::make_unique<LineFile>();
  OpenMemoryWriter(*file, g_device, capacity);
  return file;
}

// Writes out what waits in the buffer.
void CollectOut(LineFile& file) {
  WrittenSoFar(file, g_device);
}

FieldTable RandomTable(std::mt19937& rng) {
  static constexpr unsigned char kTypes[] = {'X', 'E', 'N', 0x19, 0};
  static constexpr unsigned char kTrims[] = {'L', 'R', 'T', 'Z', ' ', 0};
  FieldTable t;
  int count = static_cast<int>(rng() % 8);
  int slots = count == 0 ? 1 : count;
  for (int i = 0; i < slots; ++i) {
    t.TypeCodes.push_back(kTypes[rng() % 5]);
    t.TrimCodes.push_back(kTrims[rng() % 6]);
    int width = static_cast<int>(rng() % 140);
    if (rng() % 8 == 0) width = -static_cast<int>(rng() % 12);
    t.Widths.push_back(width);
    t.HeaderNames.emplace_back();
  }
  t.FieldCount = count;
  return t;
}

// --- tests ----------------------------------------------------------------------

TEST(FastTrims, AgreeWithThePlainRulesOnTrickyValues) {
  std::vector<std::string> cases = {
      "",
      " ",
      "  ",
      "x",
      std::string(9, ' '),
      std::string(17, ' ') + "x",
      "x" + std::string(17, ' '),
      std::string(16, ' '),
      "\x81\x40",
      "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40",
      " \x81\x40",
      "\x81\x40 ",
      "        \x81\x40x",
      "x\x81\x40        ",
      "\x83\x81@",  // ME followed by '@': not a full-width blank
      "\x83\x81@ ",
      "\x83\x83\x81@",      // a lead run: the pair starts a character
      "\x83\x83\x83\x81@",  // ... and here it does not
      // Full-width padding of four pairs and more, taken four at a time:
      // where an odd lead run pairs up with the first 0x81, the run of
      // blanks ends one pair later.
      "x\x81@\x81@\x81@\x81@",
      "\x83\x81@\x81@\x81@\x81@",
      "\x83\x83\x81@\x81@\x81@\x81@",
      "\x83\x83\x83\x81@\x81@\x81@\x81@\x81@",
      "x\x83\x81@\x81@\x81@\x81@\x81@\x81@\x81@\x81@",
      "ab \x81@\x81@\x81@\x81@ \x81@\x81@\x81@\x81@",
      "\x81@\x81@\x81@\x81@\x81@\x81@\x81@\x81@ x",
      "\x81@\x81@\x81@\x81@\x81@\x81@\x81@\x81@\x81",
      " \x81@\x81@\x81@\x81@\x81@x",
      "ab\x81",  // a lone lead byte at the end
      "\x81",
      "\x81\x40\x81",
      "        0000012",
      "-0.50",
      "0000000000000000",
      "\x30\x30\x31",
      std::string("\x00\x2F\x30\x31", 4),
  };
  // Runs of 15 to 70 blanks or pairs, across the scans' steps, around bodies
  // that end or start them (lead bytes before a trailing pair, a blank
  // between runs of pairs), and a 0x40 first or a 0x81 last that pairs only
  // with a byte outside the value.
  for (std::size_t run = 15; run <= 70; ++run) {
    std::string pairs;
    for (std::size_t i = 0; i < run; ++i) pairs += "\x81\x40";
    cases.push_back("@" + pairs);
    cases.push_back(pairs + "\x81");
    for (const std::string body : {"x", "\x83", "\x83\x83\x83", "\x83\x83 "}) {
      cases.push_back(std::string(run, ' ') + body + std::string(run, ' '));
      cases.push_back(pairs + body + pairs);
      cases.push_back(body + pairs.substr(0, run) + " " + pairs);
    }
  }
  for (const std::string& v : cases) {
    // The same inside a window whose bytes around the value pair with its ends.
    const std::string around = std::string(40, ' ') + "\x81" + v + "@" + std::string(40, ' ');
    const std::string_view in(around.data() + 41, v.size());
    const ReadWindow window{around.data(), around.data() + around.size()};
    EXPECT_EQ(std::string(TrimLeftBlanks(in, window)), reference::TrimLeftBlanks(v)) << v;
    EXPECT_EQ(std::string(TrimRightBlanks(in, window)), reference::TrimRightBlanks(v)) << v;
    EXPECT_EQ(std::string(TrimLeftBlanks(v)), reference::TrimLeftBlanks(v)) << v;
    EXPECT_EQ(std::string(TrimRightBlanks(v)), reference::TrimRightBlanks(v)) << v;
    EXPECT_EQ(std::string(TrimBothBlanks(v)),
              reference::TrimRightBlanks(reference::TrimLeftBlanks(v)))
        << v;
    EXPECT_EQ(std::string(StripLeadingLow(v)), reference::StripLeadingLow(v)) << v;
    EXPECT_EQ(tabulon::QuoteField(v), reference::QuoteField(v)) << v;
  }
}

TEST(FastTrims, AgreeWithThePlainRulesOnRandomValues) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string v = i % 2 == 0 ? RandomBytes(rng, rng() % 40) : PaddedValue(rng);
    ASSERT_EQ(std::string(TrimLeftBlanks(v)), reference::TrimLeftBlanks(v)) << v;
    ASSERT_EQ(std::string(TrimRightBlanks(v)), reference::TrimRightBlanks(v)) << v;
    ASSERT_EQ(std::string(StripLeadingLow(v)), reference::StripLeadingLow(v)) << v;
  }
}

// Records on random layouts, converted into output buffers of several sizes
// and starting fill levels, so that the direct path, the per-field check and
// the piece-by-piece fallback all run, and block copies run over near the
// end of the record and of the buffer.
TEST(FastRecordPath, AgreesWithThePlainRulesOnRandomLayouts) {
  std::mt19937 rng(11);
  const std::uint32_t capacities[] = {1, 2, 7, 64, 300, kFileCapacity};
  for (int round = 0; round < 4000; ++round) {
    FieldTable table = RandomTable(rng);
    RecordPlan plan = MakePlan(table);
    char separator = rng() % 2 == 0 ? ',' : '\t';
    std::uint32_t capacity = capacities[rng() % 6];
    auto out = MemoryWriter(capacity);
    std::string expected;
    for (int line = 0; line < 5; ++line) {
      std::string record = line % 2 == 0 ? RandomBytes(rng, rng() % 70) : PaddedValue(rng);
      // The record sits inside a larger string, as a line sits in the read
      // buffer: the scans must not look at what lies around it either.
      std::string around = RandomBytes(rng, 20) + record + RandomBytes(rng, kMaskedTail);
      std::string_view view(around.data() + 20, record.size());
      BeginText(*out);
      AppendRecord(*out, view, plan, separator, line % 3 == 0 ? 0 : kMaskedTail);
      WriteLineEnd(*out);
      expected += PlainLine(record, table, separator) + "\r\n";
    }
    CollectOut(*out);  // the rest that waits in the buffer
    ASSERT_EQ(g_written, expected) << "round " << round << " capacity " << capacity;
  }
}

TEST(FastRecordPath, RecordsLongerAndShorterThanTheLayout) {
  FieldTable table;
  table.TypeCodes = {'X', 'E', 'N'};
  table.TrimCodes = {'R', 'Z', 'T'};
  table.Widths = {20, 8, 40};
  table.HeaderNames = {"", "", ""};
  table.FieldCount = 3;
  RecordPlan plan = MakePlan(table);
  std::mt19937 rng(3);
  auto out = MemoryWriter(kFileCapacity);
  std::string expected;
  for (std::size_t length : {0u, 1u, 19u, 20u, 27u, 28u, 67u, 68u, 69u, 200u, 5000u}) {
    std::string record = RandomBytes(rng, length);
    BeginText(*out);
    AppendRecord(*out, record, plan, ',');
    WriteLineEnd(*out);
    expected += PlainLine(record, table, ',') + "\r\n";
  }
  CollectOut(*out);
  EXPECT_EQ(g_written, expected);
}

// Quotes and commas at every offset of records shorter and longer than the
// bytes the fields reach, where the one search per record must serve every
// field before the byte it found and none after it. The output file flushes
// nothing, so the line end takes its short way too.
TEST(FastRecordPath, QuotesAndCommasAtEveryOffset) {
  struct Layout {
    std::vector<int> Widths;
    bool QuadWriters = false;  // the loop with the four-byte writers
  };
  const Layout layouts[] = {
      {{5, 11, 16}},              // reach 32
      {{1, 62, 1}},               // reach 64
      {{7, 20, 30, 40, 20, 11}},  // reach 128
      {{64, 65}},                 // reach 129
      {{3, 200}},
      {{1, 1, 1, 1, 100}},              // a long formula field whose 'Z' trim takes commas
      {std::vector<int>(17, 4), true},  // every kind next to others, as in short-field layouts
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1}},   // every kind at 1 to 8 bytes
      {{4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 12, 20, 40, 70}, true},  // every load in that loop
  };
  static constexpr unsigned char kTypes[] = {'X', 'E', 'N'};
  static constexpr unsigned char kTrims[] = {'T', ' ', 'L', 'R', 'Z'};
  std::mt19937 rng(5);
  for (const Layout& layout : layouts) {
    FieldTable table;
    for (std::size_t i = 0; i < layout.Widths.size(); ++i) {
      table.TypeCodes.push_back(kTypes[i % 3]);
      table.TrimCodes.push_back(kTrims[i % 5]);
      table.Widths.push_back(layout.Widths[i]);
      table.HeaderNames.emplace_back();
    }
    table.FieldCount = static_cast<int>(layout.Widths.size());
    RecordPlan plan = MakePlan(table);
    EXPECT_EQ(plan.QuadWriters, layout.QuadWriters) << "reach " << plan.BytesReached;
    for (char separator : {',', '\t'}) {
      for (std::size_t length :
           {1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u, 203u, 300u}) {
        auto out = MemoryWriter(kFileCapacity);
        std::string expected;
        for (std::size_t at = 0; at < length; ++at) {
          for (const char* marks : {"\"", ",", "\",", ",\""}) {
            std::string record(length, 'a');
            if (rng() % 2 == 0) record = RandomBytes(rng, length);
            std::replace(record.begin(), record.end(), '"', 'q');
            std::replace(record.begin(), record.end(), ',', 'c');
            record[at] = marks[0];
            if (marks[1] != 0 && at + 1 < length) record[at + 1] = marks[1];
            // Marks beyond the record, and as many as the masked path may read.
            std::string around = "\",\"," + record + std::string(kMaskedTail, '"');
            BeginText(*out);
            AppendRecord(*out, std::string_view(around.data() + 4, length), plan, separator,
                         at % 2 == 0 ? kMaskedTail : 4);
            WriteLineEnd(*out);
            expected += PlainLine(record, table, separator) + "\r\n";
          }
        }
        CollectOut(*out);
        ASSERT_EQ(g_written, expected) << "reach " << plan.BytesReached << " length " << length;
      }
    }
  }
}

// One field of every width around the 16-byte blocks of the masked path,
// with every trim and type, on values of blanks, pairs, lead and low bytes;
// the bytes after the record are blanks and pairs that must not count.
// Values of up to four bytes are first taken in every spelling of eight
// bytes that steer the rules.
TEST(FastRecordPath, MaskedFieldsOfEveryWidth) {
  static constexpr unsigned char kTypes[] = {'X', 'E', 'N'};
  static constexpr unsigned char kTrims[] = {'L', 'R', 'T', 'Z', ' '};
  static constexpr char kSteering[] = {' ', '\x81', '@', '\x83', '0', '"', ',', 'a'};
  std::mt19937 rng(13);
  for (int width = 0; width <= 130; ++width) {
    const int spellings = width <= 4 ? 1 << (3 * width) : 0;
    for (unsigned char type : kTypes) {
      for (unsigned char trim : kTrims) {
        FieldTable table;
        table.TypeCodes = {type};
        table.TrimCodes = {trim};
        table.Widths = {width};
        table.HeaderNames = {""};
        table.FieldCount = 1;
        RecordPlan plan = MakePlan(table);
        auto out = MemoryWriter(kFileCapacity);
        std::string expected;
        for (int step = 0; step < spellings + 40; ++step) {
          const int round = step - spellings;  // below 0 while spelling (either separator)
          std::string record;
          if (round < 0) {
            for (int i = 0, k = step; i < width; ++i, k >>= 3) record += kSteering[k & 7];
          } else {
            record = round % 2 == 0 ? RandomBytes(rng, static_cast<std::size_t>(width))
                                    : PaddedValue(rng);
          }
          record.resize(static_cast<std::size_t>(width), round % 4 == 1 ? ' ' : '\x81');
          // Full-width padding across the steps, from either byte of a pair.
          for (std::size_t i = record.size() / 2; round % 8 == 3 && i < record.size(); ++i) {
            record[i] = (i + static_cast<std::size_t>(round)) % 2 == 0 ? '\x81' : '\x40';
          }
          std::string around = record + " \x81\x40 \x81\x40" + std::string(kMaskedTail, ' ');
          char separator = round % 3 == 0 ? '\t' : ',';
          BeginText(*out);
          AppendRecord(*out, std::string_view(around.data(), record.size()), plan, separator,
                       kMaskedTail);
          WriteLineEnd(*out);
          expected += PlainLine(record, table, separator) + "\r\n";
        }
        CollectOut(*out);
        ASSERT_EQ(g_written, expected) << "width " << width << " type " << type << " trim " << trim;
      }
    }
  }
}

// A field far wider than the output buffer goes through AppendText piece by
// piece; a quote in it must still be doubled across the block boundaries.
TEST(FastRecordPath, FieldWiderThanTheBuffer) {
  FieldTable table;
  table.TypeCodes = {'X', 'E'};
  table.TrimCodes = {'T', ' '};
  table.Widths = {300000, 3};
  table.HeaderNames = {"", ""};
  table.FieldCount = 2;
  RecordPlan plan = MakePlan(table);
  std::string record = "  " + std::string(100000, 'a') + "\"" + std::string(199990, 'b') + "  ";
  record += "1,2";
  auto out = MemoryWriter(kFileCapacity);
  BeginText(*out);
  AppendRecord(*out, record, plan, ',');
  WriteLineEnd(*out);
  CollectOut(*out);
  EXPECT_EQ(g_written, PlainLine(record, table, ',') + "\r\n");
}

}  // namespace
}  // namespace tabulon
