// The record layout read from the parameter file: four parallel columns with
// one slot per line of the file (every slot zeroed first), and the number of
// field lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tabulon {

struct FieldTable {
  std::vector<unsigned char> TypeCodes;
  std::vector<std::int32_t> Widths;
  std::vector<unsigned char> TrimCodes;
  std::vector<std::string> HeaderNames;
  std::int32_t FieldCount = 0;

  // Number of slots (lines of the parameter file); at least FieldCount.
  std::size_t SlotCount() const { return TypeCodes.size(); }
};

}  // namespace tabulon
