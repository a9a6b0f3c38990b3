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

constexpr std::size_t kNoBlocks = static_cast<std::size_t>(-1);

void WriteHeaderLine(LineFile& out, const FieldTable& table, const RecordPlan& plan,
                     char separator) {
  BeginText(out);
  AppendHeader(out, table, plan.Fields.size(), separator);
  WriteLineEnd(out);
  CheckIo();
}

}  // namespace

void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
                  const BlockShape& shape, std::size_t blocks_after) {
  SpillBuffer spill;
  BufferedRun run;
  std::size_t& before_blocks = run.Budget;
  before_blocks = blocks_after;
  bool begun = false;  // spill holds the start of the next line
  for (;;) {
    if (!begun) {
      bool ended = AtEndOfData(text);
      CheckTextRead();
      if (ended) break;
      if (before_blocks == 0) {
        const BlocksEnd end = ConvertInBlocks(text, out, spill, plan, separator, shape);
        if (end == BlocksEnd::DataEnded) break;
        before_blocks = end == BlocksEnd::LineBegun ? blocks_after : kNoBlocks;
        begun = end == BlocksEnd::LineBegun;
        continue;
      }
      if (ConvertBufferedLines(text, out, plan, separator, run) > 0) continue;
    }
    // Bytes beyond the fields' reach are never looked at: not keeping them
    // bounds the memory a huge line needs.
    std::string_view record = begun ? ReadBegunLine(text, spill, plan.BytesReached)
                                    : ReadTextLine(text, spill, plan.BytesReached);
    begun = false;
    CheckTextRead();
    WriteRecordLine(out, text, record, plan, separator);
    CheckLineWritten();
    before_blocks -= std::min(before_blocks, record.size() + 2);
  }
}

void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
                  unsigned cpus) {
  // One CPU, or a layout whose records are too long for blocks: line by line.
  const BlockShape shape = cpus > 1 ? BlockShapeFor(cpus, plan, CapacityOf(text)) : BlockShape{};
  ConvertLines(text, out, plan, separator, shape, shape.Converters > 1 ? kBlocksAfter : kNoBlocks);
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
  ConvertLines(text, out, plan, separator, FlushesAtLineEnds(out) ? 1 : platform::UsableCpuCount());

  out_closer.Close();
  text_closer.Close();
}

}  // namespace tabulon
