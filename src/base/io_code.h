// The input/output codes of the program: the operating system's codes that
// the platform layer reports (numbered as on Windows, which the POSIX layer
// maps its errors onto) and the line file's own.
#pragma once

#include <cstdint>

namespace tabulon {

enum IoCode : std::int32_t {
  kIoSuccess = 0,
  // Operating-system codes.
  kIoFileNotFound = 2,
  kIoPathNotFound = 3,  // also a name too long for the file record
  kIoTooManyOpenFiles = 4,
  kIoAccessDenied = 5,
  kIoInvalidHandle = 6,
  kIoWriteFault = 29,
  kIoGeneralFailure = 31,
  kIoSharingViolation = 32,
  kIoInvalidParameter = 87,
  kIoBrokenPipe = 109,
  kIoDiskFull = 112,
  kIoInvalidName = 123,
  kIoFileTooLarge = 223,
  kIoDeviceError = 1117,
  // Codes of the line file itself.
  kCodeNeverBound = 102,
  kCodeNotOpen = 103,
  kCodeNotReading = 104,
  kCodeNotWriting = 105,
};

}  // namespace tabulon
