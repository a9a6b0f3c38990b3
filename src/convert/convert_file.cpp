#include "convert/convert_file.h"

#include "convert/field_plan.h"
#include "convert/record.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

void WriteHeaderLine(LineFile& out, const FieldTable& table, const RecordPlan& plan,
                     char separator) {
  BeginText(out);
  AppendHeader(out, table, plan.Fields.size(), separator);
  WriteLineEnd(out);
  CheckIo();
}

// One line per record until the data ends.
void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator) {
  SpillBuffer spill;
  for (;;) {
    bool ended = AtEndOfData(text);
    CheckIo();
    if (ended) break;
    // Bytes beyond the fields' reach are never looked at: not keeping them
    // bounds the memory a huge line needs.
    std::string_view record = ReadTextLine(text, spill, plan.BytesReached);
    CheckIo();
    BeginText(out);
    AppendRecord(out, record, plan, separator, ReadableAfter(text, record));
    WriteLineEnd(out);
    CheckIo();
  }
}

}  // namespace

void ConvertFile(std::string_view text_name, std::string_view output_name, const FieldTable& table,
                 char separator, char header_flag) {
  const RecordPlan plan = MakePlan(table);

  LineFile text;
  BindName(text, text_name);
  OpenForReading(text);
  CheckIo();
  CloseOnUnwind text_closer(text);

  LineFile out;
  BindName(out, output_name);
  OpenForWriting(out);
  CheckIo();
  CloseOnUnwind out_closer(out);  // destroyed first: the output closes before the text

  if (header_flag == 'y') WriteHeaderLine(out, table, plan, separator);
  ConvertLines(text, out, plan, separator);

  out_closer.Close();
  text_closer.Close();
}

}  // namespace tabulon
