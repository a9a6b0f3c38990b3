#include "check/check_options.h"

#include <algorithm>

namespace tabulon::check {
namespace {

constexpr CheckOptionRow kRows[] = {
    {.Name = "-f",
     .Value = &CheckOptions::ParameterFileName,
     .ValueName = "parafile",
     .Help = "the parameter file: the layout to check"},
    {.Name = "-F", .Value = &CheckOptions::ParameterFileName},
    {.Name = "--draft",
     .Flag = &CheckOptions::Draft,
     .Help = "write a parameter file drafted from the text file's records"},
    {.Name = "--kind",
     .Value = &CheckOptions::Kind,
     .ValueName = "POS:VALUE",
     .Help = "check or draft only the records whose bytes at POS (from 1) are VALUE"},
    {.Name = "--from-copybook",
     .Value = &CheckOptions::CopybookName,
     .ValueName = "copybook",
     .Help = "write a parameter file from a COBOL record description"},
    {.Name = "--from-schema",
     .Value = &CheckOptions::SchemaName,
     .ValueName = "schema",
     .Help = "write a parameter file from a column,start,length table"},
    {.Name = "--help", .Flag = &CheckOptions::Help, .Help = "show this help and exit"},
    {.Name = "--version", .Flag = &CheckOptions::Version, .Help = "show the version and exit"},
};

constexpr std::string_view kForms[] = {
    "[--kind POS:VALUE] -f parafile textfile",
    "--draft [--kind POS:VALUE] textfile",
    "--from-copybook copybook | --from-schema schema",
    "--help | --version",
};

bool IsLong(std::string_view name) {
  return name.starts_with("--");
}

// The row whose option `argument` is, and the argument's value when it is
// glued to the option ("--name=value", "-fvalue"); null when none is.
const CheckOptionRow* Match(std::string_view argument, std::span<const CheckOptionRow> rows,
                            std::string_view& glued, bool& has_glued) {
  for (const CheckOptionRow& row : rows) {
    if (argument == row.Name) {
      has_glued = false;
      return &row;
    }
  }
  for (const CheckOptionRow& row : rows) {
    if (row.Value == nullptr || !argument.starts_with(row.Name)) continue;
    std::string_view rest = argument.substr(row.Name.size());
    if (IsLong(row.Name)) {
      if (!rest.starts_with('=')) continue;
      rest.remove_prefix(1);
    }
    glued = rest;
    has_glued = true;
    return &row;
  }
  return nullptr;
}

}  // namespace

const std::span<const CheckOptionRow> kCheckOptionRows{kRows};
const std::span<const std::string_view> kCheckForms{kForms};

std::vector<std::string> UsageLines(std::string_view program,
                                    std::span<const std::string_view> forms) {
  constexpr std::string_view kHead = "usage: ";
  std::vector<std::string> lines;
  for (std::string_view form : forms) {
    std::string line = lines.empty() ? std::string(kHead) : std::string(kHead.size(), ' ');
    line += program;
    line += ' ';
    line += form;
    lines.push_back(std::move(line));
  }
  return lines;
}

OptionScan ScanCheckOptions(const std::vector<std::string>& arguments,
                            std::span<const CheckOptionRow> rows, CheckOptions& options) {
  OptionScan scan;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_ended || argument == kStandardInputName || !argument.starts_with('-')) {
      options.FileNames.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    std::string_view glued;
    bool has_glued = false;
    const CheckOptionRow* row = Match(argument, rows, glued, has_glued);
    if (row == nullptr) {
      if (scan.Result == OptionScan::Outcome::Scanned)
        scan = {OptionScan::Outcome::UnknownOption, argument};
      continue;
    }
    if (row->Flag != nullptr) {
      options.*(row->Flag) = true;
    } else if (has_glued) {
      options.*(row->Value) = glued;
    } else if (i + 1 < arguments.size()) {
      options.*(row->Value) = arguments[++i];
    } else if (scan.Result == OptionScan::Outcome::Scanned) {
      scan = {OptionScan::Outcome::MissingArgument, argument};
    }
  }
  return scan;
}

std::vector<std::string> OptionHelpLines(std::span<const CheckOptionRow> rows) {
  constexpr std::size_t kColumn = 16;  // where the descriptions start
  std::vector<std::string> lines;
  for (const CheckOptionRow& row : rows) {
    if (row.Help.empty()) continue;
    std::string line = "  ";
    line += row.Name;
    if (!row.ValueName.empty()) {
      line += ' ';
      line += row.ValueName;
    }
    line.resize(std::max(line.size() + 2, kColumn), ' ');
    line += row.Help;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace tabulon::check
