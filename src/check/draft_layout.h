// A layout drafted from the records themselves: where the fields of a
// fixed-width code page 932 file begin and end, and which type and trim codes
// suit their contents.
//
// Every byte of a record is put in a class (digit, letter, blank, the two
// bytes of a full-width blank, lead and trail bytes of other double-byte
// characters, half-width kana, punctuation), reading characters from the
// record's start as the conversion does. Counted column by column over the
// records, the classes show where content always begins after padding,
// where the kind of character changes, where leading zeros start again and
// where a date sits; padding shows text fields (padded on the right) and
// right-aligned numbers (padded on the left). A boundary is never put where
// any record holds the second byte of a double-byte character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tabulon::check::draft {

enum ByteClass : unsigned char {
  kDigit,
  kLetter,
  kBlank,      // 0x20
  kWideBlank,  // either byte of the full-width blank 0x81 0x40
  kLead,       // first byte of another double-byte character
  kTrail,      // its second byte
  kKana,       // half-width katakana 0xA1 to 0xDF
  kPunct,      // other printable ASCII
  kOther,      // control bytes and bytes that are no character
  kClassCount
};

// The classes of a record's bytes into classes[0 .. record.size()).
void ClassifyRecord(std::string_view record, ByteClass* classes);

// Padding: the ASCII blank and the full-width blank.
constexpr bool IsPad(ByteClass c) {
  return c == kBlank || c == kWideBlank;
}

// What a field holds, for its codes.
enum class FieldKind : unsigned char {
  Blank,       // padding in every record (a filler)
  Digits,      // digits only, full width, none starting with 0
  ZeroDigits,  // digits only, full width, leading zeros in some records
  Number,      // a right-aligned number: blanks, then digits with sign, comma, point
  Text,        // anything else
};

struct DraftField {
  std::size_t Width = 0;
  FieldKind Kind = FieldKind::Text;
  bool PadLeft = false;   // some records have padding before the content
  bool PadRight = false;  // some records have padding after it
  bool Guessed = false;   // its start lies inside padding shared with the field before
};

struct DraftLayout {
  std::size_t RecordLength = 0;
  std::vector<DraftField> Fields;  // widths add up to RecordLength
};

// Drafts the layout of `records`, none longer than `length` bytes: a shorter
// record is read as if it had lost its trailing blanks. `others` are longer
// records, whose double-byte characters are never split either (the
// layout's end included).
DraftLayout DraftFromRecords(const std::vector<std::string_view>& records, std::size_t length,
                             const std::vector<std::string_view>& others = {});

// The length of a layout for records of several lengths: the length most
// records have, or the longest when more than a few records are longer (their
// trailing blanks lost, or a last field that runs to the line's end); then
// past any double-byte character of a longer record that it would end in.
std::size_t LayoutLength(const std::vector<std::string_view>& records);

// Drafts the layout of records of any lengths: LayoutLength, and the records
// that the statistics hold (at most kDraftCells bytes of records padded to
// that length); the other records only keep their characters whole.
inline constexpr std::size_t kDraftCells = std::size_t{4} << 20;
DraftLayout DraftFromSample(const std::vector<std::string_view>& records);

}  // namespace tabulon::check::draft
