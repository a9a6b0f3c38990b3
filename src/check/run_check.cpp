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
constexpr std::string_view kProgram = "TabulonCheck";
constexpr const Text& kVersion = messages::kCheckVersionWindows;
#else
constexpr std::string_view kProgram = "tabulon-check";
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

// A refused command line: the reason (followed by the option or name it is
// about), then the usage lines.
int Refuse(const Text& reason, std::string_view named = {}) {
  TextForm form = platform::TerminalTextForm(platform::StandardError());
  std::vector<std::string> lines{std::string(In(reason, form)) + std::string(named)};
  for (std::string& line : UsageLines(kProgram, kCheckForms)) lines.push_back(std::move(line));
  WriteLines(platform::StandardError(), lines);
  return kStatusCouldNotRun;
}

int Refuse(const OptionScan& scan) {
  bool unknown = scan.Result == OptionScan::Outcome::UnknownOption;
  return Refuse(unknown ? messages::kCheckUnknownOption : messages::kCheckMissingArgument,
                scan.Option);
}

// Why a command line whose options were all known fits none of the forms
// (`named`: the name the reason is about); null when it fits one.
const Text* Misfit(const std::vector<std::string>& arguments, const CheckOptions& options,
                   std::string_view& named) {
  if (arguments.empty()) return &messages::kCheckNoArguments;
  if (options.Draft && !options.ParameterFileName.empty())
    return &messages::kCheckDraftWithParameterFile;
  if (options.FileNames.empty()) return &messages::kNameTheTextFile;
  if (options.FileNames.size() > 1) {
    named = options.FileNames[1];
    return &messages::kCheckExtraArgument;
  }
  if (!options.Draft && options.ParameterFileName.empty()) return &messages::kNameTheParameterFile;
  return nullptr;
}

int ShowHelp() {
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  std::vector<std::string> lines = UsageLines(kProgram, kCheckForms);
  lines.emplace_back(In(messages::kCheckHelpSummary, form));
  for (std::string& line : OptionHelpLines(kCheckOptionRows)) lines.push_back(std::move(line));
  for (const Text* text : {&messages::kCheckHelpEndOfOptions, &messages::kCheckHelpTextFile,
                           &messages::kCheckHelpStatus}) {
    lines.emplace_back(In(*text, form));
  }
  return WriteLines(platform::StandardOutput(), lines) ? kStatusNothingFound : kStatusCouldNotRun;
}

int ShowVersion() {
  TextForm form = platform::TerminalTextForm(platform::StandardOutput());
  bool written = WriteLines(platform::StandardOutput(), {std::string(In(kVersion, form))});
  return written ? kStatusNothingFound : kStatusCouldNotRun;
}

// --from-copybook or --from-schema: one document, and no other file or mode.
int RunImportMode(const CheckOptions& options) {
  const bool copybook = !options.CopybookName.empty();
  std::string_view extra;
  if (!options.FileNames.empty()) extra = options.FileNames.front();
  if (!options.ParameterFileName.empty()) extra = "-f";
  if (options.Draft) extra = "--draft";
  if (copybook && !options.SchemaName.empty()) extra = "--from-schema";
  if (!extra.empty()) return Refuse(messages::kCheckExtraArgument, extra);
  return RunImport(copybook ? SourceKind::Copybook : SourceKind::Schema,
                   copybook ? options.CopybookName : options.SchemaName);
}

}  // namespace

void WriteError(std::string_view message) {
  WriteLines(platform::StandardError(), {std::string(message)});
}

void WriteError(const Text& text) {
  WriteError(In(text, platform::TerminalTextForm(platform::StandardError())));
}

// The files the command line names, and standard input as the text file, are
// the check's own before it writes anything (a refusal, --help, --version
// included): nothing it writes goes into them, even before they are opened.
void ProtectNamedFiles(const CheckOptions& options) {
  for (const std::string& name : options.FileNames) {
    if (name == kStandardInputName) {
      platform::ProtectOpenedFile(platform::StandardInput());
    } else {
      platform::ProtectNamedFile(name.c_str());
    }
  }
  for (const std::string* name :
       {&options.ParameterFileName, &options.CopybookName, &options.SchemaName}) {
    if (*name == kStandardInputName) {
      platform::ProtectOpenedFile(platform::StandardInput());
    } else {
      platform::ProtectNamedFile(name->c_str());
    }
  }
}

int RunCheck(const std::vector<std::string>& arguments) {
  CheckOptions options;
  OptionScan scan = ScanCheckOptions(arguments, kCheckOptionRows, options);
  ProtectNamedFiles(options);
  if (scan.Result != OptionScan::Outcome::Scanned) return Refuse(scan);
  if (options.Help) return ShowHelp();
  if (options.Version) return ShowVersion();
  if (!options.CopybookName.empty() || !options.SchemaName.empty()) return RunImportMode(options);
  // A draft needs the text file alone; a check both files.
  std::string_view named;
  if (const Text* misfit = Misfit(arguments, options, named)) return Refuse(*misfit, named);
  if (options.Draft) return RunDraft(options.FileNames.front());
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
