#include "textio/io_codes.h"

#include <string_view>

namespace tabulon {

constinit thread_local std::int32_t PendingIoCode = 0;

namespace {

thread_local std::optional<EInOutError> replacement_error;

struct CodeText {
  std::int32_t code;
  std::string_view text;
};

constexpr CodeText kCodeTexts[] = {
    // "ファイルが見つかりません"
    {2,
     "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82"
     "\xf1"},
    // "不正なファイル名です"
    {3, "\x95\x73\x90\xb3\x82\xc8\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\x82\xc5\x82\xb7"},
    // "オープンしたファイルが多すぎます"
    {4,
     "\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xb5\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x91"
     "\xbd\x82\xb7\x82\xac\x82\xdc\x82\xb7"},
    // "ファイルへのアクセスが拒否されました"
    {5,
     "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xd6\x82\xcc\x83\x41\x83\x4e\x83\x5a\x83\x58\x82\xaa\x8b"
     "\x91\x94\xdb\x82\xb3\x82\xea\x82\xdc\x82\xb5\x82\xbd"},
    // "ファイルの末尾以降を読み込みました"
    {100,
     "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x96\x96\x94\xf6\x88\xc8\x8d\x7e\x82\xf0\x93\xc7"
     "\x82\xdd\x8d\x9e\x82\xdd\x82\xdc\x82\xb5\x82\xbd"},
    // "ディスクがいっぱいです"
    {101,
     "\x83\x66\x83\x42\x83\x58\x83\x4e\x82\xaa\x82\xa2\x82\xc1\x82\xcf\x82\xa2\x82\xc5\x82\xb7"},
    // "入力値が数値ではありません"
    {106,
     "\x93\xfc\x97\xcd\x92\x6c\x82\xaa\x90\x94\x92\x6c\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc"
     "\x82\xb9\x82\xf1"},
};

// "I/O エラー (" and ")"
constexpr std::string_view kTemplateHead = "\x49\x2f\x4f\x20\x83\x47\x83\x89\x81\x5b\x20\x28";
constexpr std::string_view kTemplateTail = ")";

}  // namespace

std::string IoMessage(std::int32_t code) {
  for (const CodeText& row : kCodeTexts) {
    if (row.code == code) return std::string(row.text);
  }
  std::string message(kTemplateHead);
  message += std::to_string(code);
  message += kTemplateTail;
  return message;
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
