// Windows-style wildcards for the existence test: '*' any run of bytes, '?'
// exactly one byte, every other byte itself, with case.
#include <gtest/gtest.h>

#include "platform/posix/wildcard.h"

namespace tabulon::platform {
namespace {

TEST(Wildcard, Match) {
  struct Row {
    const char* Pattern;
    const char* Name;
    bool Match;
  };
  const Row rows[] = {
      {"*", "", true},
      {"*", "abc", true},
      {"?", "", false},
      {"?", "a", true},
      {"?", "ab", false},
      {"a*b", "ab", true},
      {"a*b", "axxb", true},
      {"a*b", "axxbc", false},
      {"a*b*", "axxbc", true},
      {"*ab", "aab", true},
      {"*a*b*c", "xaybzc", true},
      {"*a*b*c", "xaybz", false},
      {"**", "x", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*.txt", "a.txt.txt", true},
      {"*.txt", "a.txt.", false},
      {"abc", "ABC", false},
      {"\x82*", "\x82\xa0", true},
      {"?", "\x82\xa0", false},
      {"??", "\x82\xa0", true},
      {"a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(WildcardMatch(row.Pattern, row.Name), row.Match)
        << row.Pattern << " against " << row.Name;
  }
}

TEST(Wildcard, Components) {
  EXPECT_EQ(LastComponent("a/b/c*.txt"), "c*.txt");
  EXPECT_EQ(DirectoryPart("a/b/c*.txt"), "a/b/");
  EXPECT_EQ(LastComponent("plain"), "plain");
  EXPECT_EQ(DirectoryPart("plain"), "");
  EXPECT_EQ(LastComponent("dir/"), "");
  EXPECT_TRUE(HasWildcard("a?"));
  EXPECT_FALSE(HasWildcard(LastComponent("d*/x.txt")));
}

}  // namespace
}  // namespace tabulon::platform
