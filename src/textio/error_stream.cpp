#include "textio/error_stream.h"

#include "textio/io_codes.h"

namespace tabulon {

LineFile ErrorStream;

namespace {
platform::Handle console_handle = platform::kInvalidHandle;
}

void OpenErrorStream() {
  BindConsole(ErrorStream);
  OpenForWriting(ErrorStream);
  CheckIo();
  // The console is a character device, so every line end writes its line
  // out; that stays in force after standard error takes the console's place.
  console_handle = ReplaceHandle(ErrorStream, platform::StandardError());
}

void CloseErrorStream() {
  ReplaceHandle(ErrorStream, console_handle);
  CloseLineFile(ErrorStream);
  CheckIo();
}

void ChooseTextForms() {
  ChosenTextForms.MessageChannel = platform::TerminalTextForm(platform::StandardError());
  ChosenTextForms.FailureReport = platform::TerminalTextForm(platform::StandardOutput());
}

void WriteMessage(const Text& text) {
  WriteMessage(In(text, ChosenTextForms.MessageChannel));
}

void WriteMessage(std::string_view message) {
  // A message never goes into one of the run's own files (standard error
  // appending to the text file): the console's write-out drops it, and the
  // run goes on as if it had been written.
  WriteText(ErrorStream, message);
  WriteLineEnd(ErrorStream);
  CheckIo();
}

}  // namespace tabulon
