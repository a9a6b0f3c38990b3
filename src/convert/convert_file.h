// The file loop: the text file converted line by line into the output file.
#pragma once

#include <cstddef>
#include <string_view>

#include "convert/field_plan.h"
#include "convert/pipeline.h"
#include "params/field_table.h"
#include "textio/line_file.h"

namespace tabulon {

// Converts every line of `text` into `out` (both open). With more than one
// CPU a large text goes on in blocks on `cpus` threads, with the same result.
void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
                  unsigned cpus);

// The same with blocks of `shape` once `blocks_after` bytes of lines have
// gone line by line, and again after every line longer than a block.
void ConvertLines(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
                  const BlockShape& shape, std::size_t blocks_after);

// Converts the text file into the output file. The output is created (or
// emptied) only after the text file opened. Raises EInOutError on any failed
// file operation; the output file keeps every line written before it.
void ConvertFile(std::string_view text_name, std::string_view output_name, const FieldTable& table,
                 char separator, char header_flag);

}  // namespace tabulon
