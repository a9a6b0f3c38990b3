#include "platform/terminal.h"

namespace tabulon::platform {

// The console shows code page 932 text as it is.
bool ShowsUtf8(Handle) {
  return false;
}

}  // namespace tabulon::platform
