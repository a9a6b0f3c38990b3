// POSIX implementation of the OS layer. The only file that calls the system.
//
// Sharing is emulated with advisory flock locks on regular files: readers take
// a shared lock, the writer an exclusive one before it empties the file, so a
// file that is being read can never be overwritten by a second open.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/io_code.h"
#include "platform/platform.h"
#include "platform/posix/wildcard.h"

extern "C" char __executable_start;  // NOLINT: provided by the linker

namespace tabulon::platform {
namespace {

constexpr Handle kConsoleHandle = -2;  // stands for the console; never closed

bool DirectoryExists(const std::string& dir) {
  struct stat st {};
  return ::stat(dir.empty() ? "." : dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// errno to the codes of the message table. Raw errno values are never shown:
// they collide with the table (EIO is 5, which would read "access denied").
// A sharing conflict (a lock held elsewhere) is decided by TakeLock, not here:
// EAGAIN from a write (a non-blocking descriptor) is no sharing conflict.
std::int32_t CodeOf(int err, const char* name) {
  switch (err) {
    case ENOENT: {
      std::string_view path = name ? name : "";
      if (HasWildcard(LastComponent(path))) return kIoInvalidName;
      return DirectoryExists(std::string(DirectoryPart(path))) ? kIoFileNotFound : kIoPathNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
      return kIoPathNotFound;
    case EMFILE:
    case ENFILE:
      return kIoTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kIoAccessDenied;
    case EBADF:
      return kIoInvalidHandle;
    case EBUSY:
    case ETXTBSY:
      return kIoSharingViolation;
    case EINVAL:
      return kIoInvalidParameter;
    case EPIPE:
      return kIoBrokenPipe;
    case ENOSPC:
    case EDQUOT:
      return kIoDiskFull;
    case EFBIG:
      return kIoFileTooLarge;
    case EIO:
      return kIoDeviceError;
    default:
      return kIoGeneralFailure;
  }
}

// A name the platform refuses before asking the system: too long (3), or a
// wildcard in its last component, which no file can be opened by (123).
std::int32_t CheckName(const char* name) {
  std::string_view path = name;
  if (path.size() > kMaxNameLength) return kIoPathNotFound;
  if (path.empty()) return kIoFileNotFound;
  if (HasWildcard(LastComponent(path))) return kIoInvalidName;
  return kIoSuccess;
}

// Takes the advisory lock that emulates the sharing rules. Returns 0, or 32
// when another open holds a conflicting lock. A file system without lock
// support is used without the lock.
std::int32_t TakeLock(int fd, int operation) {
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return kIoSuccess;
    int err = errno;
    if (err == EINTR) continue;
    if (err == EWOULDBLOCK) return kIoSharingViolation;
    if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL) return kIoSuccess;
    return CodeOf(err, nullptr);
  }
}

struct FileId {
  dev_t Dev;
  ino_t Ino;
  bool operator==(const FileId&) const = default;
};

FileId IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino};
}

// The run's inputs (the text file, the parameter file), by identity, taken
// from the descriptor that reads them. While an input's descriptor is open
// its identity cannot pass to another file, and no output may have it.
struct RunInput {
  FileId Id;
  int Fd;
  bool Open;
  bool Kept = false;  // read whole: its descriptor is held until the process ends
};
std::vector<RunInput> run_inputs;

// The files the run's names led to when the names became known: the inputs
// before they are opened, and the output. (A file the run opens or creates
// later cannot be one that a standard descriptor already held.)
std::vector<FileId> named_files;

void RecordInput(int fd, const struct stat& st) {
  run_inputs.push_back({IdentityOf(st), fd, true});
}

void ForgetOpenInput(int fd) {
  for (RunInput& input : run_inputs) {
    if (input.Open && input.Fd == fd) input.Open = false;
  }
}

bool IsOpenInput(const struct stat& st) {
  return std::any_of(run_inputs.begin(), run_inputs.end(), [&](const RunInput& input) {
    return input.Open && input.Id == IdentityOf(st);
  });
}

// The fillers of standard descriptors that were closed at start-up: each is
// one end of a pipe of its own, so its identity belongs to nothing else. A
// name that leads to one (/dev/stdin, /proc/self/fd/1, ...) counts as absent.
FileId fillers[3];
std::size_t filler_count = 0;

bool IsFiller(const struct stat& st) {
  return std::find(fillers, fillers + filler_count, IdentityOf(st)) != fillers + filler_count;
}

bool NamesFiller(const char* name) {
  struct stat st {};
  return filler_count != 0 && ::stat(name, &st) == 0 && IsFiller(st);
}

OpenResult Fail(int fd, std::int32_t code) {
  if (fd >= 0) ::close(fd);
  return {kInvalidHandle, code};
}

char module_name[256] = "tabulon";

}  // namespace

OpenResult OpenForReading(const char* name) {
  if (std::int32_t code = CheckName(name)) return {kInvalidHandle, code};
  if (NamesFiller(name)) return {kInvalidHandle, kIoFileNotFound};  // nobody's data: never opened
  int fd;
  do fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(-1, CodeOf(errno, name));
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Fail(fd, CodeOf(errno, name));
  if (IsFiller(st)) return Fail(fd, kIoFileNotFound);
  if (S_ISDIR(st.st_mode)) return Fail(fd, kIoAccessDenied);
  if (S_ISREG(st.st_mode)) {
    if (std::int32_t code = TakeLock(fd, LOCK_SH)) return Fail(fd, code);
    RecordInput(fd, st);
  }
  return {fd, 0};
}

OpenResult OpenForWriting(const char* name) {
  if (std::int32_t code = CheckName(name)) return {kInvalidHandle, code};
  if (NamesFiller(name)) return {kInvalidHandle, kIoInvalidHandle};  // a closed standard descriptor
  int fd;
  // Not O_TRUNC: the file is emptied only once the lock shows nobody else has it open.
  do fd = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(-1, CodeOf(errno, name));
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Fail(fd, CodeOf(errno, name));
  if (IsFiller(st)) return Fail(fd, kIoInvalidHandle);
  if (S_ISREG(st.st_mode)) {
    // Checked before the lock, which a file system may not support: the
    // output may never be one of the run's own inputs.
    if (IsOpenInput(st)) return Fail(fd, kIoSharingViolation);
    if (std::int32_t code = TakeLock(fd, LOCK_EX)) return Fail(fd, code);
    // An empty file (a new one, usually) is not truncated: on ext4 a
    // truncation to zero makes the final close wait for the write-back of
    // everything written since, tens of ms per 100 MB, for no gain.
    if (::fstat(fd, &st) != 0) return Fail(fd, CodeOf(errno, name));
    if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) return Fail(fd, CodeOf(errno, name));
  }
  return {fd, 0};
}

OpenResult OpenConsole() {
  return {kConsoleHandle, 0};
}

FileKind KindOf(Handle handle) {
  if (handle == kConsoleHandle) return FileKind::Char;
  struct stat st {};
  if (::fstat(static_cast<int>(handle), &st) != 0) return FileKind::Unknown;
  if (S_ISCHR(st.st_mode)) return FileKind::Char;
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return FileKind::Disk;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FileKind::Pipe;
  return FileKind::Unknown;
}

std::int32_t Read(Handle handle, char* buffer, std::uint32_t capacity, std::uint32_t& count) {
  count = 0;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle), buffer, capacity);
    if (n >= 0) {
      count = static_cast<std::uint32_t>(n);
      return 0;
    }
    if (errno != EINTR) return CodeOf(errno, nullptr);
  }
}

std::int32_t Write(Handle handle, const char* data, std::size_t size) {
  if (handle == kConsoleHandle) return 0;  // never written: the channel writes to fd 2
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return CodeOf(errno, nullptr);
    }
    if (n == 0) return kIoGeneralFailure;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

namespace {

bool IsRegularFile(int fd, struct stat& st) {
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void ReleaseReserved(Handle handle) {
  const int fd = static_cast<int>(handle);
  struct stat st {};
  // Cutting a file to its own size frees the blocks past its end.
  if (handle != kConsoleHandle && IsRegularFile(fd, st))
    static_cast<void>(::ftruncate(fd, st.st_size));
}

// Only on ext4, where it pays (bench/run.sh reserve): its delayed
// allocation makes every page written reserve its block. XFS writes as
// cheaply without, and its fallocate waits on its log; tmpfs fills the
// pages with zeros first.
bool ReserveAhead(Handle handle, std::uint64_t size) {
#if defined(__linux__)
  constexpr decltype(statfs::f_type) kExt4Magic = 0xEF53;
  const int fd = static_cast<int>(handle);
  struct stat st {};
  struct statfs fs {};
  if (handle == kConsoleHandle || !IsRegularFile(fd, st) || ::fstatfs(fd, &fs) != 0 ||
      fs.f_type != kExt4Magic) {
    return false;
  }
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  if (offset < 0 || size > static_cast<std::uint64_t>(INT64_MAX - offset)) return false;
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, static_cast<off_t>(size)) == 0) return true;
  // A call that ran out of room may have set part of it aside: given back
  // at once, as the caller holds nothing.
  ReleaseReserved(handle);
  return false;
#else
  static_cast<void>(handle);
  static_cast<void>(size);
  return false;
#endif
}

std::int32_t Close(Handle handle) {
  if (handle == kConsoleHandle) return 0;
  ForgetOpenInput(static_cast<int>(handle));
  if (::close(static_cast<int>(handle)) != 0 && errno != EINTR) return CodeOf(errno, nullptr);
  return 0;
}

Handle StandardError() {
  return STDERR_FILENO;
}
Handle StandardOutput() {
  return STDOUT_FILENO;
}
Handle StandardInput() {
  return STDIN_FILENO;
}

namespace {

// Hands the bytes of `fd` to `take` until its end or until `take` ends the
// read. `expected` is the size of a regular file (the read must reach it),
// or -1 for a pipe or device, which has no size.
bool ReadAll(int fd, off_t expected, TakeBytes take, void* reader) {
  char chunk[65536];
  std::size_t done = 0;
  for (;;) {
    std::size_t want = sizeof chunk;
    if (expected >= 0) {
      // A file that grew since its size was taken is read to that size.
      std::size_t left = static_cast<std::size_t>(expected) - done;
      if (left == 0) return true;
      want = std::min(want, left);
    }
    ssize_t n = ::read(fd, chunk, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return expected < 0;  // a regular file ended before its size: a short read
    done += static_cast<std::size_t>(n);
    if (!take(reader, std::string_view(chunk, static_cast<std::size_t>(n)))) return true;
  }
}

// Closes a whole read's descriptor when the reader fails (or raises).
struct CloseUnlessKept {
  int Fd;
  bool Kept = false;
  ~CloseUnlessKept() {
    if (!Kept) Close(Fd);
  }
};

}  // namespace

bool ReadWholeFile(const char* name, TakeBytes take, void* reader) {
  OpenResult opened = OpenForReading(name);
  if (opened.Code != 0) return false;
  CloseUnlessKept file{static_cast<int>(opened.OsHandle)};
  struct stat st {};
  if (::fstat(file.Fd, &st) != 0) return false;
  if (!ReadAll(file.Fd, S_ISREG(st.st_mode) ? st.st_size : -1, take, reader)) return false;
  if (S_ISREG(st.st_mode)) {
    // Kept open for the rest of the run, so that its identity stays its own
    // (an inode number is reused once a file is gone) and the output can be
    // refused by it; the lock is released as at a close.
    ::flock(file.Fd, LOCK_UN);
    run_inputs.back().Kept = true;
    file.Kept = true;
  }
  return true;
}

void ForgetRunInputs() {
  std::erase_if(run_inputs, [](const RunInput& input) {
    if (input.Kept && input.Open) ::close(input.Fd);
    return input.Kept || !input.Open;
  });
  named_files.clear();
}

void ProtectNamedFile(const char* name) {
  struct stat st {};
  if (*name != '\0' && ::stat(name, &st) == 0 && S_ISREG(st.st_mode)) {
    named_files.push_back(IdentityOf(st));
  }
}

void ProtectOpenedFile(Handle handle) {
  struct stat st {};
  if (::fstat(static_cast<int>(handle), &st) == 0 && S_ISREG(st.st_mode)) {
    named_files.push_back(IdentityOf(st));
  }
}

bool IsRunFile(Handle handle) {
  struct stat st {};
  // A terminal, pipe or device is nobody's file: only a regular file can be.
  if (::fstat(static_cast<int>(handle), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileId id = IdentityOf(st);
  if (std::find(named_files.begin(), named_files.end(), id) != named_files.end()) return true;
  return std::any_of(run_inputs.begin(), run_inputs.end(),
                     [&](const RunInput& input) { return input.Id == id; });
}

bool PassesExistenceTest(const char* name) {
  std::string_view path = name;
  std::string found(path);
  std::string_view last = LastComponent(path);
  if (HasWildcard(last)) {
    std::string dir(DirectoryPart(path));
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return false;
    std::string best;
    bool any = false;
    while (dirent* e = ::readdir(d)) {
      std::string_view entry = e->d_name;
      if (WildcardMatch(last, entry) && (!any || entry < best)) {
        best = entry;
        any = true;
      }
    }
    ::closedir(d);
    if (!any) return false;
    found = dir + best;
  }
  struct stat st {};
  if (::stat(found.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || IsFiller(st)) return false;
  std::tm local{};
  std::time_t when = st.st_mtime;
  if (!::localtime_r(&when, &local)) return false;
  int year = local.tm_year + 1900;
  return year >= 1980 && year <= 2107;
}

bool RawCommandLine(std::string&) {
  return false;
}

namespace {

// A standard descriptor that is closed at start-up is filled, so that the
// files of the run can never take its slot (a message or report would
// otherwise land in the output file). The filler is one end of a pipe of its
// own, the wrong end: reading fd 0 or writing fd 1 or 2 fails with EBADF
// (code 6) exactly as on a closed one, and its identity marks every name that
// leads to it as absent. The slots are first held with /dev/null, so that
// the pipes never land in another closed slot.
void FillClosedStandardDescriptors() {
  bool closed[3] = {};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    closed[fd] = ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
    if (closed[fd]) ::open("/dev/null", O_RDONLY);  // takes the lowest free slot: this one
  }
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    int ends[2];
    if (!closed[fd] || ::pipe(ends) != 0) continue;
    ::dup2(fd == STDIN_FILENO ? ends[1] : ends[0], fd);
    ::close(ends[0]);
    ::close(ends[1]);
    struct stat st {};
    if (::fstat(fd, &st) == 0) fillers[filler_count++] = IdentityOf(st);
  }
}

}  // namespace

void PrepareProcess() {
  FillClosedStandardDescriptors();
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    path[n] = '\0';
    std::string_view base = LastComponent(std::string_view(path, static_cast<std::size_t>(n)));
    std::size_t len = std::min(base.size(), sizeof module_name - 1);
    std::memcpy(module_name, base.data(), len);
    module_name[len] = '\0';
  }
}

TextForm TerminalTextForm(Handle handle) {
  if (::isatty(static_cast<int>(handle)) != 1) return TextForm::Cp932;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return NamesUtf8(value) ? TextForm::Utf8 : TextForm::Cp932;
    }
  }
  return TextForm::Cp932;
}

std::string_view ModuleName() {
  return module_name;
}

std::uintptr_t CodeOffset(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address) -
         reinterpret_cast<std::uintptr_t>(&__executable_start);
}

void* ResizeBlock(void* block, std::size_t old_size, std::size_t new_size) {
  void* grown = block == nullptr ? ::mmap(nullptr, new_size, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                 : ::mremap(block, old_size, new_size, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  // Large pages where the system has them: a 2 MB page costs one fault
  // instead of 512. Only a hint; failing it changes nothing.
  ::madvise(grown, new_size, MADV_HUGEPAGE);
#endif
  return grown;
}

void FreeBlock(void* block, std::size_t size) {
  if (block != nullptr) ::munmap(block, size);
}

unsigned UsableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

namespace {

// Converters need little stack: no recursion, buffers on the heap.
constexpr std::size_t kThreadStack = 256 * 1024;
constexpr std::size_t kStackGuard = 4096;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

void* RunThread(void* record) {
  Thread& thread = *static_cast<Thread*>(record);
  thread.Body(thread.Argument);
  return nullptr;
}

}  // namespace

bool StartThread(Thread& thread, ThreadBody body, void* argument) {
  static_assert(sizeof(pthread_t) <= sizeof(void*));
  thread.Body = body;
  thread.Argument = argument;
  // The stack is made here rather than by the thread library, which keeps
  // the stacks of joined threads for later ones: a run whose threads have
  // ended then needs no more memory than one that never started them. (The
  // sanitizers keep their own data on a thread's stack and need the
  // library's.)
  void* stack = nullptr;
  if (!kSanitizedBuild) {
    stack = ::mmap(nullptr, kThreadStack, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) return false;
    ::mprotect(stack, kStackGuard, PROT_NONE);  // an overflow faults
  }
  pthread_attr_t attributes;
  int result = ::pthread_attr_init(&attributes);
  if (result == 0) {
    result = stack != nullptr ? ::pthread_attr_setstack(&attributes, stack, kThreadStack)
                              : ::pthread_attr_setstacksize(&attributes, kThreadStack);
    pthread_t id;
    if (result == 0) result = ::pthread_create(&id, &attributes, RunThread, &thread);
    if (result == 0) std::memcpy(&thread.Native, &id, sizeof id);
    ::pthread_attr_destroy(&attributes);
  }
  if (result != 0) {
    if (stack != nullptr) ::munmap(stack, kThreadStack);
    return false;
  }
  thread.Stack = stack;
  return true;
}

void JoinThread(Thread& thread) {
  pthread_t id;
  std::memcpy(&id, &thread.Native, sizeof id);
  ::pthread_join(id, nullptr);
  if (thread.Stack != nullptr) ::munmap(thread.Stack, kThreadStack);
  thread.Stack = nullptr;
}

void ExitProcess(int status) {
  std::exit(status);
}

}  // namespace tabulon::platform
