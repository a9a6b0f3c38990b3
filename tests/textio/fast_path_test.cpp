// The line reader finds line stops 32, 16 (or eight) bytes at a time and
// hands out lines as views into its buffer. Checked here against reading the
// same bytes one at a time by the line rules, with every stop byte at every
// offset inside a block and across refills of many buffer sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/reference_model.h"
#include "textio/line_file.h"
#include "textio/memory_device.h"

namespace tabulon {
namespace {

// The expected lines: the reference model's.
std::vector<std::string> PlainLines(const std::string& data) {
  return reference::TextLines(data);
}

std::vector<std::string> ReadAll(const std::string& data, std::uint32_t capacity,
                                 std::size_t kept_limit = static_cast<std::size_t>(-1)) {
  MemoryDevice device;
  device.Source = data;
  auto file = std::make_unique<LineFile>();
  OpenMemoryReader(*file, device, capacity);
  std::vector<std::string> lines;
  SpillBuffer spill;
  while (!AtEndOfData(*file)) lines.emplace_back(ReadTextLine(*file, spill, kept_limit));
  return lines;
}

// A line of `length` letters, then the stop: every stop byte lands at every
// offset of a 16-byte and a 64-byte block as the lengths run from 0 to 140.
TEST(FastLineReader, EveryStopAtEveryOffset) {
  const std::vector<std::string> stops = {"\n", "\r\n", "\rx\n", "\r", "\x1A"};
  for (const std::string& stop : stops) {
    for (std::size_t lead = 0; lead < 17; ++lead) {
      for (std::size_t length = 0; length <= 140; ++length) {
        std::string data = std::string(lead, 'p') + "\n" + std::string(length, 'a') + stop + "tail";
        for (std::uint32_t capacity : {1u, 3u, 16u, 17u, 128u, kFileCapacity}) {
          ASSERT_EQ(ReadAll(data, capacity), PlainLines(data))
              << "stop " << static_cast<int>(stop[0]) << " lead " << lead << " length " << length
              << " capacity " << capacity;
        }
      }
    }
  }
}

// The first pass over 64-byte blocks only looks for bytes at or below the
// Ctrl-Z; other low bytes there (and 0x1B just above) must not stop the line.
TEST(FastLineReader, LowBytesThatAreNoStops) {
  for (char decoy : {'\0', '\t', '\x0B', '\x0C', '\x0E', '\x19', '\x1B'}) {
    for (std::size_t length : {31u, 32u, 33u, 63u, 64u, 65u, 70u, 127u, 128u, 129u}) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string line(length, 'a');
        line[at] = decoy;
        std::string data = line + "\r\n" + line + "\n" + line;
        for (std::uint32_t capacity : {16u, 33u, kFileCapacity}) {
          ASSERT_EQ(ReadAll(data, capacity), PlainLines(data))
              << "decoy " << static_cast<int>(decoy) << " length " << length << " at " << at;
        }
      }
    }
  }
}

TEST(FastLineReader, RandomDataAtManyCapacities) {
  std::mt19937 rng(5);
  const char bytes[] = {'a', 'b', '\r', '\n', '\x81', '\0', ' '};
  for (int round = 0; round < 300; ++round) {
    std::string data;
    std::size_t size = rng() % 2000;
    for (std::size_t i = 0; i < size; ++i) {
      // Mostly letters, so that lines are long enough to span blocks.
      data += rng() % 8 == 0 ? bytes[rng() % 7] : static_cast<char>('c' + rng() % 20);
    }
    if (round % 10 == 0) data.insert(rng() % (data.size() + 1), 1, '\x1A');
    for (std::uint32_t capacity : {1u, 2u, 15u, 64u, 1000u, kFileCapacity}) {
      ASSERT_EQ(ReadAll(data, capacity), PlainLines(data))
          << "round " << round << " capacity " << capacity;
    }
  }
}

// A line much longer than the buffer is gathered across refills whole.
TEST(FastLineReader, LineLongerThanTheBuffer) {
  std::string line(3 * kFileCapacity + 5, 'x');
  line[kFileCapacity - 1] = '\r';  // a dropped CR right at a refill boundary
  std::string data = line + "\r\nnext";
  EXPECT_EQ(ReadAll(data, kFileCapacity), PlainLines(data));
}

// Keeping only the first bytes of each line delivers exactly those bytes and
// still consumes every line whole, whatever the buffer size.
TEST(FastLineReader, KeepsOnlyTheFirstBytesOfEachLine) {
  std::string data = std::string(300, 'a') + "\r\n" + "bc\rd\n" +
                     std::string(2 * kFileCapacity, 'e') + "\r" + "f\r\n\nlast";
  std::vector<std::string> whole = PlainLines(data);
  for (std::size_t kept_limit : {0u, 1u, 2u, 5u, 299u, 300u, 70000u}) {
    std::vector<std::string> expected;
    for (const std::string& line : whole) expected.push_back(line.substr(0, kept_limit));
    for (std::uint32_t capacity : {1u, 2u, 3u, 128u, kFileCapacity}) {
      ASSERT_EQ(ReadAll(data, capacity, kept_limit), expected)
          << "kept_limit " << kept_limit << " capacity " << capacity;
    }
  }
}

}  // namespace
}  // namespace tabulon
