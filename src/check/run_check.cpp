#include "check/run_check.h"

#include <new>
#include <string_view>

#include "base/errors.h"
#include "base/messages.h"
#include "check/draft.h"
#include "check/layout_check.h"
#include "check/report.h"
#include "driver/options.h"
#include "driver/run.h"
#include "params/field_table.h"
#include "platform/platform.h"

namespace tabulon::check {
namespace {

#ifdef _WIN32
constexpr const Text& kUsage = messages::kCheckUsageWindows;
#else
constexpr const Text& kUsage = messages::kCheckUsage;
#endif

// Writes the lines, each ended by CR LF; false when the write failed.
bool WriteLines(platform::Handle handle, const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return platform::Write(handle, out.data(), out.size()) == 0;
}

void WriteError(std::string_view message) {
  WriteLines(platform::StandardError(), {std::string(message)});
}

void WriteError(const Text& text) {
  WriteError(In(text, platform::TerminalTextForm(platform::StandardError())));
}

}  // namespace

int RunCheck(const std::vector<std::string>& arguments) {
  if (arguments.size() == 2 && arguments[0] == "--draft") return RunDraft(arguments[1]);
  RunOptions options = ScanArguments(arguments);
  if (options.UsageFlag == 'y' || options.TextFileName.empty() ||
      options.ParameterFileName.empty() || !options.OutputFileName.empty()) {
    WriteError(kUsage);
    return kStatusCouldNotRun;
  }
  // The order of the conversion: the text file's existence, the parameter
  // file's, then the parameter file is read before the text file.
  if (!platform::PassesExistenceTest(options.TextFileName.c_str())) {
    WriteError(messages::kTextFileNotFound);
    return kStatusCouldNotRun;
  }
  if (!platform::PassesExistenceTest(options.ParameterFileName.c_str())) {
    WriteError(messages::kParameterFileNotFound);
    return kStatusCouldNotRun;
  }
  FieldTable table;
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  ParameterFindings parameters = CheckParameterFile(options.ParameterFileName, table, form);
  // A parameter file with a diagnostic converts nothing: no layout to check.
  CheckLayout layout = parameters.Diagnostic.empty() ? MakeCheckLayout(table) : CheckLayout{};
  TextFindings text = CheckTextFile(options.TextFileName, layout);
  Report report = MakeReport(parameters, layout, text, form);
  if (!WriteLines(platform::StandardOutput(), report.Lines)) return kStatusCouldNotRun;
  return report.Found ? kStatusSomethingFound : kStatusNothingFound;
}

void RunCheckProcess(int argc, char** argv) {
  platform::PrepareProcess();
  int status = kStatusCouldNotRun;
  try {
    status = RunCheck(CommandArguments(argc, argv));
  } catch (const Exception& error) {
    WriteError(error.Parts().In(platform::TerminalTextForm(platform::StandardError())));
  } catch (const std::bad_alloc&) {
    WriteError(messages::kOutOfMemory);
  } catch (...) {
    // Nothing more to say: the check did not run to its end.
  }
  platform::ExitProcess(status);
}

}  // namespace tabulon::check
