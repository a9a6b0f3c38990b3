#include "convert/transforms.h"

#include <gtest/gtest.h>

#include <string>

#include "convert/reference_model.h"
#include "support/value_forms.h"

namespace tabulon {
namespace {

const std::string kWide = "\x81\x40";  // the full-width blank

// The model's cut-out, which the differential tests hold the converter's to.
TEST(CopyBytes, ClampsInsteadOfFailing) {
  using reference::CopyBytes;
  const std::string v = "ABCDEFG";
  EXPECT_EQ(CopyBytes(v, 3, 2), "CD");
  EXPECT_EQ(CopyBytes(v, 0, 3), "ABC");
  EXPECT_EQ(CopyBytes(v, -2, 3), "ABC");
  EXPECT_EQ(CopyBytes(v, 8, 1), "");
  EXPECT_EQ(CopyBytes(v, 1, -1), "");
  EXPECT_EQ(CopyBytes(v, 6, 10), "FG");
  EXPECT_EQ(CopyBytes("", 1, 5), "");
  EXPECT_EQ(CopyBytes(v, 7, 1), "G");
  EXPECT_EQ(CopyBytes(v, 2, 0), "");
  EXPECT_EQ(CopyBytes(v, INT32_MIN, INT32_MAX), "ABCDEFG");
  EXPECT_EQ(CopyBytes(v, INT32_MAX, INT32_MAX), "");
}

// Each case runs through the product and through the reference model, which
// the differential tests then hold the whole conversion to.
TEST(ApplyTrim, EachCodeOnTheBlankTableInProductAndModel) {
  struct Case {
    std::string Value, Left, Right, Both, Zero;
  };
  const Case cases[] = {
      {"", "", "", "", ""},
      {" ", " ", " ", " ", ""},
      {"   ", " ", " ", " ", ""},
      {"  x", "x", "  x", "x", "x"},
      {" x ", "x ", " x", "x", "x "},
      {kWide, "", "", "", ""},
      {kWide + kWide, "", "", "", ""},
      {" " + kWide, "", " ", "", ""},
      {kWide + " ", " ", "", " ", ""},
      {"  0012  ", "0012  ", "  0012", "0012", "12  "},
      {kWide + "x" + kWide, "x" + kWide, kWide + "x", "x", "x" + kWide},
      {"\x82\xa0 ", "\x82\xa0 ", "\x82\xa0", "\x82\xa0", "\x82\xa0 "},
      // A character whose second byte is 0x81, followed by '@': the last two
      // bytes look like a full-width blank but are not one, and stay.
      {"\x83\x81\x40", "\x83\x81\x40", "\x83\x81\x40", "\x83\x81\x40", "\x83\x81\x40"},
      {"\x83\x81\x40 ", "\x83\x81\x40 ", "\x83\x81\x40", "\x83\x81\x40", "\x83\x81\x40 "},
      {" \x83\x81\x40", "\x83\x81\x40", " \x83\x81\x40", "\x83\x81\x40", "\x83\x81\x40"},
      // Two such characters in a row pair up from the start of the value.
      {"\x83\x81\x83\x81\x40", "\x83\x81\x83\x81\x40", "\x83\x81\x83\x81\x40",
       "\x83\x81\x83\x81\x40", "\x83\x81\x83\x81\x40"},
      // A lone 0x83 before a real full-width blank: 0x83 0x81 is a character
      // by the lead-byte rule, so what follows is the single byte '@'.
      {"a\x83\x81\x40", "a\x83\x81\x40", "a\x83\x81\x40", "a\x83\x81\x40", "a\x83\x81\x40"},
      {"a\x83\x40\x81\x40", "a\x83\x40\x81\x40", "a\x83\x40", "a\x83\x40", "a\x83\x40\x81\x40"},
  };
  FieldTable table;
  table.TrimCodes = {'L', 'R', 'T', 'Z'};
  for (const Case& c : cases) {
    const std::string* expected[] = {&c.Left, &c.Right, &c.Both, &c.Zero};
    for (std::size_t i = 0; i < table.TrimCodes.size(); ++i) {
      const unsigned char code = table.TrimCodes[i];
      EXPECT_EQ(ApplyTrim(table, c.Value, i), *expected[i]) << code << ": " << c.Value;
      EXPECT_EQ(reference::ApplyTrim(c.Value, code), *expected[i])
          << "model " << code << ": " << c.Value;
    }
  }
}

TEST(ApplyTrim, ZeroCodeStripsSignsPointsAndZeros) {
  const std::pair<std::string, std::string> cases[] = {
      {"-0012", "12"},
      {"0.50", "50"},
      {"0000", ""},
      {" 000 ", ""},
      {"\x82\x4f\x82\x50", "\x82\x4f\x82\x50"},  // a leading double-byte character stays
      {"\",-./01", "1"},
      {std::string("\0\x1f\x30\x31", 4), "1"},
      {"\x80"
       "0",
       "\x80"
       "0"},
      {"10", "10"},
  };
  FieldTable table;
  table.TrimCodes = {'Z'};
  for (const auto& [value, zero] : cases) EXPECT_EQ(ApplyTrim(table, value, 0), zero) << value;
}

TEST(ApplyTrim, ComparesTheStoredByteAsItIs) {
  FieldTable table;
  // Lower-case letters (never stored by the loader), the stored blank of a
  // line without trim code, and the zeroed slot all trim nothing.
  table.TrimCodes = {'l', 'r', 't', 'z', ' ', 0x00, 0x0C};
  const std::string value = "  0 x  ";
  for (std::size_t i = 0; i < table.TrimCodes.size(); ++i) {
    EXPECT_EQ(ApplyTrim(table, value, i), value) << i;
  }
  EXPECT_EQ(ApplyTrim(table, value, table.TrimCodes.size()), value);  // no such slot
}

TEST(QuoteField, DoublesEveryQuoteByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"\"", "\"\"\"\""},
      {"a\"b", "\"a\"\"b\""},
      {"\"\"", "\"\"\"\"\"\""},
      {"a,b\tc", "\"a,b\tc\""},
      {"\x83\x81\x82\xa0", "\"\x83\x81\x82\xa0\""},
      // A lone lead byte before a quote (a width that cut a character): the
      // quote is still doubled, so the quoted field cannot end early.
      {"\x83\"", "\"\x83\"\"\""},
      {"a\x81\"b", "\"a\x81\"\"b\""},
  };
  for (const auto& [value, quoted] : cases) EXPECT_EQ(QuoteField(value), quoted) << value;
}

}  // namespace
}  // namespace tabulon
