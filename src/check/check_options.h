// The layout check's command line: options in the usual form, then the text
// file. Unlike the converter's fixed rules, any name may hold a '-'.
//
//   -f parafile   the parameter file (also -F, -fparafile)
//   --draft       draft a parameter file from the text file instead
//   --from-copybook copybook, --from-schema schema
//                 write a parameter file from a COBOL record description or
//                 a column,start,length table instead ("-": standard input)
//   --help        usage on standard output
//   --version     name and version
//   --            ends the options: every later argument is a file name
//   -             as the text file: standard input
//
// An option with an argument is one row of kCheckOptionRows and one member of
// CheckOptions.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::check {

struct CheckOptions {
  bool Help = false;
  bool Version = false;
  bool Draft = false;
  std::string ParameterFileName;
  std::string CopybookName;
  std::string SchemaName;
  std::vector<std::string> FileNames;  // the arguments that are not options, in order
};

// One option: a switch (Flag) or an option with an argument (Value).
struct CheckOptionRow {
  std::string_view Name;                       // "-f", "--help"
  bool CheckOptions::*Flag = nullptr;          // set by the switch
  std::string CheckOptions::*Value = nullptr;  // receives the argument
  std::string_view ValueName = {};             // the argument in the help text
  std::string_view Help = {};                  // the help line; empty: not listed
};

// The standard input's name as the text file.
inline constexpr std::string_view kStandardInputName = "-";

// How the scan ended.
struct OptionScan {
  enum class Outcome { Scanned, UnknownOption, MissingArgument };
  Outcome Result = Outcome::Scanned;
  std::string Option;  // the unknown option, or the one whose argument is missing
};

// Scans `arguments` (without the program's name) against `rows` into
// `options`. A long option's argument may follow it after '=', a short one's
// directly ("-fparafile"); otherwise it is the next argument, whatever it
// holds. "-" alone is a file name. A later value of an option wins. The scan
// goes on past a refusal (the first one is returned), so that every name on
// the command line is known.
OptionScan ScanCheckOptions(const std::vector<std::string>& arguments,
                            std::span<const CheckOptionRow> rows, CheckOptions& options);

extern const std::span<const CheckOptionRow> kCheckOptionRows;

// The command line's forms, after the program's name: one usage line each.
extern const std::span<const std::string_view> kCheckForms;

// The usage lines: "usage: PROGRAM FORM", then the other forms aligned under
// the first.
std::vector<std::string> UsageLines(std::string_view program,
                                    std::span<const std::string_view> forms);

// The help text's option lines, one per listed row, without line ends.
std::vector<std::string> OptionHelpLines(std::span<const CheckOptionRow> rows);

}  // namespace tabulon::check
