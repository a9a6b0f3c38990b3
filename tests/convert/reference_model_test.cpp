// The real conversion against the simple reference model (reference_model.h)
// on random field tables and records, end to end through ConvertFile on
// temporary files, in comma and TAB mode.
//
// Each run draws a fresh seed and prints it; TABULON_REFERENCE_SEED=<n>
// replays a run, TABULON_REFERENCE_CASES=<n> changes the number of cases.
#include "convert/reference_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "convert/convert_file.h"
#include "convert/pipeline.h"
#include "convert/record.h"
#include "platform/temp_dir.h"

namespace tabulon {
namespace {

using reference::Field;
using reference::Table;

// ----- the model itself, anchored on the documented examples ----------------

// The blank trims are anchored in transforms_test.cpp, whose table runs
// through both the model and the product.
TEST(ReferenceModel, MatchesTheDocumentedExamples) {
  EXPECT_EQ(reference::QuoteField("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(reference::QuoteField("\x81\""), "\"\x81\"\"\"");  // every 0x22 doubled
  EXPECT_EQ(reference::CopyBytes("ABCDEFG", -2, 3), "ABC");
  EXPECT_EQ(reference::CopyBytes("ABCDEFG", 6, 10), "FG");

  Table table;
  table.FieldCount = 4;
  table.Slots = {
      {'X', 8, 'R', "Name"}, {0x19, 6, 'Z', "Qty"}, {'E', 5, 'T', "Code"}, {'E', 4, ' ', "Zip"}};
  std::string record = "Ab\"c      0012 0,1 0042XYZ";
  EXPECT_EQ(reference::ConvertText(record + "\r\n\r\n", table, ',', true),
            "\"Name\",\"Qty\",\"Code\",\"Zip\"\r\n"
            "\"Ab\"\"c\",12,\"0,1\",=\"0042\"\r\n"
            "\"\",,=\"\",=\"\"\r\n");
  EXPECT_EQ(reference::ConvertRecord(record, table, '\t'), "\"Ab\"\"c\"\t12\t=\"0,1\"\t=\"0042\"");
  Table negative;
  negative.FieldCount = 3;
  negative.Slots = {{'X', 2, ' ', ""}, {'X', -5, ' ', ""}, {'X', 3, ' ', ""}};
  EXPECT_EQ(reference::ConvertRecord("ABCDEFG", negative, ','), "\"AB\",\"\",\"ABC\"");
}

// ----- random cases -----------------------------------------------------------

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : Rng(seed) {}

  int Below(int n) { return static_cast<int>(Rng() % static_cast<std::uint64_t>(n)); }

  // Pieces that exercise the rules: blanks of both widths, quotes, commas,
  // TABs, low bytes for 'Z', lead bytes alone and in characters whose second
  // byte looks like the start of a full-width blank (ME = 0x83 0x81).
  std::string Bytes(int max_pieces) {
    static const char* const kPieces[] = {
        " ",    " ",        "\x81\x40", "\x81\x40", "\x83\x81", "@",    "\"",   ",",    "\t",
        "0",    "0",        "1",        "a",        "Z",        "-",    ".",    "=",    "#",
        "\x81", "\x82\xa0", "\xe0",     "\xfc",     "\x9f",     "\x7f", "\xff", "\xa0", "\x01",
    };
    std::string s;
    int pieces = Below(max_pieces + 1);
    for (int i = 0; i < pieces; ++i) {
      if (Below(40) == 0) {
        s += '\0';
      } else {
        s += kPieces[Below(sizeof kPieces / sizeof kPieces[0])];
      }
    }
    return s;
  }

  std::int32_t Width() {
    switch (Below(12)) {
      case 0:
        return 0;
      case 1:
        return -Below(8) - 1;
      case 2: {
        static const std::int32_t kHuge[] = {
            INT32_MAX, INT32_MIN, INT32_MAX - 3, INT32_MIN + 5, 1 << 30, -(1 << 30), 100000,
        };
        return kHuge[Below(sizeof kHuge / sizeof kHuge[0])];
      }
      default:
        return Below(14) + 1;
    }
  }

  unsigned char Code(const char* common) {
    std::string_view codes(common);
    if (Below(8) == 0) return static_cast<unsigned char>(Below(256)) & 0xDF;
    return static_cast<unsigned char>(
        codes[static_cast<std::size_t>(Below(static_cast<int>(codes.size())))]);
  }

  Table MakeTable() {
    Table table;
    int roll = Below(10);
    int count = roll == 0 ? 0 : roll == 1 ? 1 : Below(9);
    table.FieldCount = count;
    table.Slots.resize(static_cast<std::size_t>(count + Below(3)));
    for (int i = 0; i < count; ++i) {
      Field& f = table.Slots[static_cast<std::size_t>(i)];
      f.TypeCode = Code("EEXXN\x19");
      f.Width = Width();
      f.TrimCode = Below(7) == 0 ? 0 : Code("LRTZ ");
      f.HeaderName = Bytes(4);
    }
    return table;
  }

  // Records never hold CR, LF or Ctrl-Z: those belong to the line reader.
  std::string Record() {
    // Now and then a record of tens of kilobytes, so that lines cross the
    // reader's buffer refills.
    int pieces = Below(300) == 0 ? 80000 : Below(4) == 0 ? 60 : 16;
    return Bytes(pieces);
  }

 private:
  std::mt19937_64 Rng;
};

FieldTable ToFieldTable(const Table& model) {
  FieldTable table;
  for (const Field& f : model.Slots) {
    table.TypeCodes.push_back(f.TypeCode);
    table.Widths.push_back(f.Width);
    table.TrimCodes.push_back(f.TrimCode);
    table.HeaderNames.push_back(f.HeaderName);
  }
  table.FieldCount = model.FieldCount;
  return table;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x ", static_cast<unsigned char>(c));
    out += buffer;
  }
  return out;
}

std::string Describe(const Table& table, char separator, bool header, const std::string& text) {
  std::ostringstream s;
  s << (separator == ',' ? "comma" : "TAB") << " mode, header " << header << ", FieldCount "
    << table.FieldCount << ", slots " << table.Slots.size() << "\n";
  for (const Field& f : table.Slots) {
    s << "  type 0x" << std::hex << int{f.TypeCode} << std::dec << " width " << f.Width
      << " trim 0x" << std::hex << int{f.TrimCode} << std::dec << " name [" << Hex(f.HeaderName)
      << "]\n";
  }
  s << "  text [" << Hex(text) << "]";
  return s.str();
}

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A memory file system where there is one: thousands of small files.
std::filesystem::path FastTemporaryParent() {
  std::error_code no_such;
  if (std::filesystem::is_directory("/dev/shm", no_such)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

class ReferenceModelTest : public ::testing::Test {
 protected:
  test::TempDir Dir{FastTemporaryParent()};
  std::string TextPath = Dir.Path("in.txt");
  std::string OutPath = Dir.Path("out.csv");
};

// Regression: an empty value can be an empty view without storage (a cut
// past the end, a value trimmed away), and appending one handed memcpy a null
// pointer (undefined even for 0 bytes; the sanitizer build stops on it).
// Every kind of field, empty in every way.
TEST_F(ReferenceModelTest, EmptyValuesOfEveryKindAreWritten) {
  Table model;
  model.FieldCount = 6;
  model.Slots = {{'X', 2, ' ', ""},  {'E', 2, 'L', ""},  {'N', 2, 'T', ""},
                 {'E', 0, 'Z', "h"}, {'X', -3, 'R', ""}, {0x19, 9, ' ', ""}};
  std::string text = "\r\nab\x81\x40\x81\x40\r\n";
  std::ofstream(TextPath, std::ios::binary) << text;
  for (char separator : {',', '\t'}) {
    std::remove(OutPath.c_str());
    ConvertFile(TextPath, OutPath, ToFieldTable(model), separator, 'y');
    std::string expected = reference::ConvertText(text, model, separator, true);
    EXPECT_EQ(ReadFile(OutPath), expected);
  }
  // A table without any slot: field 0 and its header name are empty.
  std::remove(OutPath.c_str());
  ConvertFile(TextPath, OutPath, FieldTable{}, ',', 'y');
  EXPECT_EQ(ReadFile(OutPath), "\"\"\r\n\r\n\r\n");
  EXPECT_EQ(reference::ConvertText(text, model, ',', false),
            "\"\",=\"\",,=\"\",\"\",\r\n\"ab\",=\"\",,=\"\",\"\",@\x81@\r\n");
}

TEST_F(ReferenceModelTest, ConvertFileMatchesTheModelOnRandomTablesAndRecords) {
  const std::uint64_t seed = EnvNumber("TABULON_REFERENCE_SEED", std::random_device{}());
  const std::uint64_t cases = EnvNumber("TABULON_REFERENCE_CASES", 3000);
  std::printf("reference model: seed %llu (replay with TABULON_REFERENCE_SEED=%llu)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(seed));
  Generator gen(seed);

  for (std::uint64_t n = 0; n < cases; ++n) {
    Table model = gen.MakeTable();
    FieldTable table = ToFieldTable(model);
    bool header = gen.Below(3) == 0;
    std::string text;
    int records = gen.Below(6);
    for (int r = 0; r < records; ++r) {
      text += gen.Record();
      if (r + 1 < records || gen.Below(2) == 0) text += gen.Below(2) == 0 ? "\r\n" : "\n";
    }
    // Fresh files each time: emptying a file that was just written makes some
    // file systems wait for its blocks to reach the disk.
    std::remove(TextPath.c_str());
    std::ofstream(TextPath, std::ios::binary) << text;
    for (char separator : {',', '\t'}) {
      std::string expected = reference::ConvertText(text, model, separator, header);
      std::remove(OutPath.c_str());
      try {
        ConvertFile(TextPath, OutPath, table, separator, header ? 'y' : 'n');
      } catch (const Exception& e) {
        FAIL() << "seed " << seed << ", case " << n << ": " << e.KindName() << "\n"
               << Describe(model, separator, header, text);
      }
      std::string actual = ReadFile(OutPath);
      ASSERT_EQ(Hex(actual), Hex(expected)) << "seed " << seed << ", case " << n << "\n"
                                            << Describe(model, separator, header, text);
    }
  }
}

// The blocks of a large text, made tiny: reads of a few bytes, blocks of one
// or a few records, so that every way a block can end is met (inside a line,
// after a lone CR, inside a CR LF, at a Ctrl-Z, lines longer than a block),
// output blocks too small for some lines, one to three converter threads and
// an output buffer of a few bytes.
TEST_F(ReferenceModelTest, BlocksOfAFewBytesMatchTheModel) {
  const std::uint64_t seed = EnvNumber("TABULON_REFERENCE_SEED", std::random_device{}());
  const std::uint64_t cases = EnvNumber("TABULON_REFERENCE_CASES", 3000) / 6;
  std::printf("blocks: seed %llu (replay with TABULON_REFERENCE_SEED=%llu)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  Generator gen(seed);
  for (std::uint64_t n = 0; n < cases; ++n) {
    Table model = gen.MakeTable();
    const RecordPlan plan = MakePlan(ToFieldTable(model));
    std::string text;
    for (int r = gen.Below(40); r > 0; --r) {
      std::string record = gen.Record();
      if (gen.Below(6) == 0) record.insert(record.size() / 2, "\r");  // a lone CR
      text += record + (gen.Below(3) == 0 ? "\n" : "\r\n");
    }
    if (gen.Below(2) == 0) text += gen.Record();  // no line end at the end
    if (gen.Below(4) == 0) text.insert(text.size() * 2 / 3, "\x1a");
    std::remove(TextPath.c_str());
    std::ofstream(TextPath, std::ios::binary) << text;
    const std::uint32_t read_capacity = 1 + static_cast<std::uint32_t>(gen.Below(24));
    const unsigned converters = 1 + static_cast<unsigned>(gen.Below(3));
    const BlockShape shape{
        converters, static_cast<std::size_t>(gen.Below(40)),
        1 + static_cast<unsigned>(gen.Below(2 * static_cast<int>(converters) + 1)),
        static_cast<std::size_t>(gen.Below(400))};
    const char separator = gen.Below(2) == 0 ? ',' : '\t';

    auto in = std::make_unique<LineFile>();
    auto out = std::make_unique<LineFile>();
    BindName(*in, TextPath, read_capacity);
    BindName(*out, OutPath, 1 + static_cast<std::uint32_t>(gen.Below(9)));
    std::remove(OutPath.c_str());
    ASSERT_EQ(OpenForReading(*in), 0);
    ASSERT_EQ(OpenForWriting(*out), 0);
    std::string where = "seed " + std::to_string(seed) + ", case " + std::to_string(n) +
                        ", reads of " + std::to_string(read_capacity) + ", blocks of " +
                        std::to_string(shape.BlockBytes) + ", output blocks of " +
                        std::to_string(shape.OutputBytes) + ", jobs " + std::to_string(shape.Jobs) +
                        "\n" + Describe(model, separator, false, text);
    try {
      ConvertLines(*in, *out, plan, separator, shape, 0);
    } catch (const Exception& e) {
      FAIL() << e.KindName() << ": " << where;
    }
    CloseLineFile(*out);
    CloseLineFile(*in);
    ASSERT_EQ(Hex(ReadFile(OutPath)), Hex(reference::ConvertText(text, model, separator, false)))
        << where;
  }
}

}  // namespace
}  // namespace tabulon
