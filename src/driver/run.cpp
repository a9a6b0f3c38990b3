#include "driver/run.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string_view>
#include <typeinfo>

#include "convert/record.h"
#include "driver/failure_report.h"
#include "driver/options.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "textio/error_stream.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

// "Textファイルを指定してください"
constexpr std::string_view kNameTheTextFile =
    "\x54\x65\x78\x74\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8e\x77\x92\xe8\x82\xb5\x82\xc4\x82"
    "\xad\x82\xbe\x82\xb3\x82\xa2";
// "Csv(Tab)ファイルを指定してください"
constexpr std::string_view kNameTheOutputFile =
    "\x43\x73\x76\x28\x54\x61\x62\x29\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8e\x77\x92\xe8\x82"
    "\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
// "パラメータファイルを指定してください"
constexpr std::string_view kNameTheParameterFile =
    "\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x8e\x77\x92"
    "\xe8\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
// "Textファイルが見つかりません"
constexpr std::string_view kTextFileNotFound =
    "\x54\x65\x78\x74\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82"
    "\xdc\x82\xb9\x82\xf1";
// "パラメータファイルが見つかりません"
constexpr std::string_view kParameterFileNotFound =
    "\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82"
    "\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

constexpr std::string_view kUsage[] = {
    "Tabulon ver1.1",          "usage: Tabulon [-t] [-c] [-h] -f parafile textfile csvfile",
    "  [-c] ... CSV(default)", "  [-t] ... TAB",
    "  [-h] ... Head Output",
};

// The layout read from the parameter file; lives for the whole run.
FieldTable Fields;

// Checks the names in order and either reports the first problem or loads
// the parameter file and converts.
void CheckAndConvert(const RunOptions& options) {
  if (options.TextFileName.empty()) return WriteMessage(kNameTheTextFile);
  if (options.OutputFileName.empty()) return WriteMessage(kNameTheOutputFile);
  if (options.ParameterFileName.empty()) return WriteMessage(kNameTheParameterFile);
  if (!platform::FileExists(options.TextFileName.c_str())) return WriteMessage(kTextFileNotFound);
  if (!platform::FileExists(options.ParameterFileName.c_str())) {
    return WriteMessage(kParameterFileNotFound);
  }
  std::string error_text = LoadParameterFile(options.ParameterFileName, Fields);
  if (!error_text.empty()) return WriteMessage(error_text);
  ConvertFile(options.TextFileName, options.OutputFileName, Fields, options.Separator,
              options.HeaderFlag);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  std::string command_line;
  if (platform::RawCommandLine(command_line)) {
    std::vector<std::string> arguments = SplitCommandLine(command_line);
    if (!arguments.empty()) arguments.erase(arguments.begin());  // the program's own name
    return arguments;
  }
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '\0') arguments.emplace_back(argv[i]);  // "" is no argument
  }
  return arguments;
}

// The kind name of a foreign exception: its type's name without namespaces.
std::string KindNameOf(const std::exception& error) {
  const char* raw = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && demangled ? demangled.get() : raw;
  std::size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

// A failed close while an error was unwinding takes that error's place.
[[noreturn]] void Report(const Exception& error) {
  if (std::optional<EInOutError> replacement = TakeReplacementError()) ReportFailure(*replacement);
  ReportFailure(error);
}

[[noreturn]] void OnTerminate() {
  LastResortReport(217, TABULON_CALLER_ADDRESS());
}

}  // namespace

void Run(const std::vector<std::string>& arguments) {
  OpenErrorStream();
  RunOptions options;
  std::size_t n = arguments.size();
  if (n >= 1 && n <= kMaxArguments) {
    options = ScanArguments(arguments);
    if (options.UsageFlag != 'y') CheckAndConvert(options);
  }
  if (n == 0 || n > kMaxArguments || options.UsageFlag == 'y') {
    for (std::string_view line : kUsage) WriteMessage(line);
  }
  CloseErrorStream();
}

void RunProcess(int argc, char** argv) {
  platform::PrepareProcess();
  std::set_terminate(OnTerminate);
  try {
    Run(Arguments(argc, argv));
  } catch (const Exception& error) {
    Report(error);
  } catch (const std::bad_alloc&) {
    Report(OutOfMemoryError());
  } catch (const std::exception& error) {
    // Anything else that escapes is reported in the same form.
    Report(Exception(KindNameOf(error).c_str(), error.what(), nullptr));
  } catch (...) {
    Report(Exception("Exception", "", nullptr));
  }
  platform::ExitProcess(0);
}

}  // namespace tabulon
