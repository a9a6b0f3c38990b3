// Splitting a whole command line into arguments, and scanning the arguments
// into the run's options.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tabulon {
namespace {

using Arguments = std::vector<std::string>;
using namespace std::string_literals;

TEST(SplitCommandLine, Rules) {
  struct Row {
    std::string Line;
    Arguments Argv;
  };
  const Row rows[] = {
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"prog a  b", {"prog", "a", "b"}},
      {"prog\ta\x01"
       "b\x1F"
       "c\x7F",
       {"prog", "a", "b", "c\x7F"}},  // 0x01 to 0x20 separate
      {"prog -f \"my params.txt\"", {"prog", "-f", "my params.txt"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog a\"\"b", {"prog", "ab"}},
      {"prog \"\" a", {"prog", "a"}},      // an empty pair is no argument
      {"prog \"\"\"\" a", {"prog", "a"}},  // nor are two
      {"prog \"\"a", {"prog", "a"}},       // dropped at the start of an argument
      {"prog a\"\"", {"prog", "a"}},
      {"prog \" \"", {"prog", " "}},
      {"prog \"\t\"x", {"prog", "\tx"}},
      {"prog \"abc", {"prog", "abc"}},  // an open quote runs to the end
      {"prog a \"", {"prog", "a"}},     // an empty last argument ends the list
      {"prog \"\"\"", {"prog"}},
      {"prog a\0b"s, {"prog", "a"}},  // the line ends at a NUL
      // A double-byte character is taken whole, even when its second byte is
      // a quote or a blank.
      {"prog \x82\" x", {"prog", "\x82\"", "x"}},
      {"prog \"\x82\" x\" y", {"prog", "\x82\" x", "y"}},
      {"prog \x81 b", {"prog", "\x81 b"}},
      {"prog \x82\xa0\"\x82\xa0 \"", {"prog", "\x82\xa0\x82\xa0 "}},
      {"prog a\x81", {"prog", "a\x81"}},
      {"prog \xa0\"b c\"",
       {"prog",
        "\xa0"
        "b c"}},  // 0xA0 is no lead byte
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SplitCommandLine(row.Line), row.Argv) << "line: " << row.Line;
  }
}

TEST(ScanArguments, Table) {
  struct Row {
    Arguments Argv;
    char Separator;
    char HeaderFlag;
    char UsageFlag;
    const char* TextFileName;
    const char* OutputFileName;
    const char* ParameterFileName;
  };
  const Row rows[] = {
      // The worked examples.
      {{"-t", "-h", "-f", "fields.txt", "data.txt", "out.tsv"},
       '\t',
       'y',
       'n',
       "data.txt",
       "out.tsv",
       "fields.txt"},
      {{"data.txt", "-c", "-f", "fields.txt", "out.csv", "-x"},
       ',',
       'n',
       'n',
       "data.txt",
       "out.csv",
       "fields.txt"},
      {{"data.txt", "out.csv"}, ',', 'n', 'n', "data.txt", "out.csv", ""},
      {{"-f", "fields.txt", "data.txt"}, ',', 'n', 'n', "data.txt", "", "fields.txt"},
      {{"-f", "fields.txt", "-h"}, ',', 'y', 'n', "", "", "fields.txt"},
      {{"-?", "data.txt"}, ',', 'n', 'y', "data.txt", "", ""},
      {{}, ',', 'n', 'n', "", "", ""},
      // A '-' anywhere makes an argument no name.
      {{"-f", "p.txt", "in-2.txt", "out.csv"}, ',', 'n', 'n', "out.csv", "", "p.txt"},
      {{"-f", "p.txt", "in.txt", "/my-data/out.csv"}, ',', 'n', 'n', "in.txt", "", "p.txt"},
      {{"-f", "my-p.txt", "in.txt", "out.csv"}, ',', 'n', 'n', "in.txt", "out.csv", ""},
      {{"-", "--", "-fp.txt", "-tab", "-x", "in.txt"}, ',', 'n', 'n', "in.txt", "", ""},
      // Switches are matched exactly, in either case.
      {{"-T", "-H", "-F", "p.txt", "a", "b"}, '\t', 'y', 'n', "a", "b", "p.txt"},
      {{"-T", "-C"}, ',', 'n', 'n', "", "", ""},
      {{"-t", "-c"}, ',', 'n', 'n', "", "", ""},
      {{"-c", "-t"}, '\t', 'n', 'n', "", "", ""},
      {{"-h", "-H"}, ',', 'y', 'n', "", "", ""},
      {{"-?", "-?"}, ',', 'n', 'y', "", "", ""},
      {{"-h?", "-/", "--?", "- ?"}, ',', 'n', 'n', "", "", ""},
      // The name after -f.
      {{"-f", "-h", "p.txt", "in.txt", "out.csv"}, ',', 'y', 'n', "p.txt", "out.csv", ""},
      {{"in.txt", "out.csv", "-f"}, ',', 'n', 'n', "in.txt", "out.csv", ""},
      {{"-f", "-f", "p.txt"}, ',', 'n', 'n', "", "", "p.txt"},
      {{"-f", "a.txt", "-f", "b.txt"}, ',', 'n', 'n', "", "", "b.txt"},
      {{"-F", "a.txt", "b.txt", "c.txt"}, ',', 'n', 'n', "b.txt", "c.txt", "a.txt"},
      {{"in.txt", "-f", "p.txt", "out.csv"}, ',', 'n', 'n', "in.txt", "out.csv", "p.txt"},
      // Plain names: the first is the text file, the last the output file.
      {{"a", "b", "c", "d"}, ',', 'n', 'n', "a", "d", ""},
      {{"a", "-f", "p", "b", "c"}, ',', 'n', 'n', "a", "c", "p"},
      {{"\x83\x65\x83\x58\x83\x67.txt", "\x82\x90.csv"},
       ',',
       'n',
       'n',
       "\x83\x65\x83\x58\x83\x67.txt",
       "\x82\x90.csv",
       ""},
  };
  for (const Row& row : rows) {
    std::string label;
    for (const std::string& a : row.Argv) label += "[" + a + "]";
    RunOptions o = ScanArguments(row.Argv);
    EXPECT_EQ(o.Separator, row.Separator) << label;
    EXPECT_EQ(o.HeaderFlag, row.HeaderFlag) << label;
    EXPECT_EQ(o.UsageFlag, row.UsageFlag) << label;
    EXPECT_EQ(o.TextFileName, row.TextFileName) << label;
    EXPECT_EQ(o.OutputFileName, row.OutputFileName) << label;
    EXPECT_EQ(o.ParameterFileName, row.ParameterFileName) << label;
  }
}

}  // namespace
}  // namespace tabulon
