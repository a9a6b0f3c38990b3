// Opening a file and closing it again, for the tests of the platform layer:
// the code of the open, 0 when it succeeded.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tabulon::platform {

inline std::int32_t TryRead(const std::string& name) {
  OpenResult r = OpenForReading(name.c_str());
  if (r.Code == 0) Close(r.OsHandle);
  return r.Code;
}

inline std::int32_t TryWrite(const std::string& name) {
  OpenResult r = OpenForWriting(name.c_str());
  if (r.Code == 0) Close(r.OsHandle);
  return r.Code;
}

}  // namespace tabulon::platform
