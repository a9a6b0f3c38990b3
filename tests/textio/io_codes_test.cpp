// The message that each input/output code becomes when it is checked.
#include "textio/io_codes.h"

#include <gtest/gtest.h>

#include <string>

#include "base/messages.h"

namespace tabulon {
namespace {

TEST(CheckIo, MessagesOfTheCodes) {
  struct Row {
    std::int32_t Code;
    std::string Message;
  };
  // The texts' bytes are checked against their UTF-8 forms by the catalogue's
  // own test; here, which text each code gets.
  auto other = [](const char* number) {
    return std::string(messages::kIoErrorHead.Cp932) + number +
           std::string(messages::kIoErrorTail.Cp932);
  };
  const Row rows[] = {
      {kIoFileNotFound, std::string(messages::kIoFileNotFound.Cp932)},
      {kIoPathNotFound, std::string(messages::kIoBadName.Cp932)},
      {kIoTooManyOpenFiles, std::string(messages::kIoTooManyOpenFiles.Cp932)},
      {kIoAccessDenied, std::string(messages::kIoAccessDenied.Cp932)},
      {100, std::string(messages::kIoReadPastEnd.Cp932)},
      {101, std::string(messages::kIoDiskFull.Cp932)},
      {106, std::string(messages::kIoNotANumber.Cp932)},
      // "I/O エラー (%d)" for every other code
      {32, other("32")},
      {-1, other("-1")},
      {1, other("1")},
      {6, other("6")},
      {102, other("102")},
      {123, other("123")},
      {-2147483647 - 1, other("-2147483648")},
  };
  PendingIoCode = 0;
  EXPECT_NO_THROW(CheckIo());
  for (const Row& row : rows) {
    PendingIoCode = row.Code;
    try {
      CheckIo();
      ADD_FAILURE() << "no error for code " << row.Code;
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), row.Code);
      EXPECT_EQ(error.Message(), row.Message) << row.Code;
      EXPECT_STREQ(error.KindName(), "EInOutError");
    }
    EXPECT_EQ(PendingIoCode, 0) << "taken by the check";
  }
}

}  // namespace
}  // namespace tabulon
