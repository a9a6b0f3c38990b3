// The message channel: every message of the run goes out through it as one
// line, written out at its line end, to the process's standard error.
#pragma once

#include <string_view>

#include "textio/line_file.h"

namespace tabulon {

extern LineFile ErrorStream;

// Opens the channel on the console device and puts standard error in its
// place; the console handle is set aside for CloseErrorStream. Raises
// EInOutError when the console cannot be opened.
void OpenErrorStream();

// Puts the console handle back and closes it. Standard error stays open.
void CloseErrorStream();

// Writes one message line (the bytes, then CR LF) and checks it.
void WriteMessage(std::string_view message);

}  // namespace tabulon
