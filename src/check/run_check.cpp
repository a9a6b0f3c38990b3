#include "check/run_check.h"

#include <new>
#include <string_view>

#include "base/errors.h"
#include "base/messages.h"
#include "check/check_options.h"
#include "check/draft.h"
#include "check/import.h"
#include "check/layout_check.h"
#include "check/report.h"
#include "cli/command_line.h"
#include "params/field_table.h"
#include "platform/platform.h"

namespace tabulon::check {
namespace {

#ifdef _WIN32
constexpr const Text& kUsage = messages::kCheckUsageWindows;
constexpr const Text& kVersion = messages::kCheckVersionWindows;
#else
constexpr const Text& kUsage = messages::kCheckUsage;
constexpr const Text& kVersion = messages::kCheckVersion;
#endif

// Writes the lines, each ended by CR LF; false when the write failed. Lines
// that would go into one of the check's own files are dropped, as if they had
// been written.
bool WriteLines(platform::Handle handle, const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
  return platform::WriteOutsideRunFiles(handle, out) == 0;
}

// A refused command line: the reason naming the option, then the usage line.
int Refuse(const OptionScan& scan) {
  TextForm form = platform::TerminalTextForm(platform::StandardError());
  std::string reason(In(scan.Result == OptionScan::Outcome::UnknownOption
                            ? messages::kCheckUnknownOption
                            : messages::kCheckMissingArgument,
                        form));
  reason += scan.Option;
  WriteLines(platform::StandardError(), {reason, std::string(In(kUsage, form))});
  return kStatusCouldNotRun;
}

int ShowHelp() {
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  std::vector<std::string> lines;
  for (const Text* text : {&kUsage, &messages::kCheckHelpSummary}) {
    lines.emplace_back(In(*text, form));
  }
  for (std::string& line : OptionHelpLines(kCheckOptionRows)) lines.push_back(std::move(line));
  for (const Text* text : {&messages::kCheckHelpEndOfOptions, &messages::kCheckHelpTextFile,
                           &messages::kCheckHelpStatus}) {
    lines.emplace_back(In(*text, form));
  }
  return WriteLines(platform::StandardOutput(), lines) ? kStatusNothingFound : kStatusCouldNotRun;
}

// --from-copybook or --from-schema: one document, and no other file.
int RunImportMode(const CheckOptions& options) {
  const bool copybook = !options.CopybookName.empty();
  if ((copybook && !options.SchemaName.empty()) || options.Draft || !options.FileNames.empty() ||
      !options.ParameterFileName.empty()) {
    WriteError(kUsage);
    return kStatusCouldNotRun;
  }
  const std::string& name = copybook ? options.CopybookName : options.SchemaName;
  platform::ProtectNamedFile(name.c_str());
  return RunImport(copybook ? SourceKind::Copybook : SourceKind::Schema, name);
}

int ShowVersion() {
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  bool written = WriteLines(platform::StandardOutput(), {std::string(In(kVersion, form))});
  return written ? kStatusNothingFound : kStatusCouldNotRun;
}

}  // namespace

void WriteError(std::string_view message) {
  WriteLines(platform::StandardError(), {std::string(message)});
}

void WriteError(const Text& text) {
  WriteError(In(text, platform::TerminalTextForm(platform::StandardError())));
}

int RunCheck(const std::vector<std::string>& arguments) {
  CheckOptions options;
  OptionScan scan = ScanCheckOptions(arguments, kCheckOptionRows, options);
  if (scan.Result != OptionScan::Outcome::Scanned) return Refuse(scan);
  if (options.Help) return ShowHelp();
  if (options.Version) return ShowVersion();
  // The files its two names lead to are the check's own from here on: no
  // report or message goes into them, even before they are opened.
  for (const std::string& name : options.FileNames) platform::ProtectNamedFile(name.c_str());
  platform::ProtectNamedFile(options.ParameterFileName.c_str());
  if (!options.CopybookName.empty() || !options.SchemaName.empty()) return RunImportMode(options);
  // A draft needs the text file alone; a check both files.
  if (options.Draft && options.FileNames.size() == 1 && options.ParameterFileName.empty())
    return RunDraft(options.FileNames.front());
  if (options.Draft || options.FileNames.size() != 1 || options.ParameterFileName.empty()) {
    WriteError(kUsage);
    return kStatusCouldNotRun;
  }
  const std::string& text_name = options.FileNames.front();
  // The order of the conversion: the text file's existence, the parameter
  // file's, then the parameter file is read before the text file. Standard
  // input is there as long as the process runs.
  const char* checked_text = text_name == kStandardInputName ? nullptr : text_name.c_str();
  if (const Text* missing = MissingFileMessage(checked_text, options.ParameterFileName.c_str())) {
    WriteError(*missing);
    return kStatusCouldNotRun;
  }
  FieldTable table;
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  ParameterFindings parameters = CheckParameterFile(options.ParameterFileName, table, form);
  // A parameter file with a diagnostic converts nothing: no layout to check.
  CheckLayout layout = parameters.Diagnostic.empty() ? MakeCheckLayout(table) : CheckLayout{};
  TextFindings text = CheckTextFile(text_name, layout);
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
