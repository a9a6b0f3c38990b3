// A row of names as a file's first line: header names aligned to the columns.
//
// Some exports start with a line of column names over the records. It is
// told from a record by its bytes alone: name text (letters, kana,
// double-byte characters) where some records of the body have a digit and
// hardly any has name text; no field of the body's layout whose bytes in it
// start with a digit, and in most fields that hold anything a name at the
// field's first byte or ending at its last, one word or words one blank
// apart; no boundary inside a character of it. The draft then leaves the row out of its statistics
// and takes the fields' header names from it; the check leaves it out of the records it checks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::check {

// True when `row` holds name text in a column where one in ten of the
// records of `body` (at least a few of them) holds a digit and hardly any
// holds name text: a line unlike the body's.
bool TextOverDigits(std::string_view row, const std::vector<std::string_view>& body);

// True when `row` reads as names of the fields of `widths` (in order from
// the record's first byte): no field's content starts with a digit, no
// boundary (the layout's end included) falls inside a character, nothing
// but padding lies past the layout, and most fields that hold anything hold
// one name with name text at their start or end, no word of it cut by a
// boundary, at least two of them.
bool AlignedNames(std::string_view row, const std::vector<std::size_t>& widths);

inline bool IsNamesRow(std::string_view row, const std::vector<std::string_view>& body,
                       const std::vector<std::size_t>& widths) {
  return TextOverDigits(row, body) && AlignedNames(row, widths);
}

// True when the first of `records` is a row of names over the others, cut
// as the draft of the others cuts them.
bool FirstIsNamesRow(const std::vector<std::string_view>& records);

// The header name of each field of `widths` from the names row: its bytes in
// the field, trimmed of blanks and full-width blanks; empty where that is
// not one name with name text at the field's start or end, is empty,
// repeats an earlier name, or could not be read back as a header name from a
// parameter file.
std::vector<std::string> NamesOfRow(std::string_view row, const std::vector<std::size_t>& widths);

}  // namespace tabulon::check
