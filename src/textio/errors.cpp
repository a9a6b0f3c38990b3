#include "textio/errors.h"

namespace tabulon {

[[gnu::noinline]] void RaiseFOpenError(std::string_view file_name) {
  std::string message(messages::kCannotOpenHead.cp932);
  message += file_name;
  message += messages::kCannotOpenTail.cp932;
  throw EFOpenError(std::move(message), TABULON_CALLER_ADDRESS());
}

[[gnu::noinline]] void RaiseConvertError(std::string_view item) {
  std::string message(messages::kNotAnIntegerHead.cp932);
  message += item;
  message += messages::kNotAnIntegerTail.cp932;
  throw EConvertError(std::move(message), TABULON_CALLER_ADDRESS());
}

}  // namespace tabulon
