#include "driver/failure_report.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <typeinfo>

#include "base/exit_status.h"
#include "base/messages.h"
#include "platform/platform.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::uint32_t LocationOf(const void* address) {
  return address ? static_cast<std::uint32_t>(platform::CodeOffset(address)) : 0;
}

[[noreturn]] void OnTerminate() noexcept {
  WriteLastResortReport(kRuntimeErrorNumber, platform::FailureInProgram());
  std::_Exit(kRuntimeErrorNumber);  // without any further clean-up
}

// Made before any other static object, in this order, and kept until the
// process ends: the last-resort report for a terminate, the out-of-memory
// error, and the handler that raises it.
struct InstallTerminateHandler {
  InstallTerminateHandler() { std::set_terminate(OnTerminate); }
};
[[gnu::init_priority(101)]] InstallTerminateHandler install_terminate_handler;

[[gnu::init_priority(101)]] EOutOfMemory out_of_memory(nullptr);

// operator new calls this when memory runs out: the pre-made error notes
// where, and the allocation fails with std::bad_alloc.
void OnOutOfMemory() {
  out_of_memory.RaisedAt(
      platform::FailureInProgram(reinterpret_cast<std::uintptr_t>(&OnOutOfMemory)));
  throw std::bad_alloc();
}

struct InstallNewHandler {
  InstallNewHandler() { std::set_new_handler(OnOutOfMemory); }
};
[[gnu::init_priority(101)]] InstallNewHandler install_new_handler;

void WriteReport(Report report, const void* location) noexcept {
  report.Module = platform::ModuleName();
  report.Location = LocationOf(location);
  char buffer[kReportBufferSize];
  std::size_t size = FormatReport(buffer, report, ChosenTextForms.FailureReport);
  // The result is ignored: with standard output gone, the report is lost
  // and the status is still 1. Nor is it ever written into one of the run's
  // own files (standard output appending to the text file, or opened on the
  // output file).
  platform::WriteOutsideRunFiles(platform::StandardOutput(), std::string_view(buffer, size),
                                 kLineEnd);
}

}  // namespace

void ReportFailure(std::string_view kind_name, std::string_view message,
                   const void* location) noexcept {
  Report report;
  report.KindName = kind_name;
  report.Parameter = message;
  WriteReport(report, location);
}

void ReportFailure(const Exception& error) noexcept {
  const ErrorMessage& message = error.Parts();
  Report report;
  report.KindName = error.KindName();
  report.Head = message.Head;
  report.Parameter = message.Parameter;
  report.Tail = message.Tail;
  WriteReport(report, error.Location());
}

int ReportCurrentError() noexcept {
  // A close that failed while the error was unwinding takes its place.
  if (std::optional<EInOutError> replacement = TakeReplacementError()) {
    ReportFailure(*replacement);
    return kExitFailure;
  }
  try {
    throw;
  } catch (const Exception& error) {
    ReportFailure(error);
  } catch (const std::bad_alloc&) {
    ReportFailure(out_of_memory);
  } catch (const std::exception& error) {
    std::string_view kind = TypeBaseName(typeid(error).name());
    ReportFailure(kind.empty() ? "Exception" : kind, error.what(), nullptr);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    std::string_view kind = type ? TypeBaseName(type->name()) : std::string_view();
    ReportFailure(kind.empty() ? "Exception" : kind, "", nullptr);
  }
  return kExitFailure;
}

void FormatLastResort(char (&line)[kLastResortSize], int number, std::uint32_t address) {
  static_assert(messages::kLastResort.Cp932.size() == kLastResortSize);
  std::memcpy(line, messages::kLastResort.Cp932.data(), kLastResortSize);
  // The number's last digit is byte 17, the address's last digit byte 29.
  unsigned value = static_cast<unsigned>(number) % 1000;
  std::size_t at = 16;
  do {
    line[at--] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Hex8(line + 21, address);
}

void WriteLastResortReport(int number, const void* address) noexcept {
  char line[kLastResortSize];
  FormatLastResort(line, number, LocationOf(address));
  platform::WriteOutsideRunFiles(platform::StandardOutput(), std::string_view(line, sizeof line),
                                 kLineEnd);
}

std::string_view TypeBaseName(const char* mangled_name) {
  std::string_view rest = mangled_name;
  if (rest.starts_with('*')) rest.remove_prefix(1);  // a type local to one file
  bool nested = rest.starts_with('N');
  if (nested) rest.remove_prefix(1);
  if (rest.starts_with("St")) rest.remove_prefix(2);  // std::
  std::string_view name;
  // Each part is its length in decimal and its bytes; the last one is the
  // class. Template arguments ('I') or an ABI tag ('B') end the walk.
  while (!rest.empty() && rest[0] >= '0' && rest[0] <= '9') {
    std::size_t length = 0;
    while (!rest.empty() && rest[0] >= '0' && rest[0] <= '9') {
      length = length * 10 + static_cast<std::size_t>(rest[0] - '0');
      rest.remove_prefix(1);
    }
    if (length == 0 || length > rest.size()) return {};
    name = rest.substr(0, length);
    rest.remove_prefix(length);
    if (!nested) break;
  }
  return name;
}

}  // namespace tabulon
