#include "driver/run.h"

#include <string_view>

#include "convert/record.h"
#include "driver/failure_report.h"
#include "driver/options.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "textio/error_stream.h"

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

}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv) {
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
  try {
    Run(CommandArguments(argc, argv));
  } catch (...) {
    // Every error that escapes a step, whatever its kind, is reported here.
    ReportCurrentError();
  }
  platform::ExitProcess(0);
}

}  // namespace tabulon
