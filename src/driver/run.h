// The run: the message channel, the command line, the checks, then loading
// the parameter file and converting.
#pragma once

#include <string>
#include <vector>

namespace tabulon {

// Runs the program on `arguments` (without the program's name; empty
// arguments already dropped). Messages go to the message channel. Errors
// propagate to the caller.
void Run(const std::vector<std::string>& arguments);

// The process entry: the failure report around the whole run. Never returns;
// the exit status is 0 after a run, 1 after a failure report.
[[noreturn]] void RunProcess(int argc, char** argv);

}  // namespace tabulon
