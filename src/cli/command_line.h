// The command line both programs share: splitting it into arguments,
// scanning them into the run's options, and the existence tests of the two
// named files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"

namespace tabulon {

struct RunOptions {
  char Separator = ',';   // ',' or TAB
  char HeaderFlag = 'n';  // 'y': write the header line
  char UsageFlag = 'n';   // 'y': "-?" was given
  std::string TextFileName;
  std::string OutputFileName;
  std::string ParameterFileName;
};

// At most this many arguments; none or more gives the banner and usage block.
inline constexpr std::size_t kMaxArguments = 6;

// Splits a whole command line (the program's name first) into arguments:
// bytes 0x01 to 0x20 separate, double quotes quote a stretch (no escapes),
// a pair of quotes at the start of an argument yields nothing, and a
// double-byte character is always taken whole.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

// Scans the arguments (without the program's name). Switches match exactly;
// an argument with no '-' in it is a file name; every other argument with a
// '-' is ignored.
RunOptions ScanArguments(const std::vector<std::string>& arguments);

// The arguments of the process, without the program's name: split from the
// raw command line where the platform keeps one, else argv with every empty
// argument dropped.
std::vector<std::string> CommandArguments(int argc, char** argv);

// The existence tests of the named files, the text file's first: the message
// of the first that fails, or nullptr when both pass. A null text name is
// standard input, which is there as long as the process runs.
const Text* MissingFileMessage(const char* text_name, const char* parameter_name);
inline const Text* MissingFileMessage(const RunOptions& options) {
  return MissingFileMessage(options.TextFileName.c_str(), options.ParameterFileName.c_str());
}

}  // namespace tabulon
