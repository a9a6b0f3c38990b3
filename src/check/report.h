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

// The report, its texts in `form`. The parameter file's own diagnostic comes
// first, then the fit of the layout (record lengths, split characters per
// field), the bytes of the text file, and the files' encodings.
Report MakeReport(const ParameterFindings& parameters, const CheckLayout& layout,
                  const TextFindings& text, TextForm form);

// A diagnostic of the parameter file reader (code page 932, as the reader
// returns it) in `form`: its texts from the catalogue, the line number and
// the user's bytes as they are.
std::string DiagnosticIn(std::string_view diagnostic, TextForm form);

}  // namespace tabulon::check
