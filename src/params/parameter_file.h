// Reading the parameter file into the FieldTable.
//
// Each line that does not begin with '#' defines the next field with two to
// four items: type code, width, trim code, header name. Items are separated
// by blanks or control bytes and by commas; double quotes quote an item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "params/field_table.h"

namespace tabulon {

// The most memory that reading a parameter file may take: its bytes and the
// table built from them together. A million field lines with header names of
// a few hundred bytes fit; an endless stream does not.
inline constexpr std::size_t kParameterBudget = std::size_t{1} << 30;  // 1 GiB

// What one more line of the file costs, besides its bytes, at most: its place
// in the list of lines, its slot in the four columns, and the block of its
// header name.
inline constexpr std::size_t kLineCost = sizeof(std::string_view) + 2 * sizeof(unsigned char) +
                                         sizeof(std::int32_t) + sizeof(std::string) + 32;

// Fails as an allocation that finds no memory: through the program's
// new-handler when there is one (which notes where and raises), then with
// std::bad_alloc. What passes kParameterBudget ends this way.
[[noreturn]] void FailAsOutOfMemory();

// Reads the parameter file `name` whole, up to its end or its first NUL (no
// byte after a NUL is read). Raises EFOpenError when it cannot be opened or
// read completely. Counts, while reading, the bytes kept and what the table
// would cost (each byte twice, once for the text and once for a header name
// copied from it, and kLineCost for each CR and LF); past kParameterBudget the
// read stops and fails as exhausted memory does, before any table is built.
std::string ReadParameterFile(std::string_view name);

// Reads the file `name` and fills `table` (which must be empty). Returns the
// diagnostic of the last malformed field line in the form given, or an empty
// string. Raises EFOpenError when the file cannot be read and EConvertError
// when a width is not an integer.
std::string LoadParameterFile(std::string_view name, FieldTable& table,
                              TextForm form = TextForm::Cp932);

// The same on the file's bytes (everything after the read).
std::string LoadParameterText(std::string_view text, FieldTable& table,
                              TextForm form = TextForm::Cp932);

// The bytes of `text` before its first NUL (all of them when it has none).
std::string_view BeforeFirstNul(std::string_view text);

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
