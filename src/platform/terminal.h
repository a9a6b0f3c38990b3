// Whether an output shows the program's texts in UTF-8.
#pragma once

#include "platform/platform.h"

namespace tabulon::platform {

// True when `handle` is a terminal whose locale's character set is UTF-8:
// the first of LC_ALL, LC_CTYPE and LANG that is set and not empty names
// "UTF-8" or "utf8", in any case. Always false on Windows, whose console
// shows code page 932.
bool ShowsUtf8(Handle handle);

}  // namespace tabulon::platform
