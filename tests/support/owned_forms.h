// Owned-string forms of the line reader and the item splitter, for tests and
// fuzz targets that compare whole values: the product reads into views and
// reuses its item strings, so it has no use for these.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "params/parameter_file.h"
#include "textio/line_file.h"
#include "textio/spill_buffer.h"

namespace tabulon {

// The next line of `file`, as an owned string.
inline std::string ReadTextLine(LineFile& file) {
  SpillBuffer spill;
  return std::string(ReadTextLine(file, spill));
}

// The items of one parameter line.
inline std::vector<std::string> SplitItems(std::string_view line) {
  std::vector<std::string> items;
  items.resize(SplitItems(line, items));
  return items;
}

}  // namespace tabulon
