// LineFile: a buffered, line-oriented file record with its own buffer.
//
// Reading cuts the data into lines: LF or CR LF ends a line, a CR followed by
// anything else is dropped, a Ctrl-Z byte ends the data (and is never
// consumed, so the end stays), and a last line without a line end still
// counts. Writing appends bytes and writes the buffer out the moment it fills.
//
// Operations never raise. A failure leaves its code in PendingIoCode; callers
// run CheckIo after each step.
//
// The record's state is its own: only the operations declared here (and in
// line_pieces.h and line_blocks.h) change it. They keep these invariants:
//
// - State is StateClosed, StateReading or StateWriting once the record is
//   bound (BindName and its kin); any other value means never bound, and
//   every operation then fails with a code.
// - The buffer (OwnBuffer, or a block of memory for the line files of
//   line_blocks.h) holds Capacity usable bytes, 1 to kFileCapacity for the
//   own buffer.
// - Reading: Position <= FillCount <= Capacity. The bytes [Position,
//   FillCount) are the data not yet read; no byte at or past FillCount is
//   ever read (a refill leaves them as they were). A refill or a read that
//   found the data's end leaves Position at 0; an exhausted file leaves one
//   Ctrl-Z in the buffer, so the system is never asked again after it
//   reported the end.
// - Writing: the bytes [0, Position) wait to be written out, and Position <
//   Capacity after every operation: a buffer that fills is written out at
//   once (and emptied even when that write-out fails; only a block writer,
//   which never writes out, stays full). DroppingText: a write-out failed
//   during the current text, whose rest is dropped until BeginText.
// - FlushesEachLine is true exactly when FlushAction is not NoFlush.
// - The actions: TransferAction refills (reading) or writes out (writing),
//   FlushAction runs after each line end, CloseAction closes the handle.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "textio/line_stop.h"
#include "textio/spill_buffer.h"

namespace tabulon {

enum LineFileState : std::uint16_t {
  StateClosed = 0xD7B0,
  StateReading = 0xD7B1,
  StateWriting = 0xD7B2,
};

// Buffer capacity of the text and output files, chosen by measurement: large
// enough that system calls vanish from the profile, small enough to stay in
// the L2 cache alongside the other record's buffer.
inline constexpr std::uint32_t kFileCapacity = 64 * 1024;
// The message channel writes each line out at its line end anyway.
inline constexpr std::uint32_t kChannelCapacity = 128;

class LineFile;
using LineFileAction = std::int32_t (*)(LineFile&);
struct LastPiece;

// Clears the record and binds it to `name`; the record is closed afterwards.
// `capacity` (1 to kFileCapacity) is the usable part of OwnBuffer.
void BindName(LineFile& file, std::string_view name, std::uint32_t capacity = kFileCapacity);

// Binds the record to the process's standard input, for reading; closing the
// record leaves the standard input open.
void BindStandardInput(LineFile& file, std::uint32_t capacity = kFileCapacity);

// Binds the record to the console device (the message channel). What it
// writes out goes through platform::WriteOutsideRunFiles: never into one of
// the run's own files.
void BindConsole(LineFile& file, std::uint32_t capacity = kChannelCapacity);

class LineFile {
  // The operations of the line files, and the actions behind them.
  friend struct LineFileActions;
  friend struct BlockActions;
  friend void BindName(LineFile&, std::string_view, std::uint32_t);
  friend void BindStandardInput(LineFile&, std::uint32_t);
  friend void BindConsole(LineFile&, std::uint32_t);
  friend int TakeDataByte(LineFile&);
  friend bool AtEndOfData(LineFile&);
  friend bool AtEndOfDataSlow(LineFile&);
  friend std::uint64_t BytesAfterEndOfData(LineFile&);
  friend bool TakeBufferedLine(LineFile&, std::string_view&);
  friend std::string_view BufferedBytes(const LineFile&);
  friend void TakeBufferedBytes(LineFile&, std::size_t);
  template <class Piece, class DroppedCr>
  friend LastPiece ReadLinePieces(LineFile&, Piece&&, DroppedCr&&);
  friend std::size_t ReadableAfter(const LineFile&, std::string_view);
  friend void BeginText(LineFile&);
  friend void AppendText(LineFile&, const char*, std::size_t);
  friend void AppendTextSlow(LineFile&, const char*, std::size_t);
  friend char* WriteRoom(LineFile&, std::size_t);
  friend void CommitWritten(LineFile&, const char*);
  friend void SetFlushAction(LineFile&, LineFileAction);
  friend void WriteLineEnd(LineFile&);
  friend void WriteLineEndSlow(LineFile&);
  friend void CloseLineFile(LineFile&);
  friend std::uint16_t StateOf(const LineFile&);
  friend platform::Handle HandleOf(const LineFile&);
  friend platform::Handle ReplaceHandle(LineFile&, platform::Handle);
  friend const char* NameOf(const LineFile&);
  friend std::uint32_t CapacityOf(const LineFile&);
  friend bool FlushesAtLineEnds(const LineFile&);
  friend std::uint32_t WaitingBytes(const LineFile&);
  friend char* DeviceBuffer(LineFile&);
  friend std::uint32_t FilledBytes(const LineFile&);
  friend void SetFilled(LineFile&, std::uint32_t);
  friend std::uint32_t TakeWaiting(LineFile&);
  friend void MarkClosed(LineFile&);
  friend void OpenOnDevice(LineFile&, LineFileState, LineFileAction, LineFileAction);
  friend LineFileAction ReplaceTransferAction(LineFile&, LineFileAction);
  friend void BindBlockReader(LineFile&, char*, std::size_t);
  friend void BindBlockWriter(LineFile&, char*, std::size_t);
  friend std::size_t ReadPiece(LineFile&, char*);
  friend void BeginLine(LineFile&, const char*, std::size_t, SpillBuffer&, std::size_t);
  friend void AppendLines(LineFile&, const char*, std::size_t);

  platform::Handle OsHandle = platform::kInvalidHandle;
  std::uint16_t State = 0;  // none of the three states: never bound
  std::uint32_t Capacity = 0;
  std::uint32_t Position = 0;   // reading: next unread byte; writing: bytes waiting
  std::uint32_t FillCount = 0;  // reading: valid bytes in the buffer
  char* BufferRef = nullptr;
  LineFileAction OpenAction = nullptr;
  LineFileAction TransferAction = nullptr;  // refill or write-out
  LineFileAction FlushAction = nullptr;     // after each line end
  LineFileAction CloseAction = nullptr;
  bool DroppingText = false;     // a write-out failed: the rest of the current text is dropped
  bool FlushesEachLine = false;  // set at open: FlushAction does something after a line end
  bool NameTooLong = false;      // the bound name did not fit FileName: opening gives code 3
  // A disk file opened by name for writing sets its disk space aside ahead
  // of its write-outs (LineFileActions::ReserveFor); once it has, closing
  // gives back what is left past its end.
  bool ReservesSpace = false;
  bool HoldsReserve = false;
  std::uint64_t WrittenOut = 0;    // bytes written out since the open, while it reserves
  std::uint64_t ReservedRoom = 0;  // bytes set aside and not yet written
  char FileName[platform::kMaxNameLength + 1] = {};
  char
      OwnBuffer[kFileCapacity];  // left uninitialised: only bytes below FillCount/Position are read
};

std::int32_t OpenForReading(LineFile& file);
std::int32_t OpenForWriting(LineFile& file);

// --- what the record is -----------------------------------------------------

// StateClosed, StateReading, StateWriting, or another value: never bound.
inline std::uint16_t StateOf(const LineFile& file) {
  return file.State;
}
// The opened handle (kInvalidHandle before the first open).
inline platform::Handle HandleOf(const LineFile& file) {
  return file.OsHandle;
}
// Puts `handle` in the place of the opened one, which it returns; the
// actions use it from then on (the message channel writes to standard
// error through the console's record, and puts the console back to close).
inline platform::Handle ReplaceHandle(LineFile& file, platform::Handle handle) {
  const platform::Handle old = file.OsHandle;
  file.OsHandle = handle;
  return old;
}
// The bound name; empty when it was too long to keep.
inline const char* NameOf(const LineFile& file) {
  return file.FileName;
}
// The usable bytes of the buffer: a refill asks for this many.
inline std::uint32_t CapacityOf(const LineFile& file) {
  return file.Capacity;
}
// True when every line end runs the flush action (a character device).
inline bool FlushesAtLineEnds(const LineFile& file) {
  return file.FlushesEachLine;
}
// Writing: the bytes waiting in the buffer to be written out.
inline std::uint32_t WaitingBytes(const LineFile& file) {
  return file.Position;
}

// --- reading ----------------------------------------------------------------

// True when the data has ended before the next line.
bool AtEndOfDataSlow(LineFile& file);
inline bool AtEndOfData(LineFile& file) {
  if (file.State == StateReading && file.Position < file.FillCount) {
    return file.BufferRef[file.Position] == 0x1A;  // a Ctrl-Z ends the data
  }
  return AtEndOfDataSlow(file);
}

// The next line without its line end. The view points into the record's
// buffer, or into `spill` when the line had to be gathered across refills or
// around a dropped CR; it stays valid until the next operation on the record.
// Only the first `kept_limit` bytes of the line are delivered (the converter keeps
// no more than its fields reach); the whole line is consumed all the same.
std::string_view ReadTextLineSlow(LineFile& file, SpillBuffer& spill, std::size_t kept_limit);

// The usual case of reading a line, inline: when the next line and its LF or
// CR LF lie in the buffer, takes it into `line` (a view into the buffer) and
// returns true; otherwise changes nothing and returns false.
inline bool TakeBufferedLine(LineFile& file, std::string_view& line) {
  if (file.State == StateReading && file.Position < file.FillCount) {
    const char* start = file.BufferRef + file.Position;
    const char* end = file.BufferRef + file.FillCount;
    const char* stop = FindLineStop(start, end);
    // A CR as the last byte of the buffer waits for the next refill.
    if (const char* next = AfterLineEnd(stop, end)) {
      file.Position = static_cast<std::uint32_t>(next - file.BufferRef);
      line = {start, static_cast<std::size_t>(stop - start)};
      return true;
    }
  }
  return false;
}

// The bytes of the read buffer not read yet (none when the record is not
// reading), and taking the first `count` of them as read: for a reader that
// takes whole lines out of the buffer by the rules of TakeBufferedLine.
inline std::string_view BufferedBytes(const LineFile& file) {
  if (file.State != StateReading || file.Position >= file.FillCount) return {};
  return {file.BufferRef + file.Position, file.FillCount - file.Position};
}
inline void TakeBufferedBytes(LineFile& file, std::size_t count) {
  file.Position += static_cast<std::uint32_t>(count);
}

inline std::string_view ReadTextLine(LineFile& file, SpillBuffer& spill,
                                     std::size_t kept_limit = static_cast<std::size_t>(-1)) {
  std::string_view line;
  if (TakeBufferedLine(file, line))
    return {line.data(), line.size() < kept_limit ? line.size() : kept_limit};
  return ReadTextLineSlow(file, spill, kept_limit);
}
// Reads on a line whose first bytes, as the rules keep them, `spill` holds
// already (the first `kept_limit` of them at most): the rest of the line is
// gathered after them, and the view is the spill's.
std::string_view ReadBegunLine(LineFile& file, SpillBuffer& spill, std::size_t kept_limit);

// The bytes of the read buffer after `line` (a view ReadTextLine gave), which
// may be read until the next operation on the record; none when the line
// was gathered elsewhere.
inline std::size_t ReadableAfter(const LineFile& file, std::string_view line) {
  const auto begin = reinterpret_cast<std::uintptr_t>(file.BufferRef);
  const auto end = begin + file.FillCount;
  const auto line_end = reinterpret_cast<std::uintptr_t>(line.data()) + line.size();
  return line_end >= begin && line_end <= end ? end - line_end : 0;
}

// --- writing ----------------------------------------------------------------

// Appends bytes. A write-out that fails drops the rest of the text.
void WriteText(LineFile& file, std::string_view text);

// Building one text from several pieces, with the same effect as a single
// WriteText of their concatenation (the converter writes field by field
// straight into the buffer): BeginText, then AppendText for each piece.
inline void BeginText(LineFile& file) {
  file.DroppingText = false;
}
void AppendTextSlow(LineFile& file, const char* data, std::size_t size);
inline void AppendText(LineFile& file, const char* data, std::size_t size) {
  if (size < file.Capacity - file.Position && file.State == StateWriting && !file.DroppingText) {
    // An empty view may carry a null pointer, which memcpy must not get even for 0 bytes.
    if (size != 0) std::memcpy(file.BufferRef + file.Position, data, size);
    file.Position += static_cast<std::uint32_t>(size);
    return;
  }
  AppendTextSlow(file, data, size);
}
inline void AppendText(LineFile& file, std::string_view text) {
  AppendText(file, text.data(), text.size());
}
inline void AppendByte(LineFile& file, char byte) {
  AppendText(file, &byte, 1);
}

// Direct writing into the buffer, for a writer that knows the most bytes its
// text can take: WriteRoom gives where `size` bytes (more than the text will
// need) may be written, or null when the buffer lacks that room or the text
// is not being written; CommitWritten then takes the bytes up to `end` as
// appended. Together they have the effect of AppendText.
inline char* WriteRoom(LineFile& file, std::size_t size) {
  if (file.State != StateWriting || file.DroppingText || size >= file.Capacity - file.Position) {
    return nullptr;
  }
  return file.BufferRef + file.Position;
}
inline void CommitWritten(LineFile& file, const char* end) {
  file.Position = static_cast<std::uint32_t>(end - file.BufferRef);
}

// The flush action of a file that is not a character device: does nothing.
std::int32_t NoFlush(LineFile& file);

// Sets the flush action, and whether the line end must run it.
inline void SetFlushAction(LineFile& file, LineFileAction action) {
  file.FlushAction = action;
  file.FlushesEachLine = action != NoFlush;
}

// Appends CR LF and runs the flush action (write-out for a character device).
void WriteLineEndSlow(LineFile& file);
inline void WriteLineEnd(LineFile& file) {
  // The usual case in two stores: room in the buffer, nothing to flush.
  if (file.State == StateWriting && !file.FlushesEachLine && file.Capacity - file.Position > 2) {
    file.DroppingText = false;
    file.BufferRef[file.Position] = '\r';
    file.BufferRef[file.Position + 1] = '\n';
    file.Position += 2;
    return;
  }
  WriteLineEndSlow(file);
}

// Writes out what waits in the buffer and closes the handle.
void CloseLineFile(LineFile& file);

// Closes `file` when the scope is left by an error. The normal path calls
// Close(), which closes and checks; while an error unwinds, a failed close
// becomes the error that replaces it (CheckIoWhileUnwinding).
class CloseOnUnwind {
 public:
  explicit CloseOnUnwind(LineFile& file) : File(&file) {}
  CloseOnUnwind(const CloseOnUnwind&) = delete;
  CloseOnUnwind& operator=(const CloseOnUnwind&) = delete;
  ~CloseOnUnwind();
  void Close();

 private:
  LineFile* File;
};

// --- the device behind a record ---------------------------------------------
//
// What a transfer or close action works with, for a device that stands in for
// the system (the tests' memory device) and for actions that wrap another
// (a transfer made to fail). A refill puts up to CapacityOf bytes at
// DeviceBuffer and reports them with SetFilled; a write-out writes the
// WaitingBytes at DeviceBuffer and takes them with TakeWaiting; a close
// action ends with MarkClosed.

inline char* DeviceBuffer(LineFile& file) {
  return file.BufferRef;
}
// Reading: the valid bytes in the buffer.
inline std::uint32_t FilledBytes(const LineFile& file) {
  return file.FillCount;
}
// Reading: the buffer now holds `count` bytes of data from its start, none
// of them read (0: the data has ended, or the refill failed).
inline void SetFilled(LineFile& file, std::uint32_t count) {
  file.Position = 0;
  file.FillCount = count;
}
// Writing: the bytes waiting are gone (written out or dropped); returns
// their number.
inline std::uint32_t TakeWaiting(LineFile& file) {
  const std::uint32_t count = file.Position;
  file.Position = 0;
  return count;
}
inline void MarkClosed(LineFile& file) {
  file.State = StateClosed;
}
// Opens a bound record on a device: reading or writing (`state`), with the
// device's transfer and close actions and no flush after a line end.
void OpenOnDevice(LineFile& file, LineFileState state, LineFileAction transfer,
                  LineFileAction close);
// Puts `action` in the place of the transfer action, which it returns.
LineFileAction ReplaceTransferAction(LineFile& file, LineFileAction action);

}  // namespace tabulon
