#include "textio/spill_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace tabulon {
namespace {

// Pieces of uneven sizes past several doublings (the block moves or grows in
// place): every byte arrives once and in order, and a cleared buffer starts
// over with the same memory.
TEST(SpillBufferTest, GathersPiecesAcrossGrowth) {
  SpillBuffer spill;
  EXPECT_EQ(std::string_view(spill), "");
  std::string expected;
  std::string piece;
  for (int i = 0; expected.size() < (5u << 20); ++i) {
    piece.assign(static_cast<std::size_t>(1 + (i * 7919) % 70000), static_cast<char>('a' + i % 26));
    spill.append(piece.data(), piece.size());
    expected += piece;
  }
  ASSERT_EQ(spill.size(), expected.size());
  EXPECT_TRUE(std::string_view(spill) == expected);

  const char* kept = spill.data();
  spill.clear();
  spill.append("xy", 2);
  spill.append(nullptr, 0);
  EXPECT_EQ(std::string_view(spill), "xy");
  EXPECT_EQ(spill.data(), kept);
}

}  // namespace
}  // namespace tabulon
