// The command line: splitting it into arguments and scanning them into the
// run's options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

}  // namespace tabulon
