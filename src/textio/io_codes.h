// Input/output codes. Line file operations never raise: a failing operation
// leaves its code in PendingIoCode (the latest failure wins), and the caller's
// CheckIo turns a pending code into an EInOutError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/errors.h"
#include "base/io_code.h"

namespace tabulon {

// The pending input/output code of this thread; 0 when nothing has failed.
// constinit: no dynamic initialisation, so every access is a plain thread-local
// load rather than a call through an initialisation wrapper.
extern constinit thread_local std::int32_t PendingIoCode;

inline void SetPendingIoCode(std::int32_t code) {
  if (code != 0) PendingIoCode = code;
}

// The message of an I/O code: the table's text, or "I/O エラー (%d)".
ErrorMessage IoMessage(std::int32_t code);

// Raises EInOutError for the pending code, clearing it first. The error's
// location is the caller's code address.
[[noreturn]] void RaisePendingIo();

// Raises EInOutError when a code is pending. Always inlined, also in an
// unoptimised build, so that the error's location is the check itself and
// the check costs one test when nothing failed.
[[gnu::always_inline]] inline void CheckIo() {
  if (PendingIoCode != 0) RaisePendingIo();
}

// The check of a clean-up step that runs while an error is unwinding (closing
// a file). It cannot raise there; instead a pending code becomes the error
// that replaces the unwinding one, and TakeReplacementError hands it to the
// top of the run.
void CheckIoWhileUnwinding() noexcept;
std::optional<EInOutError> TakeReplacementError() noexcept;

}  // namespace tabulon
