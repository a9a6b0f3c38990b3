// The layout check's report: one line per finding, most important first.
#pragma once

#include <string>
#include <vector>

#include "check/layout_check.h"
#include "params/field_table.h"

namespace tabulon::check {

struct Report {
  std::vector<std::string> Lines;  // without line ends
  bool Found = false;              // something was found (exit status 1)
};

// The report in code page 932, or in UTF-8 for a terminal that shows it.
// The parameter file's own diagnostic comes first, then the fit of the
// layout (record lengths, split characters per field), the bytes of the text
// file, and the files' encodings.
Report MakeReport(const ParameterFindings& parameters, const FieldTable& table,
                  const CheckLayout& layout, const TextFindings& text, bool utf8);

}  // namespace tabulon::check
