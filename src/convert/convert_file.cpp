#include "convert/convert_file.h"

#include <algorithm>

#include "convert/field_plan.h"
#include "convert/pipeline.h"
#include "convert/record.h"
#include "platform/platform.h"
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

}  // namespace

void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
                  unsigned cpus) {
  SpillBuffer spill;
  // A small text is done line by line before threads would pay.
  std::size_t before_blocks = cpus > 1 ? kBlocksAfter : static_cast<std::size_t>(-1);
  for (;;) {
    bool ended = AtEndOfData(text);
    CheckTextRead();
    if (ended) break;
    if (before_blocks == 0) {
      if (ConvertInBlocks(text, out, spill, plan, separator, BlockShapeFor(cpus))) break;
      before_blocks = static_cast<std::size_t>(-1);
    }
    // Bytes beyond the fields' reach are never looked at: not keeping them
    // bounds the memory a huge line needs.
    std::string_view record = ReadTextLine(text, spill, plan.BytesReached);
    CheckTextRead();
    WriteRecordLine(out, text, record, plan, separator);
    CheckLineWritten();
    before_blocks -= std::min(before_blocks, record.size() + 2);
  }
}

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
  // A large text goes on in blocks on every CPU the run may use; output to
  // a device that is written at every line end goes line by line.
  ConvertLines(text, out, plan, separator, out.FlushesEachLine ? 1 : platform::UsableCpuCount());

  out_closer.Close();
  text_closer.Close();
}

}  // namespace tabulon
