// The record writer: the field texts of one record, joined by the
// separator, appended to an output file. The file loop (convert_file.h)
// and the blocks (pipeline.h) call it once per line.
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/block_copy.h"
#include "convert/field_plan.h"
#include "params/field_table.h"
#include "textio/line_file.h"

namespace tabulon {

// The room AppendRecord writes a record's text into at once, for any record
// of the plan.
inline std::size_t RecordRoom(const RecordPlan& plan) {
  return plan.LongestText + kCopySlack;
}

// The room a line end takes: CR LF, and one byte more, as WriteLineEnd
// writes into the buffer only while that leaves it unfilled.
inline constexpr std::size_t kLineEndRoom = 3;

// Appends the field texts of `record`, joined by `separator`, to `out`
// (between BeginText and WriteLineEnd); a record whose text may not fit the
// buffer goes piece by piece. `tail` is the number of bytes after the record
// that may be read (never written); they do not change the text.
void AppendRecord(LineFile& out, std::string_view record, const RecordPlan& plan, char separator,
                  std::size_t tail = 0);

// Writes the line of one record read from `text`: its field texts and CR LF.
inline void WriteRecordLine(LineFile& out, const LineFile& text, std::string_view record,
                            const RecordPlan& plan, char separator) {
  BeginText(out);
  AppendRecord(out, record, plan, separator, ReadableAfter(text, record));
  WriteLineEnd(out);
}

// What ConvertBufferedLines carries from one call to the next.
struct BufferedRun {
  std::size_t Keep = 0;  // output room that a line must leave more than
  // Text bytes left to convert: each line takes its kept bytes and 2; the
  // lines stop when none are left.
  std::size_t Budget = static_cast<std::size_t>(-1);
  std::size_t Expected = 0;  // the last line's length, which the next is expected to have
};

// Converts the lines that lie whole in the read buffer of `text`, each with
// its LF or CR LF, straight into the buffer of `out` while it has room for
// a record's longest text and line end, more than `run.Keep` bytes: with the
// effect of ReadTextLine and WriteRecordLine for each, the same bytes, and
// no system request. Stops before a line the general rules must read (a CR
// that ends no line, a Ctrl-Z, a line that runs past the buffer) and before
// any line when `out` is written out at every line end. Returns the number
// of lines converted.
std::size_t ConvertBufferedLines(LineFile& text, LineFile& out, const RecordPlan& plan,
                                 char separator, BufferedRun& run);

// Appends the header line's text: every field's header name quoted.
void AppendHeader(LineFile& out, const FieldTable& table, std::size_t field_count, char separator);

}  // namespace tabulon
