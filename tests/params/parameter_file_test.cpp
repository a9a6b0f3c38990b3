#include "params/parameter_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <climits>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/messages.h"
#include "platform/temp_dir.h"
#include "support/owned_forms.h"

namespace tabulon {
namespace {

using Lines = std::vector<std::string>;

// The diagnostics, as the user sees them on standard error: the text before
// the line number and the text after it.
const std::string kTooFew(messages::kTooFewItems.Cp932);
const std::string kItem1(messages::kItem1Missing.Cp932);
const std::string kItem2(messages::kItem2Missing.Cp932);
const std::string kTooMany(messages::kTooManyItems.Cp932);
const std::string kLineSuffix(messages::kLineNumberTail.Cp932);

// "'%s' は整数ではありません"
std::string NotAnIntegerMessage(const std::string& item) {
  return std::string(messages::kNotAnIntegerHead.Cp932) + item +
         std::string(messages::kNotAnIntegerTail.Cp932);
}

std::string Diagnostic(const std::string& before, int line) {
  return before + std::to_string(line) + kLineSuffix;
}

Lines SplitLinesOf(const std::string& text) {
  Lines lines;
  for (std::string_view line : SplitLines(text)) lines.emplace_back(line);
  return lines;
}

TEST(SplitLines, EveryLineEndStyleAndTheNulEnd) {
  struct Case {
    std::string Input;
    Lines Expected;
  };
  const Case cases[] = {
      {"A,1\r\nB,2", {"A,1", "B,2"}},
      {"A,1\r\nB,2\r\n", {"A,1", "B,2"}},
      {"A,1\r\n\r\n", {"A,1", ""}},
      {"A,1\nB,2\rC,3", {"A,1", "B,2", "C,3"}},
      {"A,1\n\rB,2", {"A,1", "", "B,2"}},
      {"A,1\r\r\nB,2", {"A,1", "", "B,2"}},
      {std::string("A,1\0B,2\r\n", 9), {"A,1"}},
      {std::string("\0A,1", 4), {}},
      {"", {}},
      {"\n", {""}},
      {"X,5\r\n\x1a", {"X,5", "\x1a"}},  // Ctrl-Z is an ordinary byte
      {"\x83\x81\n", {"\x83\x81"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitLinesOf(c.Input), c.Expected) << c.Input;
}

TEST(SplitItems, ItemsSeparatorsAndQuotes) {
  struct Case {
    std::string Line;
    Lines Items;
  };
  const Case cases[] = {
      {"X,10,T,Amount", {"X", "10", "T", "Amount"}},
      {"X, 10 ,T", {"X", "10", "T"}},
      {"X 10\tT", {"X", "10", "T"}},
      {"X,10,,Amount", {"X", "10", "", "Amount"}},
      {"X,10,", {"X", "10", ""}},
      {"X,10, ", {"X", "10"}},
      {"X,10 ,", {"X", "10", ""}},
      {"X,10,,", {"X", "10", "", ""}},
      {",10", {"", "10"}},
      {",,T", {"", "", "T"}},
      {"X,10,T,Unit Price", {"X", "10", "T", "Unit", "Price"}},
      {"X,10,T,\"Unit Price\"", {"X", "10", "T", "Unit Price"}},
      {"X,10,T,\"a \"\"b\"\", c\"", {"X", "10", "T", "a \"b\", c"}},
      {"X,10,T,\"ab\"cd", {"X", "10", "T", "ab", "cd"}},
      {"X,10,T,ab\"cd", {"X", "10", "T", "ab\"cd"}},
      {"X,10,T,\"ab", {"X", "10", "T", "ab"}},
      {"X,10,T,\"a\"\"b", {"X", "10", "T", "a\"b"}},
      {"X,10,T,\"\"", {"X", "10", "T", ""}},
      {"", {}},
      {" \t \t", {}},
      {"\x1a", {}},
      {"X,5\x1a", {"X", "5"}},
      {"\x01X\x1f"
       "5\x7f",
       {"X", "5\x7f"}},  // 0x01 to 0x20 separate; 0x7F does not
      // A lead byte and the byte after it are one character: the second byte
      // is never a comma, separator or quote, wherever the character stands.
      {"X,10,T,\x83,b", {"X", "10", "T", "\x83,b"}},
      {"X,10,T,\x81 b", {"X", "10", "T", "\x81 b"}},
      {"X,10,\x83,", {"X", "10", "\x83,"}},
      {"X,10,T,\"a\x83\"b\"", {"X", "10", "T", "a\x83\"b"}},
      {"X,10,T,\"\x83\"\"", {"X", "10", "T", "\x83\""}},
      {"X,10,T,\x83\"ab\"", {"X", "10", "T", "\x83\"ab\""}},
      {"X,10,\x83", {"X", "10", "\x83"}},  // a lead byte as the last byte stands alone
      {"X,10,T,\"\x83", {"X", "10", "T", "\x83"}},
      {"X,10,\x83\x40,\x8c\xbf", {"X", "10", "\x83\x40", "\x8c\xbf"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitItems(c.Line), c.Items) << c.Line;
}

TEST(ParseWidth, DecimalAndHexadecimalWidths) {
  struct Case {
    std::string Item;
    std::int32_t Width;
  };
  const Case cases[] = {
      {"12", 12},
      {"+12", 12},
      {"0012", 12},
      {"-3", -3},
      {"0", 0},
      {"-1", -1},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"$FFFFFFFF", -1},
      {"$80000000", INT_MIN},
      {"$00000000000000001", 1},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"000000000000000000002147483647", INT_MAX},
      {" 12", 12},
      {"  -12", -12},
      // A sign before a hexadecimal width: '-' negates it in 32-bit two's
      // complement, '+' changes nothing.
      {"-$10", -16},
      {"-$FFFFFFFF", 1},
      {"-$80000000", INT_MIN},
      {"-0x1", -1},
      {"+x1F", 31},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWidth(c.Item), c.Width) << c.Item;
}

TEST(ParseWidth, ItemsThatAreNotIntegersRaiseConvertError) {
  const std::string invalid[] = {
      "2147483648", "-2147483649", "$100000000", "-$100000000", "12 ", "1.5",      "12a",  "+",
      "-",          "$",           "0x",         "x",           "--1", "+-1",      "\t12", "1 2",
      "$1G",        "0x 1",        "- 1",        "$-1",         "",    "\x82\x4f",
  };
  for (const std::string& item : invalid) {
    std::string message = NotAnIntegerMessage(item);
    try {
      ParseWidth(item);
      ADD_FAILURE() << "accepted: " << item;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), message);
      EXPECT_STREQ(error.KindName(), "EConvertError");
    }
  }
}

TEST(UpperCode, ClearsBitFiveOfEveryByte) {
  const std::pair<unsigned char, unsigned char> cases[] = {
      {'x', 'X'},  {'X', 'X'},   {'z', 'Z'},   {'9', 0x19},  {' ', 0x00},
      {'#', 0x03}, {0xE0, 0xC0}, {0x00, 0x00}, {0x19, 0x19},
  };
  for (auto [code, upper] : cases) {
    EXPECT_EQ(UpperCode(code), upper) << int{code};
    EXPECT_EQ(UpperCode(UpperCode(code)), upper);
  }
}

// One field's slot: type code, width, trim code, header name.
struct Slot {
  unsigned char TypeCode;
  std::int32_t Width;
  unsigned char TrimCode;
  std::string HeaderName;
  bool operator==(const Slot&) const = default;
};

std::vector<Slot> SlotsOf(const FieldTable& table) {
  EXPECT_EQ(table.Widths.size(), table.TypeCodes.size());
  EXPECT_EQ(table.TrimCodes.size(), table.TypeCodes.size());
  EXPECT_EQ(table.HeaderNames.size(), table.TypeCodes.size());
  std::vector<Slot> slots;
  for (std::size_t i = 0; i < table.SlotCount(); ++i) {
    slots.push_back(
        {table.TypeCodes[i], table.Widths[i], table.TrimCodes[i], table.HeaderNames[i]});
  }
  return slots;
}

std::ostream& operator<<(std::ostream& os, const Slot& s) {
  return os << "{" << int{s.TypeCode} << "," << s.Width << "," << int{s.TrimCode} << ",'"
            << s.HeaderName << "'}";
}

const Slot kZeroed{0, 0, 0, ""};

TEST(LoadParameterText, FillsOneSlotPerLineAndReportsTheLastDiagnostic) {
  struct Case {
    const char* What;
    std::string Input;
    std::vector<Slot> Slots;
    std::int32_t FieldCount;
    std::string ErrorText;
  };
  const Case cases[] = {
      {"empty file", "", {}, 0, ""},
      {"NUL first", std::string("\0X,5\r\n", 6), {}, 0, ""},
      {"comments only", "# a\r\n# b\r\n", {kZeroed, kZeroed}, 0, ""},
      {"comments around fields",
       "# comment\r\nX,5\r\n# comment\r\nE,3,t,Zip\r\n",
       {{'X', 5, ' ', ""}, {'E', 3, 'T', "Zip"}, kZeroed, kZeroed},
       2,
       ""},
      {"lower-case codes", "x,5,r\r\n", {{'X', 5, 'R', ""}}, 1, ""},
      {"digit code", "9,5\r\n", {{0x19, 5, ' ', ""}}, 1, ""},
      {"quoted blank code", "\" \",5\r\n", {{0x00, 5, ' ', ""}}, 1, ""},
      {"only the first byte of a code counts", "xyz,5,left\r\n", {{'X', 5, 'L', ""}}, 1, ""},
      {"empty trim item stores a blank", "X,5,,Name\r\n", {{'X', 5, ' ', "Name"}}, 1, ""},
      {"trim code is folded", "X,5,#\r\n", {{'X', 5, 0x03, ""}}, 1, ""},
      {"blank before '#' is a field line", " #,5\r\n", {{0x03, 5, ' ', ""}}, 1, ""},
      {"quoted header name", "X,5,T,\"Unit Price\"\r\n", {{'X', 5, 'T', "Unit Price"}}, 1, ""},
      {"trailing comma", "X,10,\r\n", {{'X', 10, ' ', ""}}, 1, ""},
      {"trailing comma and blank", "X,10, \r\n", {{'X', 10, ' ', ""}}, 1, ""},
      {"width 0 and -1", "X,0\r\nX,-1\r\n", {{'X', 0, ' ', ""}, {'X', -1, ' ', ""}}, 2, ""},
      {"Ctrl-Z ending a field line", "X,5\x1a\r\n", {{'X', 5, ' ', ""}}, 1, ""},
      {"empty line between fields takes a slot",
       "X,1\r\n\r\nX,2\r\n",
       {{'X', 1, ' ', ""}, kZeroed, {'X', 2, ' ', ""}},
       3,
       Diagnostic(kTooFew, 2)},
      {"two line ends at the end",
       "X,1\r\n\r\n",
       {{'X', 1, ' ', ""}, kZeroed},
       2,
       Diagnostic(kTooFew, 2)},
      {"last line only Ctrl-Z",
       "X,1\r\n\x1a",
       {{'X', 1, ' ', ""}, kZeroed},
       2,
       Diagnostic(kTooFew, 2)},
      {"one item",
       "X,1\r\nY,2\r\nZ\r\n",
       {{'X', 1, ' ', ""}, {'Y', 2, ' ', ""}, kZeroed},
       3,
       Diagnostic(kTooFew, 3)},
      {"unquoted name with a blank", "X,5,T,Unit Price\r\n", {kZeroed}, 1, Diagnostic(kTooMany, 1)},
      {"item 1 empty: the type slot stays untouched",
       ",5,t,Name\r\n",
       {{0, 5, 'T', "Name"}},
       1,
       Diagnostic(kItem1, 1)},
      {"item 2 empty: the width slot stays untouched",
       "X,\"\",t\r\n",
       {{'X', 0, 'T', ""}},
       1,
       Diagnostic(kItem2, 1)},
      {"items 1 and 2 empty: the item-2 diagnostic",
       ",,T\r\n",
       {{0, 0, 'T', ""}},
       1,
       Diagnostic(kItem2, 1)},
      {"line numbers count comments",
       "# a\r\n# b\r\nX\r\n",
       {kZeroed, kZeroed, kZeroed},
       1,
       Diagnostic(kTooFew, 3)},
      {"the later of two diagnostics wins",
       "X\r\nX,1,a,b,c\r\nX,1\r\n",
       {kZeroed, kZeroed, {'X', 1, ' ', ""}},
       3,
       Diagnostic(kTooMany, 2)},
      {"the later of two diagnostics wins, reversed",
       "X,1,a,b,c\r\nX\r\n",
       {kZeroed, kZeroed},
       2,
       Diagnostic(kTooFew, 2)},
      {"two-digit line number",
       "#\n#\n#\n#\n#\n#\n#\n#\n#\nX,1\nX,1,,,,\n",
       {{'X', 1, ' ', ""},
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed,
        kZeroed},
       2,
       Diagnostic(kTooMany, 11)},
  };
  for (const Case& c : cases) {
    FieldTable table;
    EXPECT_EQ(LoadParameterText(c.Input, table), c.ErrorText) << c.What;
    EXPECT_EQ(SlotsOf(table), c.Slots) << c.What;
    EXPECT_EQ(table.FieldCount, c.FieldCount) << c.What;
  }
}

TEST(LoadParameterText, DiagnosticsAreTheExactBytes) {
  struct Case {
    std::string Input;
    std::string Bytes;
  };
  const Case cases[] = {
      {"X", kTooFew + "1" + kLineSuffix},
      {",1", kItem1 + "1" + kLineSuffix},
      {"X,\"\"", kItem2 + "1" + kLineSuffix},
      {"1 2 3 4 5", kTooMany + "1" + kLineSuffix},
  };
  for (const Case& c : cases) {
    FieldTable table;
    EXPECT_EQ(LoadParameterText(c.Input, table), c.Bytes) << c.Input;
  }
}

TEST(LoadParameterText, WidthThatIsNotANumberStopsLoadingWithFieldCountZero) {
  const std::pair<std::string, std::string> cases[] = {
      {",abc\r\n", "abc"},                   // after the item-1 diagnostic of the same line
      {"X\r\nX,1\r\nX,\" 1 \"\r\n", " 1 "},  // after an earlier diagnostic
      {"X,\"1\"\"2\"\r\n", "1\"2"},          // the item as split: doubled quotes halved
  };
  for (const auto& [text, item] : cases) {
    FieldTable table;
    try {
      LoadParameterText(text, table);
      ADD_FAILURE() << text;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), NotAnIntegerMessage(item));
    }
    EXPECT_EQ(table.FieldCount, 0) << text;
  }
}

// A parameter file in a temporary directory, removed afterwards.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) : FilePath(Dir.Write("params.txt", contents)) {}
  const std::string& Path() const { return FilePath; }

 private:
  test::TempDir Dir;
  std::string FilePath;
};

TEST(LoadParameterFile, ReadsTheFileWhole) {
  TempFile file("# layout\r\nX,8,R,Name\r\nE,4\r\n");
  FieldTable table;
  EXPECT_EQ(LoadParameterFile(file.Path(), table), "");
  EXPECT_EQ(SlotsOf(table), (std::vector<Slot>{{'X', 8, 'R', "Name"}, {'E', 4, ' ', ""}, kZeroed}));
  EXPECT_EQ(table.FieldCount, 2);
}

// "ファイル %s は開けません"
std::string OpenErrorMessage(const std::string& name) {
  return std::string(messages::kCannotOpenHead.Cp932) + name +
         std::string(messages::kCannotOpenTail.Cp932);
}

TEST(LoadParameterFile, FileThatCannotBeOpenedRaisesFOpenError) {
  const std::string name = "no-such-dir/../missing parameters.txt";
  FieldTable table;
  try {
    LoadParameterFile(name, table);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), OpenErrorMessage(name));
    EXPECT_STREQ(error.KindName(), "EFOpenError");
  }
  EXPECT_EQ(table.SlotCount(), 0u);
  EXPECT_EQ(table.FieldCount, 0);
}

#ifndef _WIN32  // Windows: platform_win32_test.cpp, ShareModesAllowReadersOnly
TEST(LoadParameterFile, FileHeldForWritingElsewhereRaisesFOpenError) {
  TempFile file("X,1\r\n");
  int fd = ::open(file.Path().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  FieldTable table;
  EXPECT_THROW(LoadParameterFile(file.Path(), table), EFOpenError);
  EXPECT_EQ(table.SlotCount(), 0u);
  ::close(fd);
}
#endif

// Their cost is the scale checks' business (tests/scale): here, that all of
// them arrive.
TEST(LoadParameterText, HundredThousandFieldLinesAllLoad) {
  std::string text;
  constexpr int kLines = 100000;
  for (int i = 0; i < kLines; ++i) text += "X,12,T,\"Field " + std::to_string(i) + "\"\r\n";
  FieldTable table;
  EXPECT_EQ(LoadParameterText(text, table), "");
  EXPECT_EQ(table.FieldCount, kLines);
  EXPECT_EQ(table.HeaderNames[kLines - 1], "Field 99999");
}

}  // namespace
}  // namespace tabulon
