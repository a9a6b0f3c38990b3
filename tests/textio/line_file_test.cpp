// The line file's states and codes, when its buffer reaches the system, and
// what survives a failed write-out or close.
#include "textio/line_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/temp_dir.h"
#include "support/owned_forms.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

std::unique_ptr<LineFile> NewFile() {
  return std::make_unique<LineFile>();
}

std::int32_t TakePending() {
  std::int32_t code = PendingIoCode;
  PendingIoCode = 0;
  return code;
}

std::intmax_t SizeOf(const std::string& path) {
  std::error_code failed;
  auto size = std::filesystem::file_size(path, failed);
  return failed ? -1 : static_cast<std::intmax_t>(size);
}

class LineFileTest : public ::testing::Test {
 protected:
  void SetUp() override { PendingIoCode = 0; }
  test::TempDir Dir;
};

// Each step on a record in the wrong state: the code it leaves, and the state
// it leaves the record in.
TEST_F(LineFileTest, OperationsInTheWrongState) {
  std::string text = Dir.Write("in.txt", "AB\r\n");
  std::string out = Dir.Path("out.txt");
  enum Setup { NeverBound, Bound, Reading, Writing, ClosedAfterUse };
  auto prepare = [&](LineFile& f, Setup setup) {
    if (setup == NeverBound) return;
    BindName(f, setup == Reading ? text : out, 16);
    if (setup == Reading) OpenForReading(f);
    if (setup == Writing || setup == ClosedAfterUse) OpenForWriting(f);
    if (setup == ClosedAfterUse) CloseLineFile(f);
    ASSERT_EQ(TakePending(), 0);
  };
  struct Row {
    Setup Start;
    const char* Step;
    std::function<void(LineFile&)> Run;
    std::int32_t Code;
  };
  auto read_line = [](LineFile& f) { EXPECT_EQ(ReadTextLine(f), ""); };
  auto at_end = [](LineFile& f) { EXPECT_TRUE(AtEndOfData(f)); };
  auto write = [](LineFile& f) { WriteText(f, "xy"); };
  auto write_empty = [](LineFile& f) { WriteText(f, ""); };
  auto open_read = [](LineFile& f) { EXPECT_EQ(OpenForReading(f), 102); };
  auto open_write = [](LineFile& f) { EXPECT_EQ(OpenForWriting(f), 102); };
  const Row rows[] = {
      {NeverBound, "open for reading", open_read, 102},
      {NeverBound, "open for writing", open_write, 102},
      {NeverBound, "close", CloseLineFile, 103},
      {NeverBound, "read a line", read_line, 104},
      {NeverBound, "write", write, 105},
      {Bound, "close", CloseLineFile, 103},
      {Bound, "line end", WriteLineEnd, 103},  // 105 from its text, then 103: the latest wins
      {Bound, "end test", at_end, 104},
      {Bound, "read a line", read_line, 104},
      {Bound, "write", write, 105},
      {Bound, "write nothing", write_empty, 105},
      {ClosedAfterUse, "close again", CloseLineFile, 103},
      {ClosedAfterUse, "line end", WriteLineEnd, 103},
      {Writing, "end test", at_end, 104},
      {Writing, "read a line", read_line, 104},
      {Reading, "write", write, 105},
      {Reading, "line end", WriteLineEnd, 105},  // a reader's flush step does nothing
  };
  for (const Row& row : rows) {
    auto file = NewFile();
    prepare(*file, row.Start);
    std::uint16_t state_before = StateOf(*file);
    row.Run(*file);
    EXPECT_EQ(TakePending(), row.Code) << row.Step << " in setup " << row.Start;
    EXPECT_EQ(StateOf(*file), state_before) << row.Step << " in setup " << row.Start;
    if (StateOf(*file) == StateReading || StateOf(*file) == StateWriting) CloseLineFile(*file);
    PendingIoCode = 0;
  }
}

TEST_F(LineFileTest, PendingCodeKeepsTheLatestFailureAndSurvivesSuccess) {
  auto file = NewFile();
  BindName(*file, Dir.Write("in.txt", "AB\r\n"), 16);
  WriteText(*file, "x");
  EXPECT_EQ(PendingIoCode, 105);
  EXPECT_TRUE(AtEndOfData(*file));
  EXPECT_EQ(PendingIoCode, 104);
  ASSERT_EQ(OpenForReading(*file), 0);  // a success does not clear it
  EXPECT_EQ(ReadTextLine(*file), "AB");
  EXPECT_EQ(PendingIoCode, 104);
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 104);
}

TEST_F(LineFileTest, BindingClearsTheRecordAndRefusesLongNames) {
  auto file = NewFile();
  std::string name(platform::kMaxNameLength, 'n');
  BindName(*file, name, 7);
  EXPECT_EQ(StateOf(*file), StateClosed);
  EXPECT_EQ(CapacityOf(*file), 7u);
  const char* record = reinterpret_cast<const char*>(file.get());  // its own buffer
  EXPECT_TRUE(DeviceBuffer(*file) > record && DeviceBuffer(*file) < record + sizeof(LineFile));
  EXPECT_EQ(std::string(NameOf(*file)), name);
  BindName(*file, name + "n");  // one byte too long: never written past the field
  EXPECT_EQ(NameOf(*file)[0], '\0');
  EXPECT_EQ(CapacityOf(*file), kFileCapacity);
  EXPECT_EQ(OpenForWriting(*file), 3);
  EXPECT_EQ(StateOf(*file), StateClosed);
  EXPECT_EQ(TakePending(), 3);
}

// Opening an open record closes it first: the reader's own sharing lock does
// not stand in the way of writing the same file.
TEST_F(LineFileTest, OpeningAnOpenRecordClosesItFirst) {
  std::string path = Dir.Write("f.txt", "old\r\n");
  auto file = NewFile();
  BindName(*file, path, 16);
  ASSERT_EQ(OpenForReading(*file), 0);
  EXPECT_EQ(ReadTextLine(*file), "old");
  ASSERT_EQ(OpenForWriting(*file), 0);
  EXPECT_EQ(StateOf(*file), StateWriting);
  WriteText(*file, "new");
  WriteLineEnd(*file);
  ASSERT_EQ(OpenForReading(*file), 0);  // closing wrote out what was waiting
  EXPECT_EQ(ReadTextLine(*file), "new");
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
}

// A buffer is written out the moment it becomes full, never earlier; a disk
// file is not written out at a line end, only when full and at close.
TEST_F(LineFileTest, DiskFileIsWrittenWhenTheBufferFills) {
  std::string path = Dir.Path("out.txt");
  auto file = NewFile();
  BindName(*file, path, 4);
  ASSERT_EQ(OpenForWriting(*file), 0);
  struct Step {
    const char* Written;  // nullptr: a line end
    std::intmax_t SizeAfter;
  };
  const Step steps[] = {{"abc", 0},    {"", 0},    {"d", 4}, {"efghijk", 8},
                        {nullptr, 12}, {"lm", 12}, {"", 12}, {"nopqrstu", 20}};
  for (const Step& step : steps) {
    if (step.Written) {
      WriteText(*file, step.Written);
    } else {
      WriteLineEnd(*file);
    }
    EXPECT_EQ(SizeOf(path), step.SizeAfter) << (step.Written ? step.Written : "line end");
    EXPECT_LT(WaitingBytes(*file), CapacityOf(*file));
  }
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  EXPECT_EQ(test::TempDir::Read(path), "abcdefghijk\r\nlmnopqrstu");
}

TEST_F(LineFileTest, PiecesOfOneTextBehaveAsOneText) {
  std::string path = Dir.Path("out.txt");
  auto file = NewFile();
  BindName(*file, path, 3);
  ASSERT_EQ(OpenForWriting(*file), 0);
  BeginText(*file);
  for (const char* piece : {"a", "", "bcde", "f", "g"}) AppendText(*file, piece);
  AppendByte(*file, 'h');
  EXPECT_EQ(SizeOf(path), 6);
  WriteLineEnd(*file);
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  EXPECT_EQ(test::TempDir::Read(path), "abcdefgh\r\n");
}

#ifndef _WIN32  // POSIX devices and pipes; Windows: platform_win32_test.cpp
// A character device is written out at every line end; the output file, the
// file being read and the message channel all use the same steps.
TEST_F(LineFileTest, CharacterDeviceIsWrittenAtEachLineEnd) {
  auto file = NewFile();
  BindName(*file, "/dev/null", 128);
  ASSERT_EQ(OpenForWriting(*file), 0);
  EXPECT_EQ(platform::KindOf(HandleOf(*file)), platform::FileKind::Char);
  WriteText(*file, "ab");
  EXPECT_EQ(WaitingBytes(*file), 2u);
  WriteLineEnd(*file);
  EXPECT_EQ(WaitingBytes(*file), 0u);

  std::string path = Dir.Path("disk.txt");
  BindName(*file, path, 128);
  ASSERT_EQ(OpenForWriting(*file), 0);
  WriteText(*file, "ab");
  WriteLineEnd(*file);
  EXPECT_EQ(WaitingBytes(*file), 4u);
  EXPECT_EQ(SizeOf(path), 0);
  CloseLineFile(*file);
  EXPECT_EQ(SizeOf(path), 4);
  EXPECT_EQ(TakePending(), 0);
}

TEST_F(LineFileTest, PipeIsNotWrittenAtALineEnd) {
  std::string fifo = Dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto file = NewFile();
  BindName(*file, fifo, 4);
  ASSERT_EQ(OpenForWriting(*file), 0);
  EXPECT_EQ(platform::KindOf(HandleOf(*file)), platform::FileKind::Pipe);
  char got[16];
  WriteText(*file, "a");
  WriteLineEnd(*file);
  EXPECT_EQ(::read(reader, got, sizeof got), -1);  // nothing yet (EAGAIN)
  WriteText(*file, "b");
  EXPECT_EQ(::read(reader, got, sizeof got), 4);
  EXPECT_EQ(std::string(got, 4), "a\r\nb");
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  ::close(reader);
}

// An output sets its space aside ahead of its writes once it passes 1 MiB,
// never before, and closing gives back what is left past its end; the bytes
// are those written.
TEST_F(LineFileTest, LargeOutputSetsItsSpaceAsideAndGivesBackTheRest) {
  const std::string path = Dir.Path("out.txt");
  auto held_past = [&path](std::intmax_t size) {  // disk space held past `size` bytes
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::intmax_t{st.st_blocks} * 512 - size : -1;
  };
  auto file = NewFile();
  BindName(*file, path);
  ASSERT_EQ(OpenForWriting(*file), 0);
  if (!platform::ReserveAhead(HandleOf(*file), 1)) GTEST_SKIP() << "no space set aside here";
  platform::ReleaseReserved(HandleOf(*file));
  const std::intmax_t kMiB = 1 << 20;
  std::string expected;
  // Bytes written, and the least and most space then held past them.
  for (auto [written, least, most] :
       {std::array{kMiB / 2, -kMiB, 2 * kMiB}, std::array{3 * kMiB, 4 * kMiB, 9 * kMiB}}) {
    for (const std::string line(998, 'x'); std::ssize(expected) < written;
         expected += line + "\r\n") {
      WriteText(*file, line);
      WriteLineEnd(*file);
    }
    EXPECT_GE(held_past(std::ssize(expected)), least) << written;
    EXPECT_LE(held_past(std::ssize(expected)), most) << written;
  }
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  EXPECT_LE(held_past(std::ssize(expected)), kMiB / 8);
  EXPECT_TRUE(test::TempDir::Read(path) == expected);
}

// A failed write-out drops its block and the rest of the text being written;
// the record stays usable, and later text goes into the emptied buffer.
TEST_F(LineFileTest, FailedWriteOutDropsTheBlockAndTheRestOfTheText) {
  auto file = NewFile();
  BindName(*file, "/dev/full", 4);
  ASSERT_EQ(OpenForWriting(*file), 0);
  WriteText(*file, "abcdefghij");
  EXPECT_EQ(TakePending(), 112);
  EXPECT_EQ(WaitingBytes(*file), 0u);
  BeginText(*file);
  AppendText(*file, "ab");
  AppendText(*file, "cdefg");  // fills the buffer: the write-out fails
  EXPECT_EQ(TakePending(), 112);
  AppendText(*file, "hi");  // still the same text: dropped
  EXPECT_EQ(WaitingBytes(*file), 0u);
  WriteText(*file, "xy");  // a new text
  EXPECT_EQ(WaitingBytes(*file), 2u);
  EXPECT_EQ(TakePending(), 0);
  WriteLineEnd(*file);  // a character device: written out at the line end
  EXPECT_EQ(TakePending(), 112);
  EXPECT_EQ(WaitingBytes(*file), 0u);
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  EXPECT_EQ(StateOf(*file), StateClosed);
}

// Closing writes out what waits first. When that fails, the close stops there:
// the handle stays open and the record still writing, so a second close can
// finish the job.
TEST_F(LineFileTest, FailedFinalWriteOutKeepsTheRecordWriting) {
  auto file = NewFile();
  BindName(*file, "/dev/full", 128);
  ASSERT_EQ(OpenForWriting(*file), 0);
  WriteText(*file, "waiting");
  EXPECT_EQ(TakePending(), 0);
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 112);
  EXPECT_EQ(StateOf(*file), StateWriting);
  EXPECT_EQ(WaitingBytes(*file), 0u);
  int fd = static_cast<int>(HandleOf(*file));
  EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the handle must still be open";
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 0);
  EXPECT_EQ(StateOf(*file), StateClosed);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

// The clean-up on the way out of an error: a failing close takes the place of
// the error that was unwinding; on the normal path the close is checked.
TEST_F(LineFileTest, CloseOnUnwind) {
  auto file = NewFile();
  BindName(*file, "/dev/full", 128);
  ASSERT_EQ(OpenForWriting(*file), 0);
  try {
    CloseOnUnwind closer(*file);
    WriteText(*file, "waiting");
    throw EInOutError(IoMessage(2), 2, nullptr);
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Code(), 2);
  }
  EXPECT_EQ(PendingIoCode, 0);
  std::optional<EInOutError> replacement = TakeReplacementError();
  ASSERT_TRUE(replacement.has_value());
  EXPECT_EQ(replacement->Code(), 112);
  EXPECT_FALSE(TakeReplacementError().has_value());

  CloseLineFile(*file);  // the record was left writing; now nothing waits
  BindName(*file, "/dev/full", 128);
  ASSERT_EQ(OpenForWriting(*file), 0);
  WriteText(*file, "waiting");
  CloseOnUnwind closer(*file);
  try {
    closer.Close();
    ADD_FAILURE() << "the failed close must raise";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Code(), 112);
  }
  EXPECT_EQ(PendingIoCode, 0);
  CloseLineFile(*file);
  PendingIoCode = 0;
}
#endif

TEST_F(LineFileTest, FailedOpenLeavesTheRecordClosed) {
  auto file = NewFile();
  BindName(*file, Dir.Path("missing.txt"), 16);
  EXPECT_EQ(OpenForReading(*file), 2);
  EXPECT_EQ(StateOf(*file), StateClosed);
  EXPECT_EQ(TakePending(), 2);
  CloseLineFile(*file);
  EXPECT_EQ(TakePending(), 103);
}

}  // namespace
}  // namespace tabulon
