// The error kinds of the program. An error carries its kind name, its message
// and the code address where it was raised; the failure report at the top of
// the run shows all three.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/messages.h"

namespace tabulon {

// An error's message: a text of the program, the bytes of a parameter (a
// file name, an item, a number), and a text after it; any part may be
// missing. Only the texts have a UTF-8 form: the parameter is always shown as
// it is.
struct ErrorMessage {
  const Text* Head = nullptr;
  std::string Parameter;
  const Text* Tail = nullptr;

  // The whole message in the form given.
  std::string In(TextForm form) const;
};

class Exception {
 public:
  Exception(const char* kind_name, ErrorMessage message, const void* location)
      : KindText(kind_name), MessageParts(std::move(message)), RaisingCode(location) {}
  virtual ~Exception() = default;

  const char* KindName() const { return KindText; }
  const ErrorMessage& Parts() const { return MessageParts; }
  // The message in code page 932.
  std::string Message() const { return MessageParts.In(TextForm::Cp932); }
  const void* Location() const { return RaisingCode; }

 protected:
  void SetLocation(const void* location) { RaisingCode = location; }

 private:
  const char* KindText;
  ErrorMessage MessageParts;
  const void* RaisingCode;
};

class EInOutError : public Exception {
 public:
  EInOutError(ErrorMessage message, std::int32_t code, const void* location)
      : Exception("EInOutError", std::move(message), location), IoCodeValue(code) {}
  std::int32_t Code() const { return IoCodeValue; }

 private:
  std::int32_t IoCodeValue;
};

class EFOpenError : public Exception {
 public:
  EFOpenError(ErrorMessage message, const void* location)
      : Exception("EFOpenError", std::move(message), location) {}
};

class EConvertError : public Exception {
 public:
  EConvertError(ErrorMessage message, const void* location)
      : Exception("EConvertError", std::move(message), location) {}
};

// Made once at start-up: reporting exhausted memory must not need any. Each
// failure records where it happened in that one error.
class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(const void* location)
      : Exception("EOutOfMemory", {&messages::kOutOfMemory, {}, nullptr}, location) {}
  void RaisedAt(const void* location) { SetLocation(location); }
};

// Raise helpers: each records the address of its call site as the location.
[[noreturn]] void RaiseFOpenError(std::string_view file_name);
[[noreturn]] void RaiseConvertError(std::string_view item);

// The code address of the caller of the function this is used in.
#define TABULON_CALLER_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))

}  // namespace tabulon
