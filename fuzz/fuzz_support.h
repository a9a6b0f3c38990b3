// Helpers shared by the fuzz targets.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tabulon::fuzz {

// Stops the run with a message libFuzzer shows beside the crashing input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(condition)                            \
  do {                                                   \
    if (!(condition)) ::tabulon::fuzz::Fail(#condition); \
  } while (0)

// An in-memory file that the line files open by name (/proc/self/fd/N), so
// that every iteration goes through the real open, read, write and close
// without touching a disk.
class MemoryFile {
 public:
  explicit MemoryFile(const char* label) : Descriptor(::memfd_create(label, MFD_CLOEXEC)) {
    if (Descriptor < 0) Fail("memfd_create");
    Path = "/proc/self/fd/" + std::to_string(Descriptor);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { ::close(Descriptor); }

  const std::string& Name() const { return Path; }

  void Store(std::string_view data) {
    if (::ftruncate(Descriptor, 0) != 0) Fail("ftruncate");
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n =
          ::pwrite(Descriptor, data.data() + done, data.size() - done, static_cast<off_t>(done));
      if (n <= 0) Fail("pwrite");
      done += static_cast<std::size_t>(n);
    }
  }

  std::string Load() const {
    std::string data;
    char block[4096];
    off_t at = 0;
    for (;;) {
      ssize_t n = ::pread(Descriptor, block, sizeof block, at);
      if (n < 0) Fail("pread");
      if (n == 0) break;
      data.append(block, static_cast<std::size_t>(n));
      at += n;
    }
    return data;
  }

 private:
  int Descriptor;
  std::string Path;
};

// Takes bytes off the front of the fuzz input to steer the test; yields zeros
// once the input is used up.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : Next(data), Left(size) {}
  std::uint8_t Byte() { return Left > 0 ? (--Left, *Next++) : 0; }
  std::string_view Rest() const { return {reinterpret_cast<const char*>(Next), Left}; }

 private:
  const std::uint8_t* Next;
  std::size_t Left;
};

}  // namespace tabulon::fuzz
