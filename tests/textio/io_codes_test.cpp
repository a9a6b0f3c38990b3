// The message that each input/output code becomes when it is checked.
#include "textio/io_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace tabulon {
namespace {

TEST(CheckIo, MessagesOfTheCodes) {
  struct Row {
    std::int32_t code;
    std::string message;
  };
  const Row rows[] = {
      // "ファイルが見つかりません"
      {2,
       "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82"
       "\xb9\x82\xf1"},
      // "不正なファイル名です"
      {3, "\x95\x73\x90\xb3\x82\xc8\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\x82\xc5\x82\xb7"},
      // "オープンしたファイルが多すぎます"
      {4,
       "\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xb5\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82"
       "\xaa\x91\xbd\x82\xb7\x82\xac\x82\xdc\x82\xb7"},
      // "ファイルへのアクセスが拒否されました"
      {5,
       "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xd6\x82\xcc\x83\x41\x83\x4e\x83\x5a\x83\x58\x82"
       "\xaa\x8b\x91\x94\xdb\x82\xb3\x82\xea\x82\xdc\x82\xb5\x82\xbd"},
      // "ファイルの末尾以降を読み込みました"
      {100,
       "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x96\x96\x94\xf6\x88\xc8\x8d\x7e\x82\xf0"
       "\x93\xc7\x82\xdd\x8d\x9e\x82\xdd\x82\xdc\x82\xb5\x82\xbd"},
      // "ディスクがいっぱいです"
      {101,
       "\x83\x66\x83\x42\x83\x58\x83\x4e\x82\xaa\x82\xa2\x82\xc1\x82\xcf\x82\xa2\x82\xc5"
       "\x82\xb7"},
      // "入力値が数値ではありません"
      {106,
       "\x93\xfc\x97\xcd\x92\x6c\x82\xaa\x90\x94\x92\x6c\x82\xc5\x82\xcd\x82\xa0\x82\xe8"
       "\x82\xdc\x82\xb9\x82\xf1"},
      // "I/O エラー (%d)" for every other code
      {32, "I/O \x83\x47\x83\x89\x81\x5b (32)"},
      {-1, "I/O \x83\x47\x83\x89\x81\x5b (-1)"},
      {1, "I/O \x83\x47\x83\x89\x81\x5b (1)"},
      {6, "I/O \x83\x47\x83\x89\x81\x5b (6)"},
      {102, "I/O \x83\x47\x83\x89\x81\x5b (102)"},
      {123, "I/O \x83\x47\x83\x89\x81\x5b (123)"},
      {-2147483647 - 1, "I/O \x83\x47\x83\x89\x81\x5b (-2147483648)"},
  };
  PendingIoCode = 0;
  EXPECT_NO_THROW(CheckIo());
  for (const Row& row : rows) {
    PendingIoCode = row.code;
    try {
      CheckIo();
      ADD_FAILURE() << "no error for code " << row.code;
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), row.code);
      EXPECT_EQ(error.Message(), row.message) << row.code;
      EXPECT_STREQ(error.KindName(), "EInOutError");
    }
    EXPECT_EQ(PendingIoCode, 0) << "taken by the check";
  }
}

}  // namespace
}  // namespace tabulon
