// Record conversion: each line of the text file becomes one output line of
// field texts joined by the separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "params/field_table.h"
#include "textio/line_file.h"

namespace tabulon {

// What one field needs per record, worked out once from the FieldTable.
struct FieldPlan {
  std::int32_t Start;  // 1-based position in the record (running sum, wrapping)
  std::int32_t Width;
  unsigned char TypeCode;
  unsigned char TrimCode;
  unsigned char Op;    // FieldTrim * 3 + FieldText of the two codes
  std::size_t Offset;  // 0-based first byte: a start below 1 counts as 1
  std::size_t Length;  // the width, or 0 when it is not positive
  // For this field and every later one: the bytes of a record they reach,
  // and the most output bytes they can give (every byte a doubled quote).
  std::size_t Reach;
  std::size_t TextBound;
  unsigned char Kernel;  // Op and the 16-byte blocks of the value, for the masked path
};

enum FieldTrim : unsigned char { kTrimNone, kTrimLeft, kTrimRight, kTrimBoth, kTrimLeftLow };
enum FieldText : unsigned char { kTextPlain, kTextQuoted, kTextFormula };

// One plan entry per field; field 0 always exists, taken from a zeroed slot
// when the table has none.
std::vector<FieldPlan> MakePlan(const FieldTable& table);

// The readable bytes after a record that let every field of up to 63 bytes
// be loaded and copied in whole 16-byte blocks.
inline constexpr std::size_t kMaskedTail = 32;

// Appends the field texts of `record`, joined by `separator`, to `out`
// (between BeginText and WriteLineEnd). `tail` is the number of bytes after
// the record that may be read (never written); they do not change the text.
void AppendRecord(LineFile& out, std::string_view record, const std::vector<FieldPlan>& plan,
                  char separator, std::size_t tail = 0);

// Writes the line of one record: its field texts and CR LF. `text` is the
// line file the record was read from.
void WriteRecord(LineFile& out, const LineFile& text, std::string_view record,
                 const std::vector<FieldPlan>& plan, char separator);

// Appends the header line's text: every field's header name quoted.
void AppendHeader(LineFile& out, const FieldTable& table, std::size_t field_count, char separator);

// Converts every line of `text` into `out` (both open). With more than one
// CPU a large text goes on in blocks on `cpus` threads, with the same result.
void ConvertLines(LineFile& text, LineFile& out, const std::vector<FieldPlan>& plan, char separator,
                  unsigned cpus);

// Converts the text file into the output file. The output is created (or
// emptied) only after the text file opened. Raises EInOutError on any failed
// file operation; the output file keeps every line written before it.
void ConvertFile(std::string_view text_name, std::string_view output_name, const FieldTable& table,
                 char separator, char header_flag);

}  // namespace tabulon
