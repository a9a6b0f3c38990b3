// The failure report: the two lines written to standard output when an error
// reaches the top of the run, and the shorter last-resort report for failures
// outside the run (start-up, final clean-up, a terminate).
//
// Nothing on the way from a failure to the report allocates: the report is
// built in a fixed buffer, and running out of memory reports an error made at
// start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/errors.h"
#include "base/report_text.h"

namespace tabulon {

// Writes the report of an error (and one more CR LF) to standard output, the
// program's texts in the form chosen for it. Write failures are ignored. The
// message given here is shown as it is.
void ReportFailure(std::string_view kind_name, std::string_view message,
                   const void* location) noexcept;
void ReportFailure(const Exception& error) noexcept;

// Reports the exception being handled; call it only inside a catch block.
// The program's own errors are reported as they are (or by the error that
// replaced them while files were being closed), std::bad_alloc as the
// out-of-memory error, anything else by its own type name and message.
// Returns the exit status the run ends with (kExitFailure).
int ReportCurrentError() noexcept;

// The 29-byte last-resort line: "Runtime error NNN at XXXXXXXX", the
// number's last digit at byte 17 and the address's last digit at byte 29.
inline constexpr std::size_t kLastResortSize = 29;
void FormatLastResort(char (&line)[kLastResortSize], int number, std::uint32_t address);

// Writes the last-resort line and CR LF to standard output; the terminate
// handler then ends the process with `number` as its status, without any
// further clean-up.
void WriteLastResortReport(int number, const void* address) noexcept;

// A class's name without its namespaces or template arguments, read from its
// mangled name without allocating ("St9bad_alloc" gives "bad_alloc"); empty
// when the mangled name is not that of a class.
std::string_view TypeBaseName(const char* mangled_name);

}  // namespace tabulon
