// The guarded write, the same on every platform: IsRunFile, then Write.
#include "platform/platform.h"

namespace tabulon::platform {

std::int32_t WriteOutsideRunFiles(Handle handle, std::string_view text, std::string_view more) {
  if (IsRunFile(handle)) return 0;
  std::int32_t code = Write(handle, text.data(), text.size());
  std::int32_t more_code = Write(handle, more.data(), more.size());
  return code != 0 ? code : more_code;
}

}  // namespace tabulon::platform
