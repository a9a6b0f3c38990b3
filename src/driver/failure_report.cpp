#include "driver/failure_report.h"

#include <cxxabi.h>
#include <unwind.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <typeinfo>

#include "base/exit_status.h"
#include "base/messages.h"
#include "platform/platform.h"
#include "textio/io_codes.h"

#if defined(__ELF__)
// The start and the end of the executable's code, provided by the linker.
extern "C" char __executable_start;  // NOLINT
extern "C" char etext;               // NOLINT
#endif

namespace tabulon {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Builds the report in a fixed buffer. Its length is counted on the code page
// 932 form, which is cut after kReportLimit bytes. In the UTF-8 form the
// program's texts are written in UTF-8 (as many whole characters as the cut
// keeps of them); every other byte is written as it is.
class ReportText {
 public:
  ReportText(char (&buffer)[kReportBufferSize], TextForm form) : Buffer(buffer), Form(form) {}
  void Append(std::string_view bytes) { Put(bytes.substr(0, Take(bytes.size()))); }
  void Append(const Text* text) {
    if (text == nullptr) return;
    std::size_t kept = Take(text->Cp932.size());
    Put(Form == TextForm::Utf8 ? Utf8Prefix(*text, kept) : text->Cp932.substr(0, kept));
  }
  std::size_t Size() const { return Used; }

 private:
  // Counts up to `size` more code page 932 bytes against the limit.
  std::size_t Take(std::size_t size) {
    std::size_t kept = size < kReportLimit - Counted ? size : kReportLimit - Counted;
    Counted += kept;
    return kept;
  }
  void Put(std::string_view bytes) {
    std::memcpy(Buffer + Used, bytes.data(), bytes.size());
    Used += bytes.size();
  }

  char* Buffer;
  TextForm Form;
  std::size_t Counted = 0;
  std::size_t Used = 0;
};

// A '.' follows the message when it is not empty and the last byte of its
// code page 932 form is not one.
bool NeedsFullStop(const Report& report) {
  for (std::string_view part :
       {report.Tail ? report.Tail->Cp932 : std::string_view(), report.Parameter,
        report.Head ? report.Head->Cp932 : std::string_view()}) {
    if (!part.empty()) return part.back() != '.';
  }
  return false;
}

void Hex8(char* out, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
}

std::uint32_t LocationOf(const void* address) {
  return address ? static_cast<std::uint32_t>(platform::CodeOffset(address)) : 0;
}

bool InProgramCode(std::uintptr_t address) {
#if defined(__ELF__)
  return address >= reinterpret_cast<std::uintptr_t>(&__executable_start) &&
         address < reinterpret_cast<std::uintptr_t>(&etext);
#else
  (void)address;
  return false;
#endif
}

// Finds where in the program a failure arose that was noticed in a library
// (operator new, std::terminate): walking outwards from here, the first
// frame of the program after the library's frames. Allocates nothing.
//
// In a static executable the library is linked into the program's own code
// range, so that rule finds nothing there. For exhausted memory the walk
// also notes the frame that called operator new (the code that asked for
// memory, or the library routine that asked for it on the program's behalf),
// found by the start of the handler's function and of operator new's.
struct FrameWalk {
  std::uintptr_t Handler = 0;  // start of the new-handler, when walking for it
  bool AfterHandler = false;   // the handler's own frame has been passed
  bool LeftProgram = false;
  const void* Found = nullptr;
  const void* AllocationCaller = nullptr;
};

bool IsOperatorNew(std::uintptr_t start) {
  using Plain = void* (*)(std::size_t);
  using NoThrow = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
  static const std::uintptr_t kStarts[] = {
      reinterpret_cast<std::uintptr_t>(static_cast<Plain>(&::operator new)),
      reinterpret_cast<std::uintptr_t>(static_cast<Plain>(&::operator new[])),
      reinterpret_cast<std::uintptr_t>(static_cast<NoThrow>(&::operator new)),
      reinterpret_cast<std::uintptr_t>(static_cast<NoThrow>(&::operator new[])),
  };
  return std::find(std::begin(kStarts), std::end(kStarts), start) != std::end(kStarts);
}

void NoteAllocationCaller(FrameWalk& walk, _Unwind_Context* context, std::uintptr_t ip) {
  std::uintptr_t start = _Unwind_GetRegionStart(context);
  if (!walk.AfterHandler) {
    walk.AfterHandler = start == walk.Handler;
    return;
  }
  // The handler is called by operator new (operator new[] and the nothrow
  // forms call it in turn), or directly by a block that could not grow: the
  // first frame that is none of them asked for the memory.
  if (walk.AllocationCaller == nullptr && !IsOperatorNew(start)) {
    walk.AllocationCaller = reinterpret_cast<const void*>(ip);
  }
}

_Unwind_Reason_Code VisitFrame(_Unwind_Context* context, void* state) {
  FrameWalk& walk = *static_cast<FrameWalk*>(state);
  std::uintptr_t ip = _Unwind_GetIP(context);
  if (ip == 0) return _URC_END_OF_STACK;
  if (walk.Handler != 0) NoteAllocationCaller(walk, context, ip);
  if (!InProgramCode(ip)) {
    walk.LeftProgram = true;
  } else if (walk.LeftProgram) {
    walk.Found = reinterpret_cast<const void*>(ip);
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

// `handler`: the start of the new-handler when the walk is for exhausted
// memory, 0 otherwise.
[[gnu::noinline]] const void* FailureInProgram(std::uintptr_t handler = 0) noexcept {
  FrameWalk walk;
  walk.Handler = handler;
  _Unwind_Backtrace(VisitFrame, &walk);
  return walk.Found != nullptr ? walk.Found : walk.AllocationCaller;
}

[[noreturn]] void OnTerminate() noexcept {
  LastResortReport(kRuntimeErrorNumber, FailureInProgram());
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
  out_of_memory.RaisedAt(FailureInProgram(reinterpret_cast<std::uintptr_t>(&OnOutOfMemory)));
  throw std::bad_alloc();
}

struct InstallNewHandler {
  InstallNewHandler() { std::set_new_handler(OnOutOfMemory); }
};
[[gnu::init_priority(101)]] InstallNewHandler install_new_handler;

}  // namespace

std::size_t FormatReport(char (&buffer)[kReportBufferSize], const Report& report, TextForm form) {
  char hex[8];
  Hex8(hex, report.Location);
  ReportText text(buffer, form);
  text.Append(report.KindName);
  text.Append(&messages::kReportModule);
  text.Append(report.Module);
  text.Append(&messages::kReportAt);
  text.Append(std::string_view(hex, sizeof hex));
  text.Append(&messages::kReportOccurred);
  text.Append(kLineEnd);
  text.Append(report.Head);
  text.Append(report.Parameter);
  text.Append(report.Tail);
  if (NeedsFullStop(report)) text.Append(".");
  text.Append(kLineEnd);
  return text.Size();
}

namespace {

[[noreturn]] void WriteReport(Report report, const void* location) noexcept {
  report.Module = platform::ModuleName();
  report.Location = LocationOf(location);
  char buffer[kReportBufferSize];
  std::size_t size = FormatReport(buffer, report, ChosenTextForms.FailureReport);
  platform::Handle out = platform::StandardOutput();
  // The results are ignored: with standard output gone, the report is lost
  // and the status is still 1. Nor is it ever written into one of the run's
  // own files (standard output appending to the text file, or opened on the
  // output file).
  if (!platform::IsRunFile(out)) {
    platform::Write(out, buffer, size);
    platform::Write(out, kLineEnd.data(), kLineEnd.size());
  }
  platform::ExitProcess(kExitFailure);
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

void ReportCurrentError() noexcept {
  // A close that failed while the error was unwinding takes its place.
  if (std::optional<EInOutError> replacement = TakeReplacementError()) ReportFailure(*replacement);
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

void LastResortReport(int number, const void* address) noexcept {
  char line[kLastResortSize];
  FormatLastResort(line, number, LocationOf(address));
  platform::Handle out = platform::StandardOutput();
  if (!platform::IsRunFile(out)) {
    platform::Write(out, line, sizeof line);
    platform::Write(out, kLineEnd.data(), kLineEnd.size());
  }
  std::_Exit(number);
}

const EOutOfMemory& OutOfMemoryError() {
  return out_of_memory;
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
