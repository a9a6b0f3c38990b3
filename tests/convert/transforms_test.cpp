#include "convert/transforms.h"

#include <gtest/gtest.h>

namespace tabulon {
namespace {

TEST(CopyBytes, ClampsInsteadOfFailing) {
  std::string_view v = "ABCDEFG";
  EXPECT_EQ(CopyBytes(v, 3, 2), "CD");
  EXPECT_EQ(CopyBytes(v, 0, 3), "ABC");
  EXPECT_EQ(CopyBytes(v, -2, 3), "ABC");
  EXPECT_EQ(CopyBytes(v, 8, 1), "");
  EXPECT_EQ(CopyBytes(v, 1, -1), "");
  EXPECT_EQ(CopyBytes(v, 6, 10), "FG");
  EXPECT_EQ(CopyBytes("", 1, 5), "");
}

}  // namespace
}  // namespace tabulon
