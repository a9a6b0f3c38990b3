// Starts a Windows program with an exact command line, for the end-to-end
// cases under Wine (tests/e2e/wine_pty.sh runs it).
//
//   tabulon_spawn.exe [--hold NAME] [--detached] [--no-stderr] PROGRAM COMMAND-LINE-FILE
//
// The bytes of COMMAND-LINE-FILE (less one final LF) become the program's
// command line exactly as they stand, so the program's own splitting is
// what the case sees: a command line typed on Unix reaches a Windows program
// only through Wine's own quoting, which cannot express every byte.
//
// --hold NAME  keeps NAME open for writing (read sharing only) while the
//              program runs, as another program writing the file would.
// --detached   starts the program without a console.
// --no-stderr  starts the program without a standard error handle.
//
// The program inherits the standard handles; the exit status is its own.
// A failure of this helper itself ends with status 125.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "tabulon_spawn: %s (error %lu)\n", what,
               static_cast<unsigned long>(::GetLastError()));
  ::ExitProcess(125);
}

std::string ReadCommandLine(const char* name) {
  HANDLE file = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot open the command-line file");
  std::string line;
  char chunk[4096];
  DWORD count = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0) {
    line.append(chunk, count);
  }
  ::CloseHandle(file);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

HANDLE InheritableStdHandle(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return handle;
}

}  // namespace

int main(int argc, char** argv) {
  const char* hold = nullptr;
  bool detached = false;
  bool no_stderr = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      hold = argv[++i];
    } else if (std::strcmp(argv[i], "--detached") == 0) {
      detached = true;
    } else if (std::strcmp(argv[i], "--no-stderr") == 0) {
      no_stderr = true;
    } else {
      Fail("unknown option");
    }
  }
  if (argc - i != 2) Fail("usage: tabulon_spawn [options] PROGRAM FILE");
  const char* program = argv[i];
  std::string command_line = ReadCommandLine(argv[i + 1]);

  HANDLE held = INVALID_HANDLE_VALUE;
  if (hold) {
    held = ::CreateFileA(hold, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) Fail("cannot hold the file open");
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = no_stderr ? nullptr : InheritableStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program, command_line.data(), nullptr, nullptr, TRUE,
                        detached ? DETACHED_PROCESS : 0, nullptr, nullptr, &startup, &process)) {
    Fail("cannot start the program");
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 125;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  return static_cast<int>(status);
}
