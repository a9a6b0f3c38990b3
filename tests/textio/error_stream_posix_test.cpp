// The messages of the I/O codes, and the message channel on standard error:
// every line reaches fd 2 whole at its line end, whatever fd 2 is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/temp_dir.h"
#include "textio/error_stream.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

// Puts `fd` in place of standard error for the life of the object.
class StandardErrorAs {
 public:
  explicit StandardErrorAs(int fd) : Saved(::dup(STDERR_FILENO)) {
    if (fd >= 0) {
      ::dup2(fd, STDERR_FILENO);
    } else {
      ::close(STDERR_FILENO);
    }
  }
  ~StandardErrorAs() {
    ::dup2(Saved, STDERR_FILENO);
    ::close(Saved);
  }

 private:
  int Saved;
};

std::string Drain(int fd) {
  std::string got;
  char chunk[512];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) got.append(chunk, std::size_t(n));
  return got;
}

class ErrorStreamTest : public ::testing::Test {
 protected:
  // The files earlier tests read stay the process's inputs, and a file
  // that reuses one's inode would take no messages.
  void SetUp() override {
    PendingIoCode = 0;
    platform::ForgetRunInputs();
  }
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
