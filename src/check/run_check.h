// The layout check's run: the command line, the two files, the report.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/exit_status.h"
#include "base/messages.h"

namespace tabulon::check {

// Checks the files named by `arguments` ("-f parafile textfile", without the
// program's name; see check/check_options.h) and writes the report to
// standard output; a file that is missing or cannot be read, and a refused
// command line, are reported on standard error. --help and --version write
// to standard output and return kStatusNothingFound. Returns the exit status.
// Errors of the file operations propagate to the caller.
int RunCheck(const std::vector<std::string>& arguments);

// Writes one of the check's messages on standard error, in the terminal's
// form (or a line already in that form); dropped when standard error is one
// of the check's own files.
void WriteError(const Text& text);
void WriteError(std::string_view line);

// The process entry: runs the check and ends the process with its status,
// kStatusCouldNotRun after an error (its message on standard error).
[[noreturn]] void RunCheckProcess(int argc, char** argv);

}  // namespace tabulon::check
