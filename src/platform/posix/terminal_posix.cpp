#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "platform/terminal.h"

namespace tabulon::platform {
namespace {

bool NamesUtf8(std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    std::string_view rest = value.substr(i);
    auto lower = [&](std::size_t k) { return static_cast<char>(rest[k] | 0x20); };
    if (rest.size() >= 5 && lower(0) == 'u' && lower(1) == 't' && lower(2) == 'f' &&
        rest[3] == '-' && rest[4] == '8') {
      return true;
    }
    if (rest.size() >= 4 && lower(0) == 'u' && lower(1) == 't' && lower(2) == 'f' &&
        rest[3] == '8') {
      return true;
    }
  }
  return false;
}

}  // namespace

bool ShowsUtf8(Handle handle) {
  if (isatty(static_cast<int>(handle)) != 1) return false;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return NamesUtf8(value);
  }
  return false;
}

}  // namespace tabulon::platform
