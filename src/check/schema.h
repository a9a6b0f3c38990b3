// tabulon-check --from-schema: a layout from a column table, a CSV file of
// "column,start,length" rows under a header row that names the three
// columns (in any order, in any case; other columns are ignored).
//
// Starts count from 1 when the first row starts at 1, from 0 otherwise; the
// columns follow one another in the record, and a gap between two becomes a
// field named FILLER. Every field is written X (quoted), trimmed on both
// sides (T), under the column's name.
#pragma once

#include <string_view>
#include <vector>

#include "check/import.h"

namespace tabulon::check {

// Maps the table's lines; the refusal names the line of the row.
ImportedLayout ReadSchema(const std::vector<std::string_view>& lines, ReadBudget& budget);

}  // namespace tabulon::check
