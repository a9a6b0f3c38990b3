// The message channel: every message of the run goes out through it as one
// line, written out at its line end, to the process's standard error.
#pragma once

#include <string_view>

#include "base/messages.h"
#include "textio/line_file.h"

namespace tabulon {

extern LineFile ErrorStream;

// Opens the channel on the console device and puts standard error in its
// place; the console handle is set aside for CloseErrorStream. Raises
// EInOutError when the console cannot be opened.
void OpenErrorStream();

// Puts the console handle back and closes it. Standard error stays open.
void CloseErrorStream();

// Chooses, once at start-up, the forms of the program's own texts on
// standard error and standard output (ChosenTextForms).
void ChooseTextForms();

// Writes one message line (the bytes, then CR LF) and checks it. A message
// that would go into one of the run's own files is dropped.
void WriteMessage(std::string_view message);

// Writes a text of the program as one message line, in the message
// channel's form.
void WriteMessage(const Text& text);

}  // namespace tabulon
