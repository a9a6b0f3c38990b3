// The messages of the I/O codes, and the message channel on standard error:
// every line reaches fd 2 whole at its line end, whatever fd 2 is.
#include "textio/error_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/temp_dir.h"
#include "textio/io_codes.h"

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

// Puts `fd` in place of standard error for the life of the object.
class StandardErrorAs {
 public:
  explicit StandardErrorAs(int fd) : saved_(::dup(STDERR_FILENO)) {
    if (fd >= 0) {
      ::dup2(fd, STDERR_FILENO);
    } else {
      ::close(STDERR_FILENO);
    }
  }
  ~StandardErrorAs() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string Drain(int fd) {
  std::string got;
  char chunk[512];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) got.append(chunk, std::size_t(n));
  return got;
}

class ErrorStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { PendingIoCode = 0; }
};

// A message longer than the 128-byte buffer goes out in full blocks as the
// buffer fills and the rest at its line end; nothing is written out early.
TEST_F(ErrorStreamTest, LongMessageReachesStandardErrorWholeAndInOrder) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  std::string message;
  for (int i = 0; i < 300; ++i) message += char('A' + i % 26);
  {
    StandardErrorAs redirect(fds[1]);
    OpenErrorStream();
    WriteText(ErrorStream, message.substr(0, 100));
    EXPECT_EQ(Drain(fds[0]), "");
    WriteText(ErrorStream, message.substr(100));
    EXPECT_EQ(Drain(fds[0]), message.substr(0, 256));
    WriteLineEnd(ErrorStream);
    CheckIo();
    EXPECT_EQ(Drain(fds[0]), message.substr(256) + "\r\n");
    WriteMessage("next");
    EXPECT_EQ(Drain(fds[0]), "next\r\n");
    CloseErrorStream();
    EXPECT_NE(::fcntl(STDERR_FILENO, F_GETFD), -1) << "standard error stays open";
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

// Standard error redirected to a file still gets each line at its line end:
// the channel keeps the line-end write-out of the device it was opened on.
TEST_F(ErrorStreamTest, FileGetsEachLineAtItsLineEnd) {
  test::TempDir dir;
  std::string path = dir.Path("err.txt");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  {
    StandardErrorAs redirect(fd);
    OpenErrorStream();
    WriteMessage("first");
    EXPECT_EQ(test::TempDir::Read(path), "first\r\n");
    WriteMessage("");
    WriteMessage("\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(test::TempDir::Read(path), "first\r\n\r\n\x83\x65\x83\x58\x83\x67\r\n");
    CloseErrorStream();
  }
  ::close(fd);
}

// With standard error closed, a run that writes nothing succeeds; the first
// message fails with code 6 (a bad handle).
TEST_F(ErrorStreamTest, ClosedStandardErrorFailsOnlyWhenWritten) {
  {
    StandardErrorAs redirect(-1);
    OpenErrorStream();
    CloseErrorStream();
    OpenErrorStream();
    try {
      WriteMessage("lost");
      ADD_FAILURE() << "the message must fail";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), 6);
    }
  }
  EXPECT_EQ(PendingIoCode, 0);
}

}  // namespace
}  // namespace tabulon
