// The layout check's report: one line per finding, most important first.
#pragma once

#include <string>
#include <vector>

#include "base/messages.h"
#include "check/layout_check.h"

namespace tabulon::check {

struct Report {
  std::vector<std::string> Lines;  // without line ends
  bool Found = false;              // something was found (exit status 1)
};

// The report, its texts in `form` (the parameter file's diagnostic is taken
// as it is, read in that form). The parameter file's own diagnostic comes
// first, then the fit of the layout (record lengths, split characters per
// field), the bytes of the text file, and the files' encodings.
Report MakeReport(const ParameterFindings& parameters, const CheckLayout& layout,
                  const TextFindings& text, TextForm form);

}  // namespace tabulon::check
