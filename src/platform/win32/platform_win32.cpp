// Win32 implementation of the OS layer. The only file that calls the system.
//
// Every file is opened with read sharing only: others may read a file that
// the program holds open, but nobody may write it, and the program cannot
// open for writing a file that somebody holds open. The system enforces this
// itself, so a conflict arrives as ERROR_SHARING_VIOLATION (32). I/O codes are
// the system's own error codes from GetLastError, unchanged.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/cp932.h"
#include "base/io_code.h"
#include "platform/platform.h"

// The platform layer hands the system's codes through unchanged: the names
// of the program's vocabulary must be the system's numbers.
static_assert(tabulon::kIoFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(tabulon::kIoPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(tabulon::kIoTooManyOpenFiles == ERROR_TOO_MANY_OPEN_FILES);
static_assert(tabulon::kIoAccessDenied == ERROR_ACCESS_DENIED);
static_assert(tabulon::kIoInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(tabulon::kIoWriteFault == ERROR_WRITE_FAULT);
static_assert(tabulon::kIoGeneralFailure == ERROR_GEN_FAILURE);
static_assert(tabulon::kIoSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(tabulon::kIoInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(tabulon::kIoBrokenPipe == ERROR_BROKEN_PIPE);
static_assert(tabulon::kIoDiskFull == ERROR_DISK_FULL);
static_assert(tabulon::kIoInvalidName == ERROR_INVALID_NAME);
static_assert(tabulon::kIoFileTooLarge == ERROR_FILE_TOO_LARGE);
static_assert(tabulon::kIoDeviceError == ERROR_IO_DEVICE);

namespace tabulon::platform {
namespace {

HANDLE ToHandle(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

Handle FromHandle(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

std::int32_t LastCode() {
  return static_cast<std::int32_t>(::GetLastError());
}

// Opens `name` with the program's one share mode: read sharing only.
HANDLE CreateShared(const char* name, DWORD access, DWORD disposition) {
  return ::CreateFileA(name, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

OpenResult Open(const char* name, DWORD access, DWORD disposition) {
  if (std::strlen(name) > kMaxNameLength) return {kInvalidHandle, kIoPathNotFound};
  HANDLE handle = CreateShared(name, access, disposition);
  if (handle == INVALID_HANDLE_VALUE) return {kInvalidHandle, LastCode()};
  return {FromHandle(handle), 0};
}

// Closes a handle when the scope ends (the parameter file is read whole and
// closed again at once, also when allocating its text fails).
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : Held(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (Held != INVALID_HANDLE_VALUE) ::CloseHandle(Held);
  }
  HANDLE get() const { return Held; }

 private:
  HANDLE Held;
};

// The identity of a file: the volume and the file's identifier on it, the
// same for every name and link that leads to it.
struct FileId {
  ULONGLONG Volume = 0;
  BYTE Id[16] = {};
};

// Wine gives the standard handles it made from the descriptors it inherited
// volume 0, while the same file opened by name has its drive's serial number:
// a volume of 0 on either side matches any volume.
bool SameFile(const FileId& a, const FileId& b) {
  return std::memcmp(a.Id, b.Id, sizeof a.Id) == 0 &&
         (a.Volume == b.Volume || a.Volume == 0 || b.Volume == 0);
}

bool AnyIsSameFile(const std::vector<FileId>& files, const FileId& id) {
  return std::any_of(files.begin(), files.end(),
                     [&](const FileId& file) { return SameFile(file, id); });
}

std::vector<FileId> protected_files;  // inputs read whole: the output may never overwrite them

// The run's names, whose files are, with the inputs read whole, the run's own
// files, into which no report or message may go. Windows has no look-up of a
// file's identity by name alone: the name must be opened (without any access
// right). That open is put off until something is about to be written to a
// disk file, so that a name that is no plain file (a FIFO under Wine, whose
// open would take a reader's place) is never opened in a run that writes no
// report or message. (A file the run creates later cannot be one that a
// standard handle already held.)
struct NamedFile {
  std::string Name;
  bool LookedUp = false;
  bool Found = false;
  FileId Id{};
};
std::vector<NamedFile> named_files;

// The identity of an opened file. (The file identifier rather than the
// older file index: Wine answers only this query for a standard handle.)
bool IdentityOfOpened(HANDLE handle, FileId& id) {
  FILE_ID_INFO info{};
  if (!::GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info)) return false;
  id.Volume = info.VolumeSerialNumber;
  std::memcpy(id.Id, info.FileId.Identifier, sizeof id.Id);
  return true;
}

// The identity of an opened disk file; false for a console, pipe or device.
bool IdentityOfHandle(HANDLE handle, FileId& id) {
  return (::GetFileType(handle) & ~static_cast<DWORD>(FILE_TYPE_REMOTE)) == FILE_TYPE_DISK &&
         IdentityOfOpened(handle, id);
}

// The identity of the file `name` names now, without opening it for reading
// or writing (no access rights: this open never conflicts with share modes).
bool IdentityOf(const char* name, FileId& id) {
  ScopedHandle file(::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // The standard information needs no access right, unlike the basic one.
  FILE_STANDARD_INFO standard{};
  return file.get() != INVALID_HANDLE_VALUE &&
         ::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) &&
         !standard.Directory && IdentityOfOpened(file.get(), id);
}

bool IsProtected(const char* name) {
  FileId id{};
  return !protected_files.empty() && IdentityOf(name, id) && AnyIsSameFile(protected_files, id);
}

// Where the file name begins in a full path: after the last '\', '/' or ':'
// that is a character of its own (a double-byte character's second byte may
// be 0x5C).
std::size_t FileNameStart(const char* path, std::size_t length) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char b = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(b) && i + 1 < length) {
      ++i;
    } else if (b == '\\' || b == '/' || b == ':') {
      start = i + 1;
    }
  }
  return start;
}

char module_name[MAX_PATH] = "Tabulon.exe";

}  // namespace

OpenResult OpenForReading(const char* name) {
  return Open(name, GENERIC_READ, OPEN_EXISTING);
}

OpenResult OpenForWriting(const char* name) {
  // Checked before the open: CREATE_ALWAYS empties the file at once.
  if (IsProtected(name)) return {kInvalidHandle, kIoSharingViolation};
  return Open(name, GENERIC_WRITE, CREATE_ALWAYS);
}

OpenResult OpenConsole() {
  return Open("CONOUT$", GENERIC_WRITE, CREATE_ALWAYS);
}

FileKind KindOf(Handle handle) {
  switch (::GetFileType(ToHandle(handle)) & ~static_cast<DWORD>(FILE_TYPE_REMOTE)) {
    case FILE_TYPE_CHAR:
      return FileKind::Char;
    case FILE_TYPE_DISK:
      return FileKind::Disk;
    case FILE_TYPE_PIPE:
      return FileKind::Pipe;
    default:
      return FileKind::Unknown;
  }
}

std::int32_t Read(Handle handle, char* buffer, std::uint32_t capacity, std::uint32_t& count) {
  DWORD done = 0;
  BOOL ok = ::ReadFile(ToHandle(handle), buffer, capacity, &done, nullptr);
  count = ok ? done : 0;
  return ok ? 0 : LastCode();
}

std::int32_t Write(Handle handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
    DWORD done = 0;
    if (!::WriteFile(ToHandle(handle), data, chunk, &done, nullptr)) return LastCode();
    // A write that reports success but makes no progress would never end.
    if (done == 0) return kIoWriteFault;
    data += done;
    size -= done;
  }
  return 0;
}

// The allocation size of a disk file: NTFS keeps allocated clusters past
// the end until the handle is closed or the allocation is set again.
bool ReserveAhead(Handle handle, std::uint64_t size) {
  HANDLE h = ToHandle(handle);
  LARGE_INTEGER offset{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::SetFilePointerEx(h, offset, &offset, FILE_CURRENT) ||
      size > static_cast<std::uint64_t>(INT64_MAX - offset.QuadPart)) {
    return false;
  }
  FILE_ALLOCATION_INFO info{};
  info.AllocationSize.QuadPart = offset.QuadPart + static_cast<LONGLONG>(size);
  return ::SetFileInformationByHandle(h, FileAllocationInfo, &info, sizeof info) != 0;
}

void ReleaseReserved(Handle handle) {
  HANDLE h = ToHandle(handle);
  FILE_ALLOCATION_INFO info{};
  if (::GetFileType(h) == FILE_TYPE_DISK && ::GetFileSizeEx(h, &info.AllocationSize)) {
    ::SetFileInformationByHandle(h, FileAllocationInfo, &info, sizeof info);
  }
}

std::int32_t Close(Handle handle) {
  return ::CloseHandle(ToHandle(handle)) ? 0 : LastCode();
}

Handle StandardError() {
  return FromHandle(::GetStdHandle(STD_ERROR_HANDLE));
}

Handle StandardOutput() {
  return FromHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
}

Handle StandardInput() {
  return FromHandle(::GetStdHandle(STD_INPUT_HANDLE));
}

TextForm TerminalTextForm(Handle) {
  return TextForm::Cp932;
}

bool ReadWholeFile(const char* name, TakeBytes take, void* reader) {
  if (std::strlen(name) > kMaxNameLength) return false;
  ScopedHandle file(CreateShared(name, GENERIC_READ, OPEN_EXISTING));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  // The identity comes from the handle that reads the file, never from its
  // name opened again (another file could take the name in between).
  FileId id{};
  if (!IdentityOfOpened(file.get(), id)) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
  // Read to the size known at the open, or until the reader has enough. A
  // short read is a failure.
  char chunk[65536];
  std::size_t left = static_cast<std::size_t>(size.QuadPart);
  while (left > 0) {
    DWORD want = static_cast<DWORD>(std::min(left, sizeof chunk));
    DWORD done = 0;
    if (!::ReadFile(file.get(), chunk, want, &done, nullptr) || done == 0) return false;
    if (!take(reader, std::string_view(chunk, done))) break;
    left -= done;
  }
  protected_files.push_back(id);
  return true;
}

void ForgetRunInputs() {
  protected_files.clear();
  named_files.clear();
}

void ProtectNamedFile(const char* name) {
  if (*name != '\0' && std::strlen(name) <= kMaxNameLength) named_files.push_back({name});
}

void ProtectOpenedFile(Handle handle) {
  NamedFile file{.LookedUp = true};
  file.Found = IdentityOfHandle(ToHandle(handle), file.Id);
  if (file.Found) named_files.push_back(std::move(file));
}

bool IsRunFile(Handle handle) {
  FileId id{};
  if ((protected_files.empty() && named_files.empty()) || !IdentityOfHandle(ToHandle(handle), id)) {
    return false;
  }
  if (AnyIsSameFile(protected_files, id)) return true;
  for (NamedFile& named : named_files) {
    if (!named.LookedUp) {
      // Each name is opened once, without any access right: no share mode
      // refuses that, and it neither reads nor writes the file.
      named.Found = IdentityOf(named.Name.c_str(), named.Id);
      named.LookedUp = true;
    }
    if (named.Found && SameFile(named.Id, id)) return true;
  }
  return false;
}

bool PassesExistenceTest(const char* name) {
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(name, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  // The MS-DOS date covers the years 1980 to 2107; a file dated outside it
  // counts as missing. The year is checked as well: not every implementation
  // of the conversion refuses the years after 2107 (Wine wraps them).
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  SYSTEMTIME when;
  return ::FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) &&
         ::FileTimeToDosDateTime(&local, &date, &time) && ::FileTimeToSystemTime(&local, &when) &&
         when.wYear <= 2107;
}

bool RawCommandLine(std::string& command_line) {
  const char* line = ::GetCommandLineA();
  command_line.assign(line ? line : "");
  return true;
}

void PrepareProcess() {
  // No dialog box may stop an unattended run (a drive without a medium).
  ::SetErrorMode(SEM_FAILCRITICALERRORS);
  char path[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  std::size_t start = FileNameStart(path, length);
  std::memcpy(module_name, path + start, length - start);
  module_name[length - start] = '\0';
}

std::string_view ModuleName() {
  return module_name;
}

std::uintptr_t CodeOffset(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address) -
         reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
}

void* ResizeBlock(void* block, std::size_t, std::size_t new_size) {
  return std::realloc(block, new_size);
}

void FreeBlock(void* block, std::size_t) {
  std::free(block);
}

unsigned UsableCpuCount() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask)) return 1;
  unsigned count = 0;
  for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
  return count > 0 ? count : 1;
}

namespace {

// Converters need little stack: no recursion, buffers on the heap.
constexpr SIZE_T kThreadStack = 256 * 1024;

DWORD WINAPI RunThread(LPVOID record) {
  Thread& thread = *static_cast<Thread*>(record);
  thread.Body(thread.Argument);
  return 0;
}

}  // namespace

bool StartThread(Thread& thread, ThreadBody body, void* argument) {
  thread.Body = body;
  thread.Argument = argument;
  HANDLE handle = ::CreateThread(nullptr, kThreadStack, RunThread, &thread,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == nullptr) return false;
  thread.Native = handle;
  return true;
}

void JoinThread(Thread& thread) {
  ::WaitForSingleObject(static_cast<HANDLE>(thread.Native), INFINITE);
  ::CloseHandle(static_cast<HANDLE>(thread.Native));
}

void ExitProcess(int status) {
  // The runtime's exit runs the final clean-up (static destructors, atexit)
  // and then ends the process through the system's ExitProcess.
  std::exit(status);
}

}  // namespace tabulon::platform
