// The layout check: does a parameter file's layout fit a text file?
//
// The text file is read once, by the line reader and the line rules of a
// conversion, in constant memory; every record is measured against the
// layout (the same field positions as the conversion's plan) and read by the
// lead-byte rule for split characters, invalid code page 932 bytes, NUL
// bytes and dropped CRs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "check/record_kinds.h"
#include "params/field_table.h"
#include "textio/line_file.h"

namespace tabulon::check {

// How many records had one finding, and the line number (from 1) of the first.
struct Tally {
  std::uint64_t Count = 0;
  std::uint64_t FirstLine = 0;
  void Add(std::uint64_t line) {
    if (Count++ == 0) FirstLine = line;
  }
};

// A comma, a TAB or a double quote: in a field of plain type, it breaks the
// output's columns.
constexpr bool IsSeparatorByte(unsigned char b) {
  return b == ',' || b == '\t' || b == '"';
}

// The field positions of a layout, as the conversion cuts them.
struct CheckLayout {
  bool Present = false;                  // false: the parameter file drew a diagnostic
  std::size_t Width = 0;                 // bytes of a record the fields reach
  std::size_t Fields = 0;                // number of fields
  std::vector<std::string> HeaderNames;  // per field, empty when it has none
  // The field boundaries after the first byte of a record (a field's first
  // byte or the byte after its last), ascending and unique; the fields that
  // start or end at Boundaries[k] are FieldsAt[FirstField[k] .. FirstField[k + 1]).
  std::vector<std::size_t> Boundaries;
  std::vector<std::size_t> FirstField;
  std::vector<std::uint32_t> FieldsAt;
  // The fields written as they are (no quotes), by first byte: a comma, a
  // TAB or a double quote in them breaks the output's columns. PlainReach[i]
  // is the furthest end among Plain[0 .. i].
  struct PlainField {
    std::size_t Offset = 0;
    std::size_t End = 0;
    std::uint32_t Field = 0;
  };
  std::vector<PlainField> Plain;
  std::vector<std::size_t> PlainReach;
  std::size_t LastFieldOffset = 0;  // the first byte of the field that reaches Width
  std::uint32_t LastField = 0;
};

CheckLayout MakeCheckLayout(const FieldTable& table);

struct TextFindings {
  std::uint64_t Records = 0;
  Tally Shorter;  // records shorter than the layout's width
  Tally Longer;
  std::vector<Tally> SplitFields;  // per field: a boundary inside a double-byte character
  Tally LeadAtEnd;                 // a lead byte as the last byte of the record
  Tally BadTrail;                  // a lead byte followed by a byte that cannot follow it
  Tally Nul;
  Tally LoneCr;                     // CRs that the line rules drop
  std::uint64_t EndOfDataLine = 0;  // a Ctrl-Z with bytes after it: its line
  std::uint64_t BytesAfterEnd = 0;  // and the bytes after it, never converted
  bool ReadsAsUtf8 = false;         // non-ASCII bytes, all well-formed UTF-8
  std::vector<Tally> Separators;    // per field: a plain field holds a comma, TAB or quote
  // The lengths of the records checked, and the shorter ones that end in a
  // blank (a record that lost its trailing blanks never does).
  std::size_t Shortest = static_cast<std::size_t>(-1);
  std::size_t Longest = 0;
  std::uint64_t ShorterEndingInBlank = 0;
  std::size_t LongestShorter = 0;  // the longest of the records shorter than the layout
  // The kinds of records (record_kinds.h): the layout is checked against the
  // records of CheckedKind only; the others are counted per kind.
  RecordKinds Kinds;
  std::size_t CheckedKind = kNoKind;
  std::vector<std::uint64_t> KindCounts;
  std::vector<LineRanges> KindLines;
  Tally NoKind;              // records whose key is none of the kinds'
  bool OnlyOneKind = false;  // --kind: only the records of its key were checked
  bool NamesRow = false;     // line 1 is a row of names (check/header_row.h), not checked
};

// Reads bytes as UTF-8, one at a time: well-formed sequences only (no
// overlong forms, no surrogates, nothing above U+10FFFF).
struct Utf8Reader {
  bool Valid = true;         // false from the first byte that does not fit
  bool Multibyte = false;    // a sequence of two or more bytes was read
  unsigned Needed = 0;       // continuation bytes still to come
  unsigned char Low = 0x80;  // range of the next continuation byte
  unsigned char High = 0xBF;
  void Step(unsigned char byte);
  // A line end or the end of the text: no sequence may be left open.
  void EndOfText() {
    if (Needed != 0) Valid = false;
  }
};

// Which records the layout is checked against: those of one kind (a key
// given by --kind, or the kind found that fits the layout best).
struct KindChoice {
  const KindKey* Only = nullptr;
  const RecordKinds* Kinds = nullptr;  // with Kinds->Found()
  std::size_t Checked = kNoKind;
  std::uint64_t LastLine = 0;   // the kinds' last line, when known
  std::uint64_t FirstLine = 1;  // the file's line that is the kinds' line 1
};

// Reads one record piece by piece and adds what it finds to `findings`.
class RecordScanner {
 public:
  RecordScanner(const CheckLayout& layout, TextFindings& findings);
  void Choose(const KindChoice& choice);
  // The file's last record, `last_line`, is found to be a lone last kind
  // after the records before it were read: `kinds` (Kinds with a Last kind
  // at its end) holds the kinds of the choice so far.
  void AddLastKind(const RecordKinds& kinds, std::uint64_t last_line);
  void Begin(std::uint64_t line);
  void Piece(const char* data, std::size_t size);
  void DroppedCr() { SawLoneCr = true; }
  void End();

 private:
  void CheckBoundaries(const unsigned char* piece, std::size_t size, std::size_t first);
  void MarkSplit(std::size_t boundary);
  void MarkSeparator(std::size_t offset);
  bool Counts();  // the record's kind is the one checked (counted per kind otherwise)

  const CheckLayout& Layout;
  TextFindings& Findings;
  std::vector<std::uint64_t> CountedLine;    // per field: the last line it was counted for
  std::vector<std::uint64_t> SeparatorLine;  // the same for separators
  std::vector<std::uint32_t> SplitNow;       // the fields split in this record
  std::vector<std::uint32_t> SeparatorNow;   // the plain fields holding a separator in it
  KindChoice Choice;
  std::size_t HeadSize = 0;  // the bytes of a record its kind is read from
  std::string Head;
  char LastByte = 0;
  std::uint64_t Line = 0;
  std::size_t RecordSize = 0;  // bytes of the record so far
  std::size_t Boundary = 0;    // index of the next boundary not yet passed
  bool PendingLead = false;    // the last piece ended in a lead byte that starts a character
  bool SawBadTrail = false;
  bool SawNul = false;
  bool SawLoneCr = false;
  Utf8Reader Utf8;  // the whole file as UTF-8
};

// Binds `text` to the text file `name`, or to standard input for "-".
void BindTextFile(LineFile& text, std::string_view name, std::uint32_t capacity = kFileCapacity);

struct TextCheckOptions {
  std::uint32_t Capacity = kFileCapacity;  // of the read buffer: 1 to kFileCapacity
  const KindKey* Only = nullptr;           // --kind
  // Find the kinds in the first SampleBytes, after a row of names on line 1.
  bool FindKinds = false;
  std::size_t SampleBytes = std::size_t{4} << 20;
  std::size_t LongestKept = 65536;  // a longer record ends the sample where it is
};

// Checks the text file against the layout; the name "-" reads standard
// input. With FindKinds, the records of the first SampleBytes are kept,
// their kinds found, and then they and the rest are checked as one stream.
// Raises EInOutError when the file cannot be opened or read.
TextFindings CheckTextFile(std::string_view name, const CheckLayout& layout,
                           const TextCheckOptions& options);
inline TextFindings CheckTextFile(std::string_view name, const CheckLayout& layout,
                                  std::uint32_t capacity = kFileCapacity) {
  return CheckTextFile(name, layout, TextCheckOptions{.Capacity = capacity});
}

struct ParameterFindings {
  std::string Diagnostic;  // the conversion's diagnostic or error message; empty when sound
  bool Utf8Bom = false;
  bool Utf8Text = false;  // no byte-order mark, but non-ASCII bytes that are all UTF-8
};

// Reads the parameter file into `table` as a conversion does; its diagnostic
// in `form`. Raises EFOpenError when it cannot be read.
ParameterFindings CheckParameterFile(std::string_view name, FieldTable& table, TextForm form);

// True when `text` holds a byte above 0x7F and its bytes above 0x7F form
// well-formed UTF-8 sequences throughout.
bool ReadsAsUtf8(std::string_view text);

}  // namespace tabulon::check
