// Reading the parameter file into the FieldTable.
//
// Each line that does not begin with '#' defines the next field with two to
// four items: type code, width, trim code, header name. Items are separated
// by blanks or control bytes and by commas; double quotes quote an item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "params/field_table.h"

namespace tabulon {

// Reads the file `name` and fills `table` (which must be empty). Returns the
// diagnostic of the last malformed field line in the form given, or an empty
// string. Raises EFOpenError when the file cannot be read and EConvertError
// when a width is not an integer.
std::string LoadParameterFile(std::string_view name, FieldTable& table,
                              TextForm form = TextForm::Cp932);

// The same on the file's bytes (everything after the read).
std::string LoadParameterText(std::string_view text, FieldTable& table,
                              TextForm form = TextForm::Cp932);

// The file's bytes up to the first NUL, cut into lines: CR LF, a lone CR and
// a lone LF each end a line; no empty line follows a final line end.
std::vector<std::string_view> SplitLines(std::string_view text);

// One line into its items (quoted items are unquoted, doubled quotes
// halved): items[0 .. result), reusing the strings already in `items` so
// that a run of lines allocates only for items longer than any before.
std::size_t SplitItems(std::string_view line, std::vector<std::string>& items);

// A width item as a signed 32-bit integer. Raises EConvertError when it is
// not one.
std::int32_t ParseWidth(std::string_view item);

// A code byte with bit 5 cleared: lower-case letters become upper case, and
// every other byte with bit 5 set changes too ('9' becomes 0x19).
constexpr unsigned char UpperCode(unsigned char code) {
  return code & 0xDF;
}

}  // namespace tabulon
