// The failure report: the two lines written to standard output when an error
// reaches the top of the run, and the shorter last-resort report for failures
// outside the run (start-up, final clean-up, a terminate).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "textio/errors.h"

namespace tabulon {

// The report text is cut after this many bytes.
inline constexpr std::size_t kReportLimit = 1024;

// Formats the report into `buffer` (kReportLimit bytes) without allocating:
// "<kind> がモジュール <module> の <location> で発生しました。" CR LF, then the
// message with a '.' appended when its last byte is not '.', CR LF. Returns
// the number of bytes.
std::size_t FormatReport(char* buffer, std::string_view kind_name, std::string_view module,
                         std::uint32_t location, std::string_view message);

// Writes the report of `error` (and one more CR LF) to standard output and
// ends the process with status 1.
[[noreturn]] void ReportFailure(const Exception& error);

// The 29-byte last-resort line: "Runtime error NNN at XXXXXXXX".
inline constexpr std::size_t kLastResortSize = 29;
void FormatLastResort(char (&line)[kLastResortSize], int number, std::uint32_t address);

// Writes the last-resort line and CR LF to standard output and ends the
// process with `number` as its status.
[[noreturn]] void LastResortReport(int number, const void* address);

// The error made at start-up that every out-of-memory failure reports.
const EOutOfMemory& OutOfMemoryError();

}  // namespace tabulon
