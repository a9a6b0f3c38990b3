#include "textio/errors.h"

namespace tabulon {

// "ファイル %s は開けません"
[[gnu::noinline]] void RaiseFOpenError(std::string_view file_name) {
  std::string message = "\x83\x74\x83\x40\x83\x43\x83\x8b\x20";
  message += file_name;
  message += "\x20\x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
  throw EFOpenError(std::move(message), TABULON_CALLER_ADDRESS());
}

// "'%s' は整数ではありません"
[[gnu::noinline]] void RaiseConvertError(std::string_view item) {
  std::string message = "'";
  message += item;
  message +=
      "'\x20\x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  throw EConvertError(std::move(message), TABULON_CALLER_ADDRESS());
}

}  // namespace tabulon
