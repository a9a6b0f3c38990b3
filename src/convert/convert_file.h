// The file loop: the text file converted line by line into the output file.
#pragma once

#include <string_view>

#include "params/field_table.h"

namespace tabulon {

// Converts the text file into the output file. The output is created (or
// emptied) only after the text file opened. Raises EInOutError on any failed
// file operation; the output file keeps every line written before it.
void ConvertFile(std::string_view text_name, std::string_view output_name, const FieldTable& table,
                 char separator, char header_flag);

}  // namespace tabulon
