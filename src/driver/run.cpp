#include "driver/run.h"

#include <string_view>

#include "base/exit_status.h"
#include "base/messages.h"
#include "cli/command_line.h"
#include "convert/convert_file.h"
#include "driver/failure_report.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "textio/error_stream.h"

namespace tabulon {
namespace {

// The banner and usage block.
constexpr const Text* kUsage[] = {
    &messages::kBanner,   &messages::kUsageLine,   &messages::kUsageComma,
    &messages::kUsageTab, &messages::kUsageHeader,
};

// The layout read from the parameter file; lives for the whole run.
FieldTable Fields;

// Checks the names in order and either reports the first problem or loads
// the parameter file and converts.
void CheckAndConvert(const RunOptions& options) {
  if (options.TextFileName.empty()) return WriteMessage(messages::kNameTheTextFile);
  if (options.OutputFileName.empty()) return WriteMessage(messages::kNameTheOutputFile);
  if (options.ParameterFileName.empty()) return WriteMessage(messages::kNameTheParameterFile);
  if (const Text* missing = MissingFileMessage(options)) return WriteMessage(*missing);
  std::string error_text =
      LoadParameterFile(options.ParameterFileName, Fields, ChosenTextForms.MessageChannel);
  if (!error_text.empty()) return WriteMessage(error_text);
  ConvertFile(options.TextFileName, options.OutputFileName, Fields, options.Separator,
              options.HeaderFlag);
}

}  // namespace

void Run(const std::vector<std::string>& arguments) {
  OpenErrorStream();
  // The files every argument names are the run's own before it writes
  // anything (the banner included): no report or message may go into them,
  // even before they are opened.
  for (const std::string& argument : arguments) platform::ProtectNamedFile(argument.c_str());
  RunOptions options;
  std::size_t n = arguments.size();
  if (n >= 1 && n <= kMaxArguments) {
    options = ScanArguments(arguments);
    if (options.UsageFlag != 'y') CheckAndConvert(options);
  }
  if (n == 0 || n > kMaxArguments || options.UsageFlag == 'y') {
    for (const Text* line : kUsage) WriteMessage(*line);
  }
  CloseErrorStream();
}

void RunProcess(int argc, char** argv) {
  platform::PrepareProcess();
  ChooseTextForms();
  int status = kExitSuccess;
  try {
    Run(CommandArguments(argc, argv));
  } catch (...) {
    // Every error that escapes a step, whatever its kind, is reported here.
    status = ReportCurrentError();
  }
  platform::ExitProcess(status);
}

}  // namespace tabulon
