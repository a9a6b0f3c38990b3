// The picture rules of --from-copybook, one row per kind of picture: the
// bytes each takes in DISPLAY and the codes it gets; and the read budget.
#include "check/copybook.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "params/parameter_file.h"

namespace tabulon::check {
namespace {

TEST(CopybookPicture, BytesAndCodes) {
  struct Row {
    const char* Picture;
    bool SignSeparate;
    bool JustRight;
    std::uint64_t Width;  // 0: refused
    char Type;
    char Trim;
  };
  const Row rows[] = {
      {"X(12)", false, false, 12, 'X', 'R'},
      {"xxA9", false, false, 4, 'X', 'R'},
      {"X(3)BX/0", false, true, 7, 'X', 'L'},
      {"N(10)", false, false, 20, 'X', 'R'},
      {"G(2)B", false, false, 5, 'X', 'R'},
      {"9(6)", false, false, 6, 'E', '\0'},
      {"S9(7)V99", false, false, 9, 'N', '\0'},
      {"S9(5)", true, false, 6, 'N', '\0'},
      {"9(5)", true, false, 5, 'E', '\0'},
      {"V999", false, false, 3, 'N', '\0'},
      {"PP99", false, false, 2, 'N', '\0'},
      {"ZZZ,ZZ9.99-", false, false, 11, 'X', 'L'},
      {"ZZ9.99CR", false, false, 8, 'N', 'L'},
      {"***9.99db", false, false, 9, 'N', 'L'},
      {"$9(3)", false, false, 4, 'N', 'L'},
      {"99/99/99", false, false, 8, 'N', 'L'},
      {"+++9", false, false, 4, 'N', 'L'},
      {"X(0)", false, false, 0, 0, 0},
      {"X(2", false, false, 0, 0, 0},
      {"9S9", false, false, 0, 0, 0},
      {"S9(3)V9V9", false, false, 0, 0, 0},
      {"SZZ9", false, false, 0, 0, 0},
      {"NX", false, false, 0, 0, 0},
      {"XZ", false, false, 0, 0, 0},
      {"SV", false, false, 0, 0, 0},
      {"B/", false, false, 0, 0, 0},
      {"E99", false, false, 0, 0, 0},
      {"X(2147483648)", false, false, 0, 0, 0},
  };
  for (const Row& row : rows) {
    PictureField field;
    const bool read = ParsePicture(row.Picture, row.SignSeparate, row.JustRight, field);
    EXPECT_EQ(read, row.Width != 0) << row.Picture;
    if (!read || row.Width == 0) continue;
    EXPECT_EQ(field.Width, row.Width) << row.Picture;
    EXPECT_EQ(field.Type, row.Type) << row.Picture;
    EXPECT_EQ(field.Trim, row.Trim) << row.Picture;
  }
}

TEST(CopybookPicture, ReadingPastTheParameterBudgetFailsAsMemoryDoes) {
  ReadBudget budget;
  budget.Spend(kParameterBudget);
  EXPECT_THROW(budget.Spend(1), std::bad_alloc);
}

}  // namespace
}  // namespace tabulon::check
