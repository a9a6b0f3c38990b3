// How a text file is cut into lines, at every buffer capacity: the rules must
// not depend on where the refills fall (a CR LF pair split across two reads,
// a Ctrl-Z as the first byte of a refill, a line longer than the buffer).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/temp_dir.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

using Lines = std::vector<std::string>;
using namespace std::string_literals;

constexpr std::uint32_t kCapacities[] = {1, 2, 3, 128, kFileCapacity};

struct LineCase {
  const char* label;
  std::string data;
  Lines lines;
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

class LineRules : public ::testing::Test {
 protected:
  void SetUp() override { PendingIoCode = 0; }
  test::TempDir dir_;
};

TEST_F(LineRules, EveryCaseAtEveryCapacity) {
  for (const LineCase& c : Cases()) {
    std::string path = dir_.Write("text.txt", c.data);
    for (std::uint32_t capacity : kCapacities) {
      for (bool owned : {false, true}) {
        EXPECT_EQ(ReadAll(path, capacity, owned), c.lines)
            << c.label << ", capacity " << capacity << (owned ? ", owned" : ", view");
      }
    }
  }
}

// The same rules, one byte at a time: every CR, LF and Ctrl-Z decided on its
// own, with no buffer at all.
Lines Reference(const std::string& data) {
  Lines lines;
  std::size_t i = 0, n = data.size();
  while (i < n && data[i] != '\x1A') {
    std::string value;
    for (;;) {
      if (i >= n || data[i] == '\x1A') break;
      char b = data[i++];
      if (b == '\n') break;
      if (b == '\r') {
        if (i < n && data[i] == '\n') {
          ++i;
          break;
        }
        continue;
      }
      value += b;
    }
    lines.push_back(value);
  }
  return lines;
}

TEST_F(LineRules, RandomDataAgreesWithByteByByteReading) {
  std::mt19937 random(20240601);
  const char alphabet[] = {'A', 'B', '\r', '\n', '\x1A', '\0', '\x8A', '\x8D', '\r', '\n'};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<std::size_t> length(0, 400);
  for (int round = 0; round < 200; ++round) {
    std::string data;
    for (std::size_t i = length(random); i > 0; --i) {
      // Ctrl-Z rarely, so that most files get past their first few bytes.
      char b = alphabet[pick(random)];
      data += (b == '\x1A' && random() % 8 != 0) ? 'C' : b;
    }
    std::string path = dir_.Write("random.txt", data);
    Lines want = Reference(data);
    for (std::uint32_t capacity : kCapacities) {
      ASSERT_EQ(ReadAll(path, capacity, capacity % 2 == 0), want)
          << "round " << round << ", capacity " << capacity;
    }
  }
}

// After the file reported its end, the system is not asked again: bytes
// appended later are never seen.
TEST_F(LineRules, NoReadAfterTheEnd) {
  for (std::uint32_t capacity : kCapacities) {
    std::string path = dir_.Write("grow.txt", "AB\r\n");
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

}  // namespace
}  // namespace tabulon
