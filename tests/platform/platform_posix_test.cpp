// The POSIX layer: which code each failed open gives, the sharing locks that
// keep a file being read from being overwritten, the codes of failed writes,
// and the existence test of the command line.
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "platform/temp_dir.h"
#include "support/open_probes.h"

namespace tabulon::platform {
namespace {

class PosixTest : public ::testing::Test {
 protected:
  test::TempDir Dir;
};

TEST_F(PosixTest, OpenFailuresGiveTheTableCodes) {
  Dir.Write("data.txt", "x");
  Dir.MakeDirectory("sub");
  ASSERT_EQ(::symlink("loop2", Dir.Path("loop1").c_str()), 0);
  ASSERT_EQ(::symlink("loop1", Dir.Path("loop2").c_str()), 0);
  // A name of exactly 259 bytes is handed to the system; one more is refused.
  std::string prefix = Dir.Path("");
  std::string long_dir = Dir.MakeDirectory(std::string(200, 'd'));
  std::string at_limit = long_dir + "/" + std::string(258 - long_dir.size(), 'f');
  ASSERT_EQ(at_limit.size(), kMaxNameLength);
  Dir.Write(at_limit.substr(prefix.size()), "x");
  Dir.Write(at_limit.substr(prefix.size()) + "g", "x");
  struct Row {
    std::string Name;
    std::int32_t ReadCode;
    std::int32_t WriteCode;
  };
  const Row rows[] = {
      {Dir.Path("data.txt"), 0, 0},
      {Dir.Path("missing.txt"), 2, 0},
      {Dir.Path("nodir/missing.txt"), 3, 3},
      {Dir.Path("data.txt/below.txt"), 3, 3},   // ENOTDIR
      {Dir.Path(std::string(256, 'n')), 3, 3},  // ENAMETOOLONG
      {at_limit, 0, 0},
      {at_limit + "g", 3, 3},          // exists, but 260 bytes
      {Dir.Path("sub"), 5, 5},         // a directory
      {Dir.Path("d*.txt"), 123, 123},  // matches data.txt; never opened
      {Dir.Path("dat?.txt"), 123, 123},
      {Dir.Path("nodir/d*.txt"), 123, 123},
      {Dir.Path("loop1"), 31, 31},  // ELOOP has no code of its own
      {"", 2, 2},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TryRead(row.Name), row.ReadCode) << "reading " << row.Name;
    EXPECT_EQ(TryWrite(row.Name), row.WriteCode) << "writing " << row.Name;
  }
}

// Root is never denied: as root, the opens are tried by a child process that
// has become an ordinary user (nobody), so the test runs as any user.
TEST_F(PosixTest, PermissionDenied) {
  std::string path = Dir.Write("locked.txt", "x");
  ::chmod(path.c_str(), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(TryRead(path), 5);
    EXPECT_EQ(TryWrite(path), 5);
    return;
  }
  ::chmod(Dir.Path("").c_str(), 0755);  // the file itself must be what is denied
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr id_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(255);
    std::int32_t read = TryRead(path);
    std::int32_t write = TryWrite(path);
    ::_exit(read < 16 && write < 16 ? read * 16 + write : 254);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5 * 16 + 5) << "read code * 16 + write code; 255: no user nobody";
}

// A file held open for reading can be read by others but not written, by any
// name that reaches it; a file held open for writing cannot be opened at all.
TEST_F(PosixTest, SharingConflictsGiveCode32AndLeaveTheFileUnchanged) {
  std::string text = Dir.Write("text.txt", "keep me");
  ASSERT_EQ(::link(text.c_str(), Dir.Path("hard.txt").c_str()), 0);
  ASSERT_EQ(::symlink("text.txt", Dir.Path("soft.txt").c_str()), 0);
  OpenResult reader = OpenForReading(text.c_str());
  ASSERT_EQ(reader.Code, 0);
  EXPECT_EQ(TryRead(text), 0);
  for (const char* name : {"text.txt", "hard.txt", "soft.txt"}) {
    EXPECT_EQ(TryWrite(Dir.Path(name)), 32) << name;
  }
  EXPECT_EQ(test::TempDir::Read(text), "keep me");
  Close(reader.OsHandle);

  OpenResult writer = OpenForWriting(text.c_str());
  ASSERT_EQ(writer.Code, 0);
  EXPECT_EQ(TryRead(Dir.Path("hard.txt")), 32);
  EXPECT_EQ(TryWrite(Dir.Path("soft.txt")), 32);
  std::string contents;
  EXPECT_FALSE(ReadWhole(text.c_str(), contents));
  Close(writer.OsHandle);
  EXPECT_EQ(TryWrite(text), 0);  // released at close
}

TEST_F(PosixTest, ReadWholeFile) {
  std::string big(200000, 'z');
  std::string contents = "stale";
  EXPECT_TRUE(ReadWhole(Dir.Write("big.txt", big).c_str(), contents));
  EXPECT_EQ(contents, big);
  // The text ends at its first NUL; a device of NULs ends at once.
  big[150000] = '\0';
  EXPECT_TRUE(ReadWhole(Dir.Write("nul.txt", big).c_str(), contents));
  EXPECT_EQ(contents, big.substr(0, 150000));
  EXPECT_TRUE(ReadWhole("/dev/zero", contents));
  EXPECT_EQ(contents, "");
  EXPECT_TRUE(ReadWhole(Dir.Write("empty.txt", "").c_str(), contents));
  EXPECT_EQ(contents, "");
  EXPECT_TRUE(ReadWhole("/dev/null", contents));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "X,1\r\n", 5), 5);
  ::close(fds[1]);
  EXPECT_TRUE(ReadWhole(("/dev/fd/" + std::to_string(fds[0])).c_str(), contents));
  EXPECT_EQ(contents, "X,1\r\n");
  ::close(fds[0]);
  EXPECT_FALSE(ReadWhole(Dir.Path("missing.txt").c_str(), contents));
  EXPECT_FALSE(ReadWhole(Dir.MakeDirectory("dir").c_str(), contents));
  EXPECT_FALSE(ReadWhole(Dir.Path("p*.txt").c_str(), contents));
}

TEST_F(PosixTest, DevicesAreNeverLocked) {
  OpenResult first = OpenForWriting("/dev/null");
  ASSERT_EQ(first.Code, 0);
  EXPECT_EQ(TryWrite("/dev/null"), 0);
  EXPECT_EQ(TryRead("/dev/null"), 0);
  Close(first.OsHandle);
}

// Where the file system has no locks, flock fails with ENOLCK (an NFS mount
// without a lock manager); lock_support switches that on for the program's
// calls, which resolve to this definition ahead of the C library's.
bool lock_support = true;

}  // namespace
}  // namespace tabulon::platform

// The interposer must take the system function's name, which is also the
// name of the lock structure.
#pragma GCC diagnostic ignored "-Wshadow"
extern "C" int flock(int fd, int operation) {
  if (!tabulon::platform::lock_support) {
    errno = ENOLCK;
    return -1;
  }
  using Flock = int (*)(int, int);
  static const auto real = reinterpret_cast<Flock>(::dlsym(RTLD_NEXT, "flock"));
  return real(fd, operation);
}

namespace tabulon::platform {
namespace {

// The run's inputs are refused as the output by identity, whatever the name
// and with or without lock support, before anything is emptied.
TEST_F(PosixTest, RunInputsAreRefusedForWritingByAnyName) {
  for (bool locks : {true, false}) {
    lock_support = locks;
    std::string params = Dir.Write("p.txt", "X,1\r\n");
    std::string text = Dir.Write("t.txt", "keep me");
    for (const std::string& name : {params, text}) {
      ::unlink((name + "-link").c_str());
      ::unlink((name + "-soft").c_str());
      ASSERT_EQ(::link(name.c_str(), (name + "-link").c_str()), 0);
      ASSERT_EQ(::symlink(name.c_str(), (name + "-soft").c_str()), 0);
    }
    std::string contents;
    ASSERT_TRUE(ReadWhole(params.c_str(), contents));
    OpenResult reader = OpenForReading(text.c_str());
    ASSERT_EQ(reader.Code, 0);
    std::string via_fd = "/proc/self/fd/" + std::to_string(reader.OsHandle);
    for (const std::string& name : {params, params + "-link", params + "-soft", text,
                                    text + "-link", text + "-soft", via_fd}) {
      EXPECT_EQ(TryWrite(name), 32) << name << (locks ? "" : " without locks");
    }
    EXPECT_EQ(test::TempDir::Read(params), "X,1\r\n");
    EXPECT_EQ(test::TempDir::Read(text), "keep me");
    EXPECT_EQ(TryWrite(Dir.Path("other.txt")), 0);
    Close(reader.OsHandle);
    lock_support = true;
  }
}

// Protection is by identity, and an identity is only unique while the file
// exists: the parameter file is held, so no new file can inherit it.
TEST_F(PosixTest, ProtectionDoesNotPassToAFileThatReusesTheIdentity) {
  for (int round = 0; round < 20; ++round) {
    std::string params = Dir.Write("gone.txt", "X,1\r\n");
    std::string contents;
    ASSERT_TRUE(ReadWhole(params.c_str(), contents));
    ASSERT_EQ(::unlink(params.c_str()), 0);
    EXPECT_EQ(TryWrite(Dir.Path("new" + std::to_string(round) + ".txt")), 0) << round;
  }
}

TEST_F(PosixTest, WritingANewFileCreatesItAndAnOldOneIsEmptied) {
  std::string old_file = Dir.Write("old.txt", "previous contents");
  EXPECT_EQ(TryWrite(old_file), 0);
  EXPECT_EQ(test::TempDir::Read(old_file), "");
  EXPECT_EQ(TryWrite(Dir.Path("new.txt")), 0);
  EXPECT_EQ(TryRead(Dir.Path("new.txt")), 0);
}

// Failed writes and reads, each in a child process where it needs process
// state (a signal disposition, a resource limit).
TEST_F(PosixTest, WriteFailuresGiveTheTableCodes) {
  PrepareProcess();  // SIGPIPE and SIGXFSZ ignored
  std::string big(1 << 20, 'x');
  struct Row {
    const char* Label;
    std::function<std::int32_t()> Run;
    std::int32_t Code;
  };
  const Row rows[] = {
      {"disk full",
       [&] {
         OpenResult full = OpenForWriting("/dev/full");
         std::int32_t code = Write(full.OsHandle, "x", 1);
         Close(full.OsHandle);
         return code;
       },
       112},
      {"closed descriptor",
       [] {
         int fds[2];
         if (::pipe(fds) != 0) return -1;
         ::close(fds[0]);
         ::close(fds[1]);
         return Write(fds[1], "x", 1);
       },
       6},
      {"descriptor open for reading",
       [&] {
         OpenResult r = OpenForReading(Dir.Write("r.txt", "x").c_str());
         std::int32_t code = Write(r.OsHandle, "x", 1);
         Close(r.OsHandle);
         return code;
       },
       6},
      {"pipe without a reader",
       [] {
         int fds[2];
         if (::pipe(fds) != 0) return -1;
         ::close(fds[0]);
         std::int32_t code = Write(fds[1], "x", 1);
         ::close(fds[1]);
         return code;
       },
       109},
      {"full non-blocking pipe (no sharing conflict)",
       [&] {
         int fds[2];
         if (::pipe(fds) != 0) return -1;
         ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
         std::int32_t code = Write(fds[1], big.data(), big.size());
         ::close(fds[0]);
         ::close(fds[1]);
         return code;
       },
       31},
      {"file-size limit",
       [&] {
         pid_t child = ::fork();
         if (child == 0) {
           rlimit limit{4096, 4096};
           ::setrlimit(RLIMIT_FSIZE, &limit);
           OpenResult w = OpenForWriting(Dir.Path("limited.txt").c_str());
           ::_exit(Write(w.OsHandle, big.data(), big.size()));
         }
         int status = 0;
         ::waitpid(child, &status, 0);
         return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
       },
       223},
  };
  for (const Row& row : rows) EXPECT_EQ(row.Run(), row.Code) << row.Label;
}

// A write that the system does only in part is completed.
TEST_F(PosixTest, ShortWritesAreCompleted) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string data(300000, 'y');  // several times a pipe's capacity
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    ::_exit(Write(fds[1], data.data(), data.size()));
  }
  ::close(fds[1]);
  std::size_t total = 0;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) total += std::size_t(n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(total, data.size());
}

TEST_F(PosixTest, KindsOfOpenedObjects) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  OpenResult file = OpenForWriting(Dir.Path("k.txt").c_str());
  OpenResult null = OpenForWriting("/dev/null");
  EXPECT_EQ(KindOf(file.OsHandle), FileKind::Disk);
  EXPECT_EQ(KindOf(null.OsHandle), FileKind::Char);
  EXPECT_EQ(KindOf(fds[1]), FileKind::Pipe);
  EXPECT_EQ(KindOf(OpenConsole().OsHandle), FileKind::Char);
  Close(file.OsHandle);
  Close(null.OsHandle);
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(KindOf(fds[1]), FileKind::Unknown);
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

void SetModificationTime(const std::string& path, std::time_t when) {
  utimbuf times{when, when};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST_F(PosixTest, ExistenceTest) {
  Dir.Write("data.txt", "x");
  Dir.MakeDirectory("dir.txt");
  SetModificationTime(Dir.Write("old.txt", "x"), LocalTime(1979, 12, 31, 23, 59, 59));
  SetModificationTime(Dir.Write("first.txt", "x"), LocalTime(1980, 1, 1, 0, 0, 0));
  SetModificationTime(Dir.Write("last.txt", "x"), LocalTime(2107, 12, 31, 23, 59, 59));
  SetModificationTime(Dir.Write("late.txt", "x"), LocalTime(2108, 1, 1, 0, 0, 0));
  ASSERT_EQ(::symlink("data.txt", Dir.Path("link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("gone.txt", Dir.Path("dangling.txt").c_str()), 0);
  ASSERT_EQ(::symlink("dir.txt", Dir.Path("dirlink.txt").c_str()), 0);
  // The first match in byte order decides, even when it is a directory.
  Dir.MakeDirectory("m/ba");
  Dir.Write("m/bb", "x");
  Dir.Write("m/ca", "x");
  Dir.MakeDirectory("m/cb");
  Dir.Write("m/\x82\xa0.txt", "x");
  struct Row {
    const char* Name;
    bool Exists;
  };
  const Row rows[] = {
      {"data.txt", true},     {"missing.txt", false}, {"dir.txt", false},
      {"old.txt", false},     {"first.txt", true},    {"last.txt", true},
      {"late.txt", false},    {"link.txt", true},     {"dangling.txt", false},
      {"dirlink.txt", false}, {"d?ta.txt", true},     {"*a.txt", true},
      {"l*t.txt", true},      {"z*", false},          {"o*", false},
      {"d*.txt", false},  // dangling.txt comes first
      {"m/b?", false},        {"m/b*", false},        {"m/c?", true},
      {"m/?a", false},        {"m/?b", true},         {"m/*.txt", true},
      {"m/?\xa0.txt", true},  {"m/\x82*", true},      {"m/*", false},  // "." comes first
      {"nodir/*", false},     {"m", false},           {"data.txt/", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(PassesExistenceTest(Dir.Path(row.Name).c_str()), row.Exists) << row.Name;
  }
}

}  // namespace
}  // namespace tabulon::platform
