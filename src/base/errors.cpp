#include "base/errors.h"

namespace tabulon {

std::string ErrorMessage::In(TextForm form) const {
  std::string text;
  if (Head) text = tabulon::In(*Head, form);
  text += Parameter;
  if (Tail) text += tabulon::In(*Tail, form);
  return text;
}

[[gnu::noinline]] void RaiseFOpenError(std::string_view file_name) {
  throw EFOpenError(
      {&messages::kCannotOpenHead, std::string(file_name), &messages::kCannotOpenTail},
      TABULON_CALLER_ADDRESS());
}

[[gnu::noinline]] void RaiseConvertError(std::string_view item) {
  throw EConvertError(
      {&messages::kNotAnIntegerHead, std::string(item), &messages::kNotAnIntegerTail},
      TABULON_CALLER_ADDRESS());
}

}  // namespace tabulon
