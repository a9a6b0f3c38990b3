// How a text file is cut into lines, at every buffer capacity: the rules must
// not depend on where the refills fall (a CR LF pair split across two reads,
// a Ctrl-Z as the first byte of a refill, a line longer than the buffer).
//
// The reader finds line stops 32, 16 (or eight) bytes at a time and hands out
// lines as views into its buffer. Every check here compares its lines with
// reading the same bytes one at a time (the reference model's TextLines):
// named cases from a file on disk, every stop byte at every offset inside a
// block, random data, and lines cut to their first bytes, across refills of
// many buffer sizes.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/reference_model.h"
#include "platform/temp_dir.h"
#include "support/memory_device.h"
#include "support/owned_forms.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

using Lines = std::vector<std::string>;
using namespace std::string_literals;

constexpr std::uint32_t kCapacities[] = {1, 2, 3, 128, kFileCapacity};

struct LineCase {
  const char* Label;
  std::string Data;
  Lines Expected;
};

std::string Run(std::size_t n, char c) {
  return std::string(n, c);
}

const std::vector<LineCase>& Cases() {
  static const std::vector<LineCase> cases = {
      {"empty file", "", {}},
      {"CR LF lines", "AB\r\nCD\r\n", {"AB", "CD"}},
      {"LF lines, last without line end", "AB\nCD", {"AB", "CD"}},
      {"empty line between", "AB\r\n\r\nCD\n\nEF", {"AB", "", "CD", "", "EF"}},
      {"only CR LF", "\r\n", {""}},
      {"only LF", "\n", {""}},
      {"lone CR dropped", "A\rB\r\n", {"AB"}},
      {"CR CR LF", "A\r\r\nB", {"A", "B"}},
      {"LF CR", "\n\rB", {"", "B"}},
      {"last line ends in lone CR", "AB\r\nCD\r", {"AB", "CD"}},
      {"only a lone CR", "\r", {""}},
      {"lone CRs in a row", "\r\rA\r\r\r\nB\r\r", {"A", "B"}},
      {"Ctrl-Z after the last line end",
       "AB\r\n\x1A"
       "CD\r\n",
       {"AB"}},
      {"Ctrl-Z mid-line",
       "AB\x1A"
       "CD\r\nEF",
       {"AB"}},
      {"Ctrl-Z at start",
       "\x1A"
       "AB\r\n",
       {}},
      {"Ctrl-Z after CR",
       "A\r\x1A"
       "B\r\n",
       {"A"}},
      {"Ctrl-Z after CR LF CR", "A\r\n\r\x1A", {"A", ""}},
      {"NUL kept", "A\0B\r\n\0\n"s, {"A\0B"s, "\0"s}},
      {"bytes are not characters", "\x82\r\n\x81\nA\x82\xa0", {"\x82", "\x81", "A\x82\xa0"}},
      {"high bytes near the stop bytes",
       "\x8A\x8D\x9A\x0B\x0C\x19\x1B\x09\x8A\n",
       {"\x8A\x8D\x9A\x0B\x0C\x19\x1B\x09\x8A"}},
      {"stops at every offset of a word",
       "0123456\r\n01234567\n012345678\r\n\x1A",
       {"0123456", "01234567", "012345678"}},
      {"stops at the edges of a 16-byte block",
       Run(15, 'e') + "\n" + Run(16, 'f') + "\r\n" + Run(17, 'g') + "\r" + Run(31, 'h') + "\x1A",
       {Run(15, 'e'), Run(16, 'f'), Run(17, 'g') + Run(31, 'h')}},
      {"line of 255 bytes", Run(255, 'a') + "\r\n", {Run(255, 'a')}},
      {"line of 300 bytes", Run(300, 'b') + "\r\nX", {Run(300, 'b'), "X"}},
      {"line of 510 bytes, no line end", Run(510, 'c'), {Run(510, 'c')}},
      {"CR as the last byte of a full buffer", Run(127, 'd') + "\r\nE", {Run(127, 'd'), "E"}},
      {"lone CR as the last byte of a full buffer", Run(127, 'd') + "\rE\n", {Run(127, 'd') + "E"}},
      {"Ctrl-Z as the first byte of a refill", Run(127, 'd') + "\r\x1A", {Run(127, 'd')}},
      {"Ctrl-Z as the first byte of a refill after a line",
       Run(126, 'd') + "\r\n\x1A",
       {Run(126, 'd')}},
  };
  return cases;
}

// Reads every line the way the converter does: AtEndOfData, then ReadTextLine.
Lines ReadAll(const std::string& path, std::uint32_t capacity, bool owned) {
  auto file = std::make_unique<LineFile>();
  BindName(*file, path, capacity);
  EXPECT_EQ(OpenForReading(*file), 0);
  Lines lines;
  SpillBuffer spill;
  while (!AtEndOfData(*file)) {
    if (lines.size() > 10000) break;  // a reader that never ends
    lines.push_back(owned ? ReadTextLine(*file) : std::string(ReadTextLine(*file, spill)));
  }
  // Once ended, the data stays ended.
  EXPECT_TRUE(AtEndOfData(*file));
  EXPECT_EQ(ReadTextLine(*file), "");
  EXPECT_TRUE(AtEndOfData(*file));
  CloseLineFile(*file);
  EXPECT_EQ(PendingIoCode, 0);
  return lines;
}

// Reads every line from memory, each cut to its first `kept_limit` bytes,
// with LF bytes after the data in the buffer: none of them may be read. With
// `piece`, refills shorter than the buffer, as from a pipe.
Lines ReadAllFromMemory(const std::string& data, std::uint32_t capacity,
                        std::size_t kept_limit = static_cast<std::size_t>(-1),
                        std::size_t piece = 0) {
  MemoryDevice device;
  device.Source = data;
  device.Piece = piece;
  device.Poisons = true;
  auto file = std::make_unique<LineFile>();
  OpenMemoryReader(*file, device, capacity);
  Lines lines;
  SpillBuffer spill;
  while (!AtEndOfData(*file)) lines.emplace_back(ReadTextLine(*file, spill, kept_limit));
  return lines;
}

class LineRules : public ::testing::Test {
 protected:
  void SetUp() override { PendingIoCode = 0; }
  test::TempDir Dir;
};

TEST_F(LineRules, EveryCaseAtEveryCapacity) {
  for (const LineCase& c : Cases()) {
    std::string path = Dir.Write("text.txt", c.Data);
    for (std::uint32_t capacity : kCapacities) {
      for (bool owned : {false, true}) {
        EXPECT_EQ(ReadAll(path, capacity, owned), c.Expected)
            << c.Label << ", capacity " << capacity << (owned ? ", owned" : ", view");
      }
    }
  }
}

// Random data, read from memory and from a file on disk: even rounds mostly
// letters, so that lines are long enough to span blocks; odd rounds dense
// with stop bytes and bytes just above them.
TEST_F(LineRules, RandomDataAgreesWithTheModel) {
  std::mt19937 random(5);
  const char sparse[] = {'a', 'b', '\r', '\n', '\x81', '\0', ' '};
  const char dense[] = {'A', 'B', '\r', '\n', '\x1A', '\0', '\x8A', '\x8D', '\r', '\n'};
  for (int round = 0; round < 600; ++round) {
    std::string data;
    if (round % 2 == 0) {
      std::size_t size = random() % 2000;
      for (std::size_t i = 0; i < size; ++i) {
        data += random() % 8 == 0 ? sparse[random() % sizeof sparse]
                                  : static_cast<char>('c' + random() % 20);
      }
      if (round % 20 == 0) data.insert(random() % (data.size() + 1), 1, '\x1A');
    } else {
      for (std::size_t i = random() % 401; i > 0; --i) {
        // Ctrl-Z rarely, so that most files get past their first few bytes.
        char b = dense[random() % sizeof dense];
        data += (b == '\x1A' && random() % 8 != 0) ? 'C' : b;
      }
    }
    Lines want = reference::TextLines(data);
    for (std::uint32_t capacity : {1u, 2u, 15u, 64u, 1000u, kFileCapacity}) {
      ASSERT_EQ(ReadAllFromMemory(data, capacity), want)
          << "round " << round << ", capacity " << capacity;
      ASSERT_EQ(ReadAllFromMemory(data, capacity, static_cast<std::size_t>(-1),
                                  static_cast<std::size_t>(round % 29 + 1)),
                want)
          << "round " << round << ", capacity " << capacity << ", pieces up to " << round % 29 + 1;
    }
    std::string path = Dir.Write("random.txt", data);
    for (std::uint32_t capacity : kCapacities) {
      ASSERT_EQ(ReadAll(path, capacity, capacity % 2 == 0), want)
          << "round " << round << ", capacity " << capacity << ", from disk";
    }
  }
}

// After the file reported its end, the system is not asked again: bytes
// appended later are never seen.
TEST_F(LineRules, NoReadAfterTheEnd) {
  for (std::uint32_t capacity : kCapacities) {
    std::string path = Dir.Write("grow.txt", "AB\r\n");
    auto file = std::make_unique<LineFile>();
    BindName(*file, path, capacity);
    ASSERT_EQ(OpenForReading(*file), 0);
    EXPECT_FALSE(AtEndOfData(*file));
    EXPECT_EQ(ReadTextLine(*file), "AB");
    EXPECT_TRUE(AtEndOfData(*file));
    std::ofstream(path, std::ios::binary | std::ios::app) << "CD\r\n";
    EXPECT_TRUE(AtEndOfData(*file)) << "capacity " << capacity;
    EXPECT_EQ(ReadTextLine(*file), "");
    CloseLineFile(*file);
  }
  EXPECT_EQ(PendingIoCode, 0);
}

// A line of `length` letters, then the stop: every stop byte lands at every
// offset of a 16-byte block and of both halves of a 128-byte step as the
// lengths run from 0 to 270.
// A line expected to be of about its true length stops where FindLineStop
// says, whatever the expectation.
void ExpectSameStopWhateverExpected(const std::string& data, std::size_t from, std::size_t length) {
  const char* begin = data.data() + from;
  const char* end = data.data() + data.size();
  for (std::size_t expected : {std::size_t{0}, std::size_t{16}, length - 1, length, length + 1}) {
    ASSERT_EQ(FindLineStopAt(begin, end, expected), FindLineStop(begin, end))
        << "length " << length << " expected " << expected;
  }
}

TEST(FastLineReader, EveryStopAtEveryOffset) {
  const Lines stops = {"\n", "\r\n", "\rx\n", "\r", "\x1A"};
  for (const std::string& stop : stops) {
    for (std::size_t lead = 0; lead < 17; ++lead) {
      for (std::size_t length = 0; length <= 270; ++length) {
        std::string data = std::string(lead, 'p') + "\n" + std::string(length, 'a') + stop + "tail";
        ExpectSameStopWhateverExpected(data, lead + 1, length);
        for (std::uint32_t capacity : {1u, 3u, 16u, 17u, 128u, kFileCapacity}) {
          ASSERT_EQ(ReadAllFromMemory(data, capacity), reference::TextLines(data))
              << "stop " << static_cast<int>(stop[0]) << " lead " << lead << " length " << length
              << " capacity " << capacity;
        }
      }
    }
  }
}

// The first pass over 128-byte steps only looks for bytes at or below the
// Ctrl-Z; other low bytes there (and 0x1B just above) must not stop the line,
// and a stop inside a line expected to end later must.
TEST(FastLineReader, LowBytesAndStopsInsideALine) {
  for (char decoy : {'\0', '\t', '\x0B', '\x0C', '\x0E', '\x19', '\x1B', '\r', '\n', '\x1A'}) {
    for (std::size_t length :
         {31u, 32u, 33u, 63u, 64u, 65u, 70u, 127u, 128u, 129u, 191u, 192u, 193u, 255u, 256u}) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string line(length, 'a');
        line[at] = decoy;
        std::string data = line + "\r\n" + line + "\n" + line;
        ExpectSameStopWhateverExpected(data, length + 2, length);
        for (std::uint32_t capacity : {16u, 33u, kFileCapacity}) {
          ASSERT_EQ(ReadAllFromMemory(data, capacity), reference::TextLines(data))
              << "decoy " << static_cast<int>(decoy) << " length " << length << " at " << at;
        }
      }
    }
  }
}

// A line much longer than the buffer is gathered across refills whole.
TEST(FastLineReader, LineLongerThanTheBuffer) {
  std::string line(3 * kFileCapacity + 5, 'x');
  line[kFileCapacity - 1] = '\r';  // a dropped CR right at a refill boundary
  std::string data = line + "\r\nnext";
  EXPECT_EQ(ReadAllFromMemory(data, kFileCapacity), reference::TextLines(data));
}

// Keeping only the first bytes of each line delivers exactly those bytes and
// still consumes every line whole, whatever the buffer size.
TEST(FastLineReader, KeepsOnlyTheFirstBytesOfEachLine) {
  std::string data = std::string(300, 'a') + "\r\n" + "bc\rd\n" +
                     std::string(2 * kFileCapacity, 'e') + "\r" + "f\r\n\nlast";
  Lines whole = reference::TextLines(data);
  for (std::size_t kept_limit : {0u, 1u, 2u, 5u, 299u, 300u, 70000u}) {
    Lines expected;
    for (const std::string& line : whole) expected.push_back(line.substr(0, kept_limit));
    for (std::uint32_t capacity : {1u, 2u, 3u, 128u, kFileCapacity}) {
      ASSERT_EQ(ReadAllFromMemory(data, capacity, kept_limit), expected)
          << "kept_limit " << kept_limit << " capacity " << capacity;
    }
  }
}

}  // namespace
}  // namespace tabulon
