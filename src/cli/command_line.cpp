#include "cli/command_line.h"

#include "base/cp932.h"
#include "platform/platform.h"

namespace tabulon {
namespace {

// Appends the character at `i` (one byte, or a lead byte and the byte after
// it) to `out`; returns the position after it.
std::size_t TakeCharacter(std::string_view s, std::size_t i, std::string& out) {
  std::size_t length = CharLength(s, i);
  out.append(s.substr(i, length));
  return i + length;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  std::vector<std::string> arguments;
  std::size_t i = 0;
  for (;;) {
    for (;;) {
      while (i < line.size() && IsSeparatorByte(static_cast<unsigned char>(line[i]))) ++i;
      if (i + 1 < line.size() && line[i] == '"' && line[i + 1] == '"') {
        i += 2;  // an empty pair of quotes at the start of an argument is dropped
        continue;
      }
      break;
    }
    std::string argument;
    while (i < line.size() && !IsSeparatorByte(static_cast<unsigned char>(line[i]))) {
      if (line[i] != '"') {
        i = TakeCharacter(line, i, argument);
        continue;
      }
      ++i;  // a quoted stretch runs to the next quote or the end of the line
      while (i < line.size() && line[i] != '"') i = TakeCharacter(line, i, argument);
      if (i < line.size()) ++i;
    }
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

RunOptions ScanArguments(const std::vector<std::string>& arguments) {
  RunOptions options;
  bool parameter_name_expected = false;
  for (const std::string& a : arguments) {
    if (a.find('-') == std::string::npos) {
      if (parameter_name_expected) {
        options.ParameterFileName = a;
      } else if (options.TextFileName.empty()) {
        options.TextFileName = a;
      } else {
        options.OutputFileName = a;
      }
    }
    parameter_name_expected = false;
    if (a == "-T" || a == "-t") {
      options.Separator = '\t';
    } else if (a == "-C" || a == "-c") {
      options.Separator = ',';
    } else if (a == "-F" || a == "-f") {
      parameter_name_expected = true;
    } else if (a == "-H" || a == "-h") {
      options.HeaderFlag = 'y';
    } else if (a == "-?") {
      options.UsageFlag = 'y';
    }
  }
  return options;
}

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

const Text* MissingFileMessage(const char* text_name, const char* parameter_name) {
  if (text_name != nullptr && !platform::PassesExistenceTest(text_name))
    return &messages::kTextFileNotFound;
  if (!platform::PassesExistenceTest(parameter_name)) return &messages::kParameterFileNotFound;
  return nullptr;
}

}  // namespace tabulon
