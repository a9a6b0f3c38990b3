#include "textio/io_codes.h"

#include <string_view>

#include "base/messages.h"

namespace tabulon {

constinit thread_local std::int32_t PendingIoCode = 0;

namespace {

thread_local std::optional<EInOutError> replacement_error;

struct CodeText {
  std::int32_t Code;
  const Text& Message;
};

constexpr CodeText kCodeTexts[] = {
    {kIoFileNotFound, messages::kIoFileNotFound},
    {kIoPathNotFound, messages::kIoBadName},
    {kIoTooManyOpenFiles, messages::kIoTooManyOpenFiles},
    {kIoAccessDenied, messages::kIoAccessDenied},
    // No operation of the program gives these three; the look-up is by
    // number, so a system code of the same number shows them (Windows).
    {100, messages::kIoReadPastEnd},
    {101, messages::kIoDiskFull},
    {106, messages::kIoNotANumber},
};

}  // namespace

ErrorMessage IoMessage(std::int32_t code) {
  for (const CodeText& row : kCodeTexts) {
    if (row.Code == code) return {&row.Message, {}, nullptr};
  }
  return {&messages::kIoErrorHead, std::to_string(code), &messages::kIoErrorTail};
}

[[gnu::noinline]] void RaisePendingIo() {
  std::int32_t code = PendingIoCode;
  PendingIoCode = 0;
  throw EInOutError(IoMessage(code), code, TABULON_CALLER_ADDRESS());
}

[[gnu::noinline]] void CheckIoWhileUnwinding() noexcept {
  if (PendingIoCode == 0) return;
  std::int32_t code = PendingIoCode;
  PendingIoCode = 0;
  try {
    replacement_error.emplace(IoMessage(code), code, TABULON_CALLER_ADDRESS());
  } catch (...) {
    // Out of memory while building the message: the unwinding error stays.
  }
}

std::optional<EInOutError> TakeReplacementError() noexcept {
  std::optional<EInOutError> taken;
  taken.swap(replacement_error);
  return taken;
}

}  // namespace tabulon
