// The thin operating-system layer. Everything above it is portable: it names
// files by byte strings, gets numeric I/O codes back (the codes of the message
// table: 2 file not found, 3 path not found, 5 access denied, 32 sharing
// conflict, ...), and never sees errno or a Win32 error directly.
//
// One implementation per platform sits beside this header (posix/, win32/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/messages.h"

namespace tabulon::platform {

// An opened object: a file descriptor on POSIX, a HANDLE on Windows.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// Kind of an opened object, as far as the line files care.
enum class FileKind { Unknown, Disk, Char, Pipe };

struct OpenResult {
  Handle OsHandle = kInvalidHandle;
  std::int32_t Code = 0;  // 0 on success, an I/O code otherwise
};

// Opens an existing file for reading. Others may go on reading it, but no one
// may write it while it is open (a sharing conflict gives code 32). The file
// is one of the run's inputs while it is open: OpenForWriting refuses it.
OpenResult OpenForReading(const char* name);

// Creates the file, or empties an existing one, for writing. Fails with
// code 32 when the file is open elsewhere (for reading or writing) or is one
// of the run's inputs (same identity, whatever the name), before anything is
// emptied.
OpenResult OpenForWriting(const char* name);

// Opens the message channel device. The handle stands for the console; the
// caller replaces it by StandardError() and puts it back before closing it.
OpenResult OpenConsole();

FileKind KindOf(Handle handle);

// The form in which the program's own texts reach a reader of `handle`: UTF-8
// when the handle is a terminal and the locale's character set is UTF-8 (the
// first of LC_ALL, LC_CTYPE and LANG that is set and not empty names it, see
// NamesUtf8); code page 932 otherwise. Always code page 932 on Windows, whose
// console shows code page 932.
TextForm TerminalTextForm(Handle handle);

// Reads up to `capacity` bytes; `count` receives the number read (0 at the
// end of the data). Returns 0 or an I/O code (109 for a broken pipe).
std::int32_t Read(Handle handle, char* buffer, std::uint32_t capacity, std::uint32_t& count);

// Writes all `size` bytes, completing partial writes. Returns 0 or an I/O code.
std::int32_t Write(Handle handle, const char* data, std::size_t size);

// Sets aside the disk space of the next `size` bytes from the current
// offset of a regular file, without changing the file's size, so that the
// writes there find it allocated (on ext4, bench/run.sh reserve: a copy in
// 64 KiB writes takes about a seventh less time). Only a hint, given where it
// pays (POSIX: ext4; Windows: any disk file): false where the file is no
// regular file or its file system is another, cannot or has no room, and
// the writes then allocate as ever. A run that is killed
// leaves the space set aside past the file's end until the file is emptied
// or removed; ReleaseReserved gives it back.
bool ReserveAhead(Handle handle, std::uint64_t size);

// Gives back the space set aside past the end of a regular file (its size
// and bytes unchanged).
void ReleaseReserved(Handle handle);

std::int32_t Close(Handle handle);

Handle StandardError();
Handle StandardOutput();
Handle StandardInput();

// Receives the bytes of a whole read piece by piece, in order; returns false
// to end the read there (nothing after that piece is read).
using TakeBytes = bool (*)(void* reader, std::string_view bytes);

// Reads a whole file with read sharing (as OpenForReading), handing its bytes
// to `take` up to its end or until `take` ends the read. The file stays one
// of the run's inputs until the process ends (OpenForWriting refuses it by
// identity, links and other spellings included). False when it cannot be
// opened, locked or read completely.
bool ReadWholeFile(const char* name, TakeBytes take, void* reader);

// Records the file that `name` leads to among the run's own files: an input
// not opened yet, or the output. Called once per name as soon as the names
// are known, before the run writes anything. POSIX records the file's
// identity now (`stat`, never an open). Windows records the name and looks
// its identity up when IsRunFile is first asked, opening it then without any
// access right (which no share mode refuses): so a name that leads to no file
// yet still counts once the run has created it.
void ProtectNamedFile(const char* name);

// Records the file that an opened handle reads or writes (standard input
// read as the text file) among the run's own files, as ProtectNamedFile.
void ProtectOpenedFile(Handle handle);

// True when the opened object is a regular file and one of the run's own
// files (same identity): an input as it was opened or read whole, or a file
// recorded by ProtectNamedFile. Never allocates on POSIX.
bool IsRunFile(Handle handle);

// The one write of reports, messages and the check's output: writes `text`
// and then `more` to `handle`, unless it is one of the run's own files
// (IsRunFile, asked once), when both are dropped as if they had been
// written. Both are written even when the first write fails; returns 0 or
// the I/O code of the first write that failed. Allocates nothing of its own.
std::int32_t WriteOutsideRunFiles(Handle handle, std::string_view text, std::string_view more = {});

// Forgets the run's files: the inputs recorded by ReadWholeFile (closing what
// it kept open) and the files recorded by ProtectNamedFile.
// A run never calls it (its files stay recorded until the process ends);
// a test program that reads many files whole in one process does, between
// tests, so that a file system that reuses a deleted file's identity (Wine
// maps inode numbers without a generation) cannot make a later test's new
// file look like one of them.
void ForgetRunInputs();

// Names longer than this many bytes are refused at open (code 3).
inline constexpr std::size_t kMaxNameLength = 259;

// The existence test of the command line: the name (or, when its last
// component holds '*' or '?', its first match in byte order) names an entry
// that is not a directory and whose modification time in local time lies in
// the years 1980 to 2107.
bool PassesExistenceTest(const char* name);

// The process's whole command line as one byte string, where the platform
// keeps it that way (Windows). False where the arguments arrive already split
// (POSIX: the caller uses argv).
bool RawCommandLine(std::string& command_line);

// Process set-up: no signal may end the run in the middle of a write (a pipe
// whose reader went away, a file-size limit): such writes fail with a code.
void PrepareProcess();

// The executable's file name without its directory, for the failure report.
// Valid after PrepareProcess; never allocates.
std::string_view ModuleName();

// The offset of a code address from the executable's load address.
std::uintptr_t CodeOffset(const void* address);

// Where in the program a failure arose that was noticed in a library
// (operator new, std::terminate): walking the stack outwards from the
// caller, the first frame of the program's code after the library's frames.
// In a static executable the library lies inside the program's code, so
// that rule finds nothing; `handler`, the start of the new-handler when the
// walk is for exhausted memory (0 otherwise), then gives the frame that
// called operator new (the code that asked for memory, or the library
// routine that asked for it on the program's behalf). Null when neither is
// found. Allocates nothing.
const void* FailureInProgram(std::uintptr_t handler = 0) noexcept;

// Memory for one block that grows (a line gathered across refills). Where the
// system can, the block grows in place and is backed by large pages, so that
// a block of hundreds of MB is neither copied on growth nor faulted in page
// by page. ResizeBlock(nullptr, 0, n) makes a block; a null result means
// memory ran out, and the old block then stays as it was.
void* ResizeBlock(void* block, std::size_t old_size, std::size_t new_size);
void FreeBlock(void* block, std::size_t size);

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned UsableCpuCount();

// A thread of the program. StartThread runs body(argument) on a new thread
// with a small stack and returns false when the system gives no thread; the
// record must stay in place until JoinThread has waited for the thread.
// JoinThread gives the stack back to the system: no memory of a thread is
// kept once it is joined.
using ThreadBody = void (*)(void* argument);
struct Thread {
  void* Native = nullptr;
  ThreadBody Body = nullptr;
  void* Argument = nullptr;
  void* Stack = nullptr;  // where the program made the stack itself
};
bool StartThread(Thread& thread, ThreadBody body, void* argument);
void JoinThread(Thread& thread);

// Ends the process with the status, running the program's final clean-up.
[[noreturn]] void ExitProcess(int status);

}  // namespace tabulon::platform
