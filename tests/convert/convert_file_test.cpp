#include "convert/convert_file.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "convert/record.h"
#include "convert/transforms.h"
#include "params/parameter_file.h"
#include "platform/temp_dir.h"
#include "support/value_forms.h"

namespace tabulon {
namespace {

// Converts `text` (the text file's bytes) with `table` and returns the bytes
// of the output file.
std::string Convert(const FieldTable& table, const std::string& text, char separator,
                    char header_flag) {
  test::TempDir dir;
  const std::string in = dir.Write("in.txt", text), out = dir.Path("out.csv");
  ConvertFile(in, out, table, separator, header_flag);
  return test::TempDir::Read(out);
}

FieldTable Load(const std::string& parameters) {
  FieldTable table;
  EXPECT_EQ(LoadParameterText(parameters, table), "") << parameters;
  return table;
}

const char kComma = ',';
const char kTab = '\t';

struct Case {
  const char* What;
  std::string Parameters;
  std::string Input;
  char Separator;
  char HeaderFlag;
  std::string Output;
};

// The four fields of the worked example and its record: a quoted name, a
// zero-padded quantity under a '9' code, a code holding a comma, a zip code;
// three bytes at the end that no field covers; then an empty record.
const std::string kExampleParameters = "X,8,R,Name\r\n9,6,Z,Qty\r\nE,5,T,Code\r\nE,4,,Zip\r\n";
const std::string kExampleText = "Ab\"c      0012 0,1 0042XYZ\r\n\r\n";

TEST(ConvertFile, FieldTextsByTypeTrimAndWidth) {
  const Case cases[] = {
      {"worked example, comma mode", kExampleParameters, kExampleText, kComma, 'y',
       "\"Name\",\"Qty\",\"Code\",\"Zip\"\r\n"
       "\"Ab\"\"c\",12,\"0,1\",=\"0042\"\r\n"
       "\"\",,=\"\",=\"\"\r\n"},
      {"worked example, TAB mode", kExampleParameters, kExampleText, kTab, 'y',
       "\"Name\"\t\"Qty\"\t\"Code\"\t\"Zip\"\r\n"
       "\"Ab\"\"c\"\t12\t=\"0,1\"\t=\"0042\"\r\n"
       "\"\"\t\t=\"\"\t=\"\"\r\n"},
      {"negative width moves the next start back", "X,2\r\nX,-5\r\nX,3\r\n", "ABCDEFG\r\n", kComma,
       'n', "\"AB\",\"\",\"ABC\"\r\n"},
      {"width 0 keeps the start", "X,2\r\nX,0\r\nX,2\r\n", "ABCD\r\n", kComma, 'n',
       "\"AB\",\"\",\"CD\"\r\n"},
      {"running start wraps at 32 bits", "X,$7FFFFFFF\r\nX,$7FFFFFFF\r\nX,3\r\nX,3\r\n",
       "ABCDEFG\r\n", kComma, 'n', "\"ABCDEFG\",\"ABCDEFG\",\"ABC\",\"BCD\"\r\n"},
      {"start wrapped below 1 counts as 1", "X,2147483647\r\nX,1\r\nX,3\r\n", "ABCDEFG\r\n", kComma,
       'n', "\"ABCDEFG\",\"A\",\"ABC\"\r\n"},
      {"short and long records", "X,3\r\nE,3\r\nN,3\r\n", "ABCD\r\nABCDEFGHIJKL\r\n\r\n", kComma,
       'n', "\"ABC\",=\"D\",\r\n\"ABC\",=\"DEF\",GHI\r\n\"\",=\"\",\r\n"},
      {"one field", "E,3,T,Id\r\n", " 7 \r\n", kComma, 'y', "\"Id\"\r\n=\"7\"\r\n"},
      {"comma removed by the trim still drops the '='", "E,5,Z\r\n", ",0012\r\n", kComma, 'n',
       "\"12\"\r\n"},
      {"comma outside the cut-out value keeps the '='", "E,3\r\n", "abc,d\r\n", kComma, 'n',
       "=\"abc\"\r\n"},
      {"TAB mode: '=' whatever the value holds", "E,5,Z\r\nE,3\r\n", ",0012a,b\r\n", kTab, 'n',
       "=\"12\"\t=\"a,b\"\r\n"},
      {"plain codes write the separator and quotes as they are", "N,5\r\nn,4\r\n",
       "a,b\"c\t\"x\"\r\n", kComma, 'n', "a,b\"c,\t\"x\"\r\n"},
      {"plain code in TAB mode", "9,3\r\n\" \",1\r\n", "a\tb\"\r\n", kTab, 'n', "a\tb\t\"\r\n"},
      {"lower-case codes work like upper case", "e,3,t\r\nx,3,l\r\n", " 1  2 \r\n", kComma, 'n',
       "=\"1\",\"2 \"\r\n"},
      {"header names are quoted, never trimmed", "N,1,T,\"a\"\"b\"\r\nN,1,T,\" c \"\r\n", "",
       kComma, 'y', "\"a\"\"b\",\" c \"\r\n"},
      {"empty text file with header", "X,1,,A\r\nX,1,,B\r\n", "", kTab, 'y', "\"A\"\t\"B\"\r\n"},
      {"empty text file without header", "X,1,,A\r\n", "", kComma, 'n', ""},
      {"a cut double-byte character is written as its bytes", "X,1\r\nX,3\r\n",
       "\x83\x81\x82\xa0\r\n", kComma, 'n', "\"\x83\",\"\x81\x82\xa0\"\r\n"},
      {"a lone lead byte before a quote", "X,2\r\n", "\x83\"\r\n", kComma, 'n', "\"\x83\"\"\"\r\n"},
      {"Ctrl-Z ends the data", "N,2\r\n", "ab\r\ncd\x1a\r\nef\r\n", kComma, 'n', "ab\r\ncd\r\n"},
      {"comment-only table: field 0 from its zeroed slot", "# a\r\n# b\r\n", "abc\r\n\r\n", kComma,
       'y', "\"\"\r\n\r\n\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert(Load(c.Parameters), c.Input, c.Separator, c.HeaderFlag), c.Output) << c.What;
  }
}

TEST(ConvertFile, TableWithoutAnySlotGivesOneEmptyField) {
  FieldTable empty;  // a parameter file without any line
  EXPECT_EQ(Convert(empty, "abc\r\n\r\n", kComma, 'y'), "\"\"\r\n\r\n\r\n");
  EXPECT_EQ(Convert(empty, "abc\r\n", kTab, 'n'), "\r\n");
  EXPECT_EQ(Convert(empty, "", kComma, 'n'), "");
}

// The converter trims inside the record it has read; what lies around a
// field (blanks, lead bytes) must not change the field's trim.
TEST(ConvertFile, TrimsEachFieldAsApplyTrimDoesWhateverSurroundsIt) {
  const std::string values[] = {
      "",
      " ",
      "   ",
      "  x",
      " x ",
      "\x81\x40",
      " \x81\x40",
      "\x81\x40 ",
      "  0012  ",
      "\x83\x81\x40",
      "\x83\x81\x40 ",
      "a\x83\x40\x81\x40",
      "\x81\x40\x81\x40         x         \x81\x40          ",
      "-0.500",
  };
  // Ten bytes each: blanks, lead bytes, zeros, full-width blanks and a
  // dangling lead byte.
  const std::string surroundings[] = {"          ", "\x83\x83\x83\x83\x83\x83\x83\x83\x83\x83",
                                      "0000000000", "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40",
                                      "\x81\x40\x81\x40\x81\x40\x81\x40 \x81"};
  for (unsigned char code : std::initializer_list<unsigned char>{'L', 'R', 'T', 'Z'}) {
    for (const std::string& value : values) {
      const std::string length = std::to_string(value.size());
      std::string trim = ",";
      trim += static_cast<char>(code);
      trim += "\r\n";
      // The value alone, then between ten bytes on each side.
      FieldTable alone = Load("N," + length + trim);
      EXPECT_EQ(Convert(alone, value + "\r\n", kComma, 'n'),
                std::string(ApplyTrim(alone, value, 0)) + "\r\n")
          << code << " [" << value << "]";
      FieldTable table = Load("N,10\r\nN," + length + trim + "N,10\r\n");
      std::string text, expected;
      for (const std::string& around : surroundings) {
        text += around + value + around + "\r\n";
        expected += around + "," + std::string(ApplyTrim(table, value, 1)) + "," + around + "\r\n";
      }
      EXPECT_EQ(Convert(table, text, kComma, 'n'), expected) << code << " [" << value << "]";
    }
  }
}

TEST(MakePlan, StartsAreTheWrappingRunningSum) {
  FieldTable table = Load("X,$7FFFFFFF\r\nX,1\r\nX,-1\r\nX,$80000000\r\nX,0\r\n");
  RecordPlan plan = MakePlan(table);
  ASSERT_EQ(plan.Fields.size(), 5u);
  const std::int32_t starts[] = {1, INT32_MIN, INT32_MIN + 1, INT32_MIN, 0};
  for (std::size_t i = 0; i < plan.Fields.size(); ++i)
    EXPECT_EQ(plan.Fields[i].Start, starts[i]) << i;
}

}  // namespace
}  // namespace tabulon
