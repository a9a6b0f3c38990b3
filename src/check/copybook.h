// tabulon-check --from-copybook: a layout from a COBOL record description.
//
// The description is read in fixed format (sequence numbers in columns 1-6,
// the indicator in column 7: '*' and '/' comments, 'D' debugging lines left
// out, '-' a continuation; text past column 72 ignored) when every line fits
// it, in free format otherwise; "*>" starts a comment in both, and lines
// of compiler directives (">>") are left out.
//
// Level numbers 01-49 build the record: a group item gives no field of its
// own, an elementary item one field of the bytes its PICTURE occupies in
// DISPLAY (see PictureField), OCCURS repeats an item or a group with
// subscripts in the header names ("NAME(1,2)"), FILLER and unnamed items
// stay as fields named FILLER. 88 condition names are skipped; 66 RENAMES,
// items that REDEFINE others, and records after the first (another 01 or 77
// entry: another view of the same bytes) are left out and named in a comment.
// Anything that does not give a fixed record of text is refused: a USAGE
// other than DISPLAY, OCCURS DEPENDING ON, a picture that cannot be read.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "check/import.h"

namespace tabulon::check {

// An elementary item's field, from its PICTURE.
struct PictureField {
  std::uint64_t Width = 0;  // bytes in DISPLAY
  char Type = 'X';
  char Trim = '\0';  // none
};

// The field of picture `picture`: false when it cannot be read. A sign 'S'
// takes a byte only when `sign_separate`; `just_right` text is trimmed on
// the left. Type and trim codes:
//   X A N G, and text with B 0 /    X, trimmed on the right (R; L if JUSTIFIED)
//   9 alone (an unsigned integer)   E, not trimmed: its leading zeros stay
//   with S, V or P                  N, not trimmed
//   editing (Z * + - CR DB , . $)   N, trimmed on the left (L); X with a comma
bool ParsePicture(std::string_view picture, bool sign_separate, bool just_right,
                  PictureField& field);

// Maps the description's lines; the refusal names the line and the item.
ImportedLayout ReadCopybook(const std::vector<std::string_view>& lines, ReadBudget& budget);

}  // namespace tabulon::check
