// Opening a file and closing it again, for the tests of the platform layer:
// the code of the open, 0 when it succeeded; and a whole read as the program
// makes it.
#pragma once

#include <cstdint>
#include <string>

#include "base/errors.h"
#include "params/parameter_file.h"
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

// A whole read as the program makes it (the parameter file's reader); false
// when the file cannot be read.
inline bool ReadWhole(const std::string& name, std::string& contents) {
  try {
    contents = ReadParameterFile(name);
    return true;
  } catch (const EFOpenError&) {
    contents.clear();
    return false;
  }
}

}  // namespace tabulon::platform
