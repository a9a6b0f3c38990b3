// The Win32 layer: the system's own codes for failed opens, the share modes
// that keep a file being read from being overwritten (and the parameter file
// from being overwritten at all), the kinds of opened objects, the codes of
// broken pipes, the existence test and the process's module name.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "support/open_probes.h"

namespace tabulon::platform {
namespace {

// A fresh directory under the temporary directory, removed afterwards.
class Win32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(::GetTempPathA(sizeof temp, temp), 0u);
    for (unsigned n = ::GetCurrentProcessId();; ++n) {
      Root = std::string(temp) + "tabulon-test-" + std::to_string(n);
      if (::CreateDirectoryA(Root.c_str(), nullptr)) break;
      ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    }
  }
  void TearDown() override {
    ForgetRunInputs();
    RemoveTree(Root);
  }

  std::string Path(const std::string& name) const { return Root + "\\" + name; }

  std::string MakeFile(const std::string& name, const std::string& bytes) const {
    std::string path = Path(name);
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD done = 0;
    EXPECT_TRUE(::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ::CloseHandle(file);
    return path;
  }

  std::string MakeDirectory(const std::string& name) const {
    std::string path = Path(name);
    EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr)) << path;
    return path;
  }

  // A plain read: ReadWholeFile would make the file one of the run's inputs.
  static std::string Contents(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    std::string contents;
    char chunk[4096];
    DWORD done = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &done, nullptr) && done > 0) {
      contents.append(chunk, done);
    }
    ::CloseHandle(file);
    return contents;
  }

 private:
  static void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          ::DeleteFileA(path.c_str());
        }
      } while (::FindNextFileA(search, &entry));
      ::FindClose(search);
    }
    ::RemoveDirectoryA(dir.c_str());
  }

  std::string Root;
};

TEST_F(Win32Test, FailedOpensGiveTheSystemsCodes) {
  MakeFile("data.txt", "x");
  MakeDirectory("sub");
  struct Row {
    std::string Name;
    std::int32_t ReadCode;
    std::int32_t WriteCode;
  };
  const Row rows[] = {
      {Path("data.txt"), 0, 0},
      {Path("missing.txt"), ERROR_FILE_NOT_FOUND, 0},
      {Path("nodir\\x.txt"), ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
      {Path("sub"), ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {Path("d*.txt"), ERROR_INVALID_NAME, ERROR_INVALID_NAME},
      {Path("d?ta.txt"), ERROR_INVALID_NAME, ERROR_INVALID_NAME},
      // Longer than a name may be: refused before the system sees it.
      {Path(std::string(kMaxNameLength, 'n')), ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TryRead(row.Name), row.ReadCode) << row.Name;
    EXPECT_EQ(TryWrite(row.Name), row.WriteCode) << row.Name;
  }
}

TEST_F(Win32Test, OpenForWritingEmptiesAnExistingFile) {
  std::string path = MakeFile("out.csv", "old contents");
  OpenResult out = OpenForWriting(path.c_str());
  ASSERT_EQ(out.Code, 0);
  EXPECT_EQ(Write(out.OsHandle, "new", 3), 0);
  EXPECT_EQ(Close(out.OsHandle), 0);
  EXPECT_EQ(Contents(path), "new");
}

// Read sharing only: a file being read may be read again but not written,
// and a file being written may not be opened at all.
TEST_F(Win32Test, ShareModesAllowReadersOnly) {
  std::string path = MakeFile("data.txt", "line\r\n");
  struct Row {
    const char* Held;
    bool HeldForWriting;
    std::int32_t ReadCode;
    std::int32_t WriteCode;
    bool WholeRead;
  };
  // Held for writing first: a file once read whole stays one of the run's
  // inputs, which the output may never be.
  const Row rows[] = {
      {"held for writing", true, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, false},
      {"held for reading", false, 0, ERROR_SHARING_VIOLATION, true},
  };
  for (const Row& row : rows) {
    OpenResult held =
        row.HeldForWriting ? OpenForWriting(path.c_str()) : OpenForReading(path.c_str());
    ASSERT_EQ(held.Code, 0) << row.Held;
    EXPECT_EQ(TryRead(path), row.ReadCode) << row.Held;
    EXPECT_EQ(TryWrite(path), row.WriteCode) << row.Held;
    std::string contents;
    EXPECT_EQ(ReadWhole(path.c_str(), contents), row.WholeRead) << row.Held;
    EXPECT_EQ(Close(held.OsHandle), 0);
    // Nobody holds it any more; read whole, it is an input of the run.
    EXPECT_EQ(TryWrite(path), row.WholeRead ? ERROR_SHARING_VIOLATION : 0) << row.Held;
  }
}

TEST_F(Win32Test, ProtectedFileIsRefusedUnderEverySpelling) {
  std::string parameters = MakeFile("params.txt", "X,3\r\n");
  std::string other = MakeFile("other.txt", "keep");
  std::string contents;
  ASSERT_TRUE(ReadWhole(parameters.c_str(), contents));
  for (const std::string& name : {parameters, Path("PARAMS.TXT"), Path("sub\\..\\params.txt"),
                                  Path(".\\params.txt"), Path("params.txt.")}) {
    EXPECT_EQ(TryWrite(name), ERROR_SHARING_VIOLATION) << name;
  }
  EXPECT_EQ(Contents(parameters), "X,3\r\n");
  EXPECT_EQ(TryRead(parameters), 0);
  EXPECT_EQ(TryWrite(other), 0);
  EXPECT_EQ(TryWrite(Path("new.csv")), 0);
}

// A standard handle on one of the run's files, read whole or named (by any
// spelling), is recognised, so that no report or message goes into it.
TEST_F(Win32Test, RunFilesAreRecognisedByTheirHandles) {
  std::string parameters = MakeFile("params.txt", "X,3\r\n");
  std::string text = MakeFile("text.txt", "abc\r\n");
  std::string other = MakeFile("other.txt", "keep");
  std::string contents;
  ASSERT_TRUE(ReadWhole(parameters.c_str(), contents));
  ProtectNamedFile(Path(".\\TEXT.TXT").c_str());
  ProtectNamedFile(Path("missing.txt").c_str());
  for (const auto& [path, own] :
       {std::pair{parameters, true}, std::pair{text, true}, std::pair{other, false}}) {
    HANDLE appending =
        ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(appending, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(IsRunFile(reinterpret_cast<Handle>(appending)), own) << path;
    ::CloseHandle(appending);
  }
}

TEST_F(Win32Test, ReadWholeFileDeliversEveryByteUpToTheFirstNul) {
  const std::string bytes("a\x1a\r\n\x81\x40\xff\0b", 9);
  std::string contents = "stale";
  EXPECT_TRUE(ReadWhole(MakeFile("bytes.txt", bytes).c_str(), contents));
  EXPECT_EQ(contents, bytes.substr(0, 7));
  std::string big(200000, 'z');
  EXPECT_TRUE(ReadWhole(MakeFile("big.txt", big).c_str(), contents));
  EXPECT_EQ(contents, big);
  EXPECT_TRUE(ReadWhole(MakeFile("empty.txt", "").c_str(), contents));
  EXPECT_EQ(contents, "");
  EXPECT_FALSE(ReadWhole(Path("missing.txt").c_str(), contents));
  EXPECT_EQ(contents, "");
  EXPECT_FALSE(ReadWhole(Path(std::string(kMaxNameLength, 'n')).c_str(), contents));
}

// A block larger than any single system request completes.
TEST_F(Win32Test, WriteAndReadRoundTrip) {
  std::string path = Path("big.txt");
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  OpenResult out = OpenForWriting(path.c_str());
  ASSERT_EQ(out.Code, 0);
  EXPECT_EQ(Write(out.OsHandle, block.data(), block.size()), 0);
  EXPECT_EQ(Close(out.OsHandle), 0);

  OpenResult in = OpenForReading(path.c_str());
  ASSERT_EQ(in.Code, 0);
  std::string back;
  char buffer[4096];
  std::uint32_t count = 0;
  while (Read(in.OsHandle, buffer, sizeof buffer, count) == 0 && count > 0)
    back.append(buffer, count);
  EXPECT_EQ(Close(in.OsHandle), 0);
  EXPECT_EQ(back, block);
}

TEST(Win32Pipes, BrokenPipesGiveTheirCodes) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  EXPECT_EQ(KindOf(reinterpret_cast<Handle>(read_end)), FileKind::Pipe);
  EXPECT_EQ(Write(reinterpret_cast<Handle>(write_end), "ab", 2), 0);
  ::CloseHandle(write_end);
  char buffer[8];
  std::uint32_t count = 0;
  EXPECT_EQ(Read(reinterpret_cast<Handle>(read_end), buffer, sizeof buffer, count), 0);
  EXPECT_EQ(std::string(buffer, count), "ab");
  // The writer has gone: the line file takes this code as the end of the data.
  EXPECT_EQ(Read(reinterpret_cast<Handle>(read_end), buffer, sizeof buffer, count),
            ERROR_BROKEN_PIPE);
  EXPECT_EQ(count, 0u);
  ::CloseHandle(read_end);

  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  ::CloseHandle(read_end);
  EXPECT_EQ(Write(reinterpret_cast<Handle>(write_end), "ab", 2), ERROR_NO_DATA);
  ::CloseHandle(write_end);
}

TEST_F(Win32Test, KindsOfOpenedObjects) {
  OpenResult disk = OpenForWriting(Path("out.csv").c_str());
  ASSERT_EQ(disk.Code, 0);
  EXPECT_EQ(KindOf(disk.OsHandle), FileKind::Disk);
  Close(disk.OsHandle);
  OpenResult device = OpenForWriting("NUL");
  ASSERT_EQ(device.Code, 0);
  EXPECT_EQ(KindOf(device.OsHandle), FileKind::Char);
  EXPECT_EQ(Write(device.OsHandle, "gone", 4), 0);
  Close(device.OsHandle);
  EXPECT_EQ(KindOf(reinterpret_cast<Handle>(nullptr)), FileKind::Unknown);
  EXPECT_EQ(Close(reinterpret_cast<Handle>(nullptr)), ERROR_INVALID_HANDLE);
}

void SetWriteTime(const std::string& path, WORD year) {
  SYSTEMTIME when{};
  when.wYear = year;
  when.wMonth = 6;
  when.wDay = 15;
  when.wHour = 12;
  FILETIME time;
  ASSERT_TRUE(::SystemTimeToFileTime(&when, &time));
  HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &time));
  ::CloseHandle(file);
}

TEST_F(Win32Test, ExistenceTest) {
  MakeFile("data.txt", "x");
  SetWriteTime(MakeFile("y1979.txt", "x"), 1979);
  SetWriteTime(MakeFile("y1980.txt", "x"), 1980);
  SetWriteTime(MakeFile("y2107.txt", "x"), 2107);
  SetWriteTime(MakeFile("y2108.txt", "x"), 2108);
  MakeDirectory("adir");
  struct Row {
    std::string Name;
    bool Exists;
  };
  const Row rows[] = {
      {"data.txt", true},   {"DATA.TXT", true},  {"missing.txt", false}, {"adir", false},
      {"y1979.txt", false}, {"y1980.txt", true}, {"y2107.txt", true},    {"y2108.txt", false},
      {"d*.txt", true},     {"da?a.txt", true},  {"z*.txt", false},      {"nodir\\d*.txt", false},
      {"a*", false},  // the first match is the directory
  };
  for (const Row& row : rows)
    EXPECT_EQ(PassesExistenceTest(Path(row.Name).c_str()), row.Exists) << row.Name;
}

TEST(Win32Process, ModuleNameAndCommandLine) {
  PrepareProcess();
  EXPECT_EQ(ModuleName(), "tabulon_tests.exe");
  std::string line;
  EXPECT_TRUE(RawCommandLine(line));
  EXPECT_NE(line.find("tabulon_tests"), std::string::npos) << line;
  // Code of this executable lies within its image.
  std::uintptr_t offset = CodeOffset(reinterpret_cast<const void*>(&PrepareProcess));
  EXPECT_GT(offset, 0u);
  EXPECT_LT(offset, 0x10000000u);
  EXPECT_EQ(StandardOutput(), reinterpret_cast<Handle>(::GetStdHandle(STD_OUTPUT_HANDLE)));
  EXPECT_EQ(StandardError(), reinterpret_cast<Handle>(::GetStdHandle(STD_ERROR_HANDLE)));
}

}  // namespace
}  // namespace tabulon::platform
