#include "textio/line_file.h"

#include <algorithm>

#include "textio/io_codes.h"
#include "textio/line_pieces.h"

namespace tabulon {
namespace {

constexpr int kEndMark = -1;

// An output reserves its disk space in steps once this much is written: a
// small one never takes the calls, and a killed run leaves at most one step
// set aside past the end.
constexpr std::uint64_t kReserveAfter = std::uint64_t{1} << 20;
constexpr std::uint64_t kReserveStep = std::uint64_t{8} << 20;

}  // namespace

// --- actions -------------------------------------------------------------

// The actions and the opening steps, with the record's state in reach.
struct LineFileActions {
  static std::int32_t Refill(LineFile& file);
  static std::int32_t WriteOut(LineFile& file);
  static void ReserveFor(LineFile& file, std::uint32_t bytes);
  static void ClearReserve(LineFile& file);
  static std::int32_t WriteOutMessages(LineFile& file);
  static std::int32_t CloseHandleAction(LineFile& file);
  static std::int32_t OpenWith(LineFile& file, platform::OpenResult (*opener)(const char*));
  static std::int32_t FileOpener(LineFile& file);
  static std::int32_t ConsoleOpener(LineFile& file);
  static std::int32_t LeaveOpen(LineFile& file);
  static std::int32_t StandardInputOpener(LineFile& file);
  static bool IsBound(const LineFile& file);
  static std::int32_t Open(LineFile& file, LineFileState wanted);
  static std::string_view ReadLineInto(LineFile& file, SpillBuffer& spill, std::size_t kept_limit,
                                       bool spilled);
};

std::int32_t LineFileActions::Refill(LineFile& file) {
  file.Position = 0;
  file.FillCount = 0;
  std::uint32_t count = 0;
  std::int32_t code = platform::Read(file.OsHandle, file.BufferRef, file.Capacity, count);
  if (code == kIoBrokenPipe) return 0;  // the writer of a pipe has gone: the data has ended
  if (code != 0) return code;
  file.FillCount = count;
  return 0;
}

void LineFileActions::ClearReserve(LineFile& file) {
  file.ReservesSpace = false;
  file.HoldsReserve = false;
  file.WrittenOut = 0;
  file.ReservedRoom = 0;
}

// Sets the next step of the file's space aside when the write-out of
// `bytes` would pass what is set aside; a file that cannot reserve stops
// trying.
void LineFileActions::ReserveFor(LineFile& file, std::uint32_t bytes) {
  if (file.ReservedRoom < bytes && file.WrittenOut >= kReserveAfter) {
    if (!platform::ReserveAhead(file.OsHandle, kReserveStep)) {
      file.ReservesSpace = false;
      return;
    }
    file.HoldsReserve = true;
    file.ReservedRoom = kReserveStep;
  }
  file.ReservedRoom -= std::min<std::uint64_t>(file.ReservedRoom, bytes);
  file.WrittenOut += bytes;
}

std::int32_t LineFileActions::WriteOut(LineFile& file) {
  if (file.Position == 0) return 0;
  if (file.ReservesSpace) ReserveFor(file, file.Position);
  std::int32_t code = platform::Write(file.OsHandle, file.BufferRef, file.Position);
  file.Position = 0;  // a block whose write failed is dropped, not retried
  return code;
}

// The message channel's write-out: what would go into one of the run's own
// files is dropped (platform::WriteOutsideRunFiles).
std::int32_t LineFileActions::WriteOutMessages(LineFile& file) {
  if (file.Position == 0) return 0;
  std::int32_t code = platform::WriteOutsideRunFiles(
      file.OsHandle, std::string_view(file.BufferRef, file.Position));
  file.Position = 0;
  return code;
}

std::int32_t LineFileActions::CloseHandleAction(LineFile& file) {
  file.State = StateClosed;
  if (file.HoldsReserve) platform::ReleaseReserved(file.OsHandle);
  return platform::Close(file.OsHandle);
}

// Sets up the actions for the wanted state and opens with `opener`.
std::int32_t LineFileActions::OpenWith(LineFile& file,
                                       platform::OpenResult (*opener)(const char*)) {
  file.Position = 0;
  file.FillCount = 0;
  ClearReserve(file);
  bool reading = file.State == StateReading;
  file.TransferAction = reading ? Refill : WriteOut;
  file.CloseAction = CloseHandleAction;
  SetFlushAction(file, NoFlush);
  if (file.NameTooLong) {
    file.State = StateClosed;
    return kIoPathNotFound;
  }
  platform::OpenResult opened = opener(file.FileName);
  if (opened.Code != 0) {
    file.State = StateClosed;
    return opened.Code;
  }
  file.OsHandle = opened.OsHandle;
  if (reading) return 0;
  switch (platform::KindOf(file.OsHandle)) {
    case platform::FileKind::Unknown:
      platform::Close(file.OsHandle);
      file.State = StateClosed;
      return kCodeNotWriting;
    case platform::FileKind::Char:
      SetFlushAction(file, WriteOut);
      break;
    case platform::FileKind::Disk:
      file.ReservesSpace = true;
      break;
    default:
      break;
  }
  return 0;
}

std::int32_t LineFileActions::FileOpener(LineFile& file) {
  return OpenWith(file,
                  file.State == StateReading ? platform::OpenForReading : platform::OpenForWriting);
}

std::int32_t LineFileActions::ConsoleOpener(LineFile& file) {
  if (file.State == StateReading) return OpenWith(file, platform::OpenForReading);
  std::int32_t code = OpenWith(file, [](const char*) { return platform::OpenConsole(); });
  file.TransferAction = WriteOutMessages;
  if (file.FlushesEachLine) SetFlushAction(file, WriteOutMessages);
  return code;
}

std::int32_t LineFileActions::LeaveOpen(LineFile& file) {
  file.State = StateClosed;
  return 0;
}

std::int32_t LineFileActions::StandardInputOpener(LineFile& file) {
  if (file.State != StateReading) return kCodeNotWriting;  // standard input is only read
  std::int32_t code = OpenWith(file, [](const char*) {
    return platform::OpenResult{platform::StandardInput(), 0};
  });
  file.CloseAction = LeaveOpen;
  return code;
}

bool LineFileActions::IsBound(const LineFile& file) {
  return file.State == StateClosed || file.State == StateReading || file.State == StateWriting;
}

std::int32_t LineFileActions::Open(LineFile& file, LineFileState wanted) {
  if (!IsBound(file)) {
    SetPendingIoCode(kCodeNeverBound);
    return kCodeNeverBound;
  }
  if (file.State != StateClosed) CloseLineFile(file);
  file.State = wanted;
  std::int32_t code = file.OpenAction(file);
  SetPendingIoCode(code);
  return code;
}

// Reads the rest of a line, gathering it after what `spill` holds; `spilled`
// when the line has begun there.
std::string_view LineFileActions::ReadLineInto(LineFile& file, SpillBuffer& spill,
                                               std::size_t kept_limit, bool spilled) {
  if (file.State != StateReading) {
    SetPendingIoCode(kCodeNotReading);
    return {};
  }
  // Only the first `kept_limit` bytes of the line are gathered; the rest is read
  // and passed over, so a huge line costs no memory beyond what is kept.
  auto gather = [&](const char* start, std::size_t size) {
    spill.append(start, std::min(size, kept_limit - spill.size()));
    spilled = true;
  };
  LastPiece last = ReadLinePieces(file, gather, [] {});
  if (!spilled) return {last.Data, std::min(last.Size, kept_limit)};
  gather(last.Data, last.Size);
  return spill;
}

int TakeDataByte(LineFile& file) {
  if (file.State != StateReading) {
    SetPendingIoCode(kCodeNotReading);
    return kEndMark;
  }
  for (;;) {
    if (file.Position < file.FillCount) {
      char b = file.BufferRef[file.Position];
      if (b == kEndOfData) return kEndMark;
      ++file.Position;
      return static_cast<unsigned char>(b);
    }
    std::int32_t code = file.TransferAction(file);
    if (code != 0) {
      SetPendingIoCode(code);
      return kEndMark;
    }
    if (file.FillCount == 0) {
      file.BufferRef[0] = kEndOfData;
      file.FillCount = 1;
      return kEndMark;
    }
  }
}

std::uint64_t BytesAfterEndOfData(LineFile& file) {
  if (file.Position >= file.FillCount) return 0;
  std::uint64_t after = file.FillCount - file.Position - 1;
  for (;;) {
    if (std::int32_t code = file.TransferAction(file)) {
      SetPendingIoCode(code);
      return after;
    }
    if (file.FillCount == 0) return after;
    after += file.FillCount;
  }
}

std::int32_t NoFlush(LineFile&) {
  return 0;
}

void OpenOnDevice(LineFile& file, LineFileState state, LineFileAction transfer,
                  LineFileAction close) {
  file.State = state;
  file.TransferAction = transfer;
  file.CloseAction = close;
  SetFlushAction(file, NoFlush);
}

LineFileAction ReplaceTransferAction(LineFile& file, LineFileAction action) {
  LineFileAction old = file.TransferAction;
  file.TransferAction = action;
  return old;
}

void BindName(LineFile& file, std::string_view name, std::uint32_t capacity) {
  file.OsHandle = platform::kInvalidHandle;
  file.Position = 0;
  file.FillCount = 0;
  file.TransferAction = nullptr;
  file.FlushAction = nullptr;
  file.FlushesEachLine = false;
  file.CloseAction = nullptr;
  file.DroppingText = false;
  LineFileActions::ClearReserve(file);
  file.BufferRef = file.OwnBuffer;
  file.State = StateClosed;
  file.Capacity = std::clamp<std::uint32_t>(capacity, 1, kFileCapacity);
  file.OpenAction = LineFileActions::FileOpener;
  // Never write past the name field: a longer name is refused at open.
  file.NameTooLong = name.size() > platform::kMaxNameLength;
  std::size_t length = file.NameTooLong ? 0 : name.size();
  std::memcpy(file.FileName, name.data(), length);
  file.FileName[length] = '\0';
}

void BindStandardInput(LineFile& file, std::uint32_t capacity) {
  BindName(file, "/dev/stdin", capacity);
  file.OpenAction = LineFileActions::StandardInputOpener;
}

void BindConsole(LineFile& file, std::uint32_t capacity) {
  BindName(file, "CONOUT$", capacity);
  file.OpenAction = LineFileActions::ConsoleOpener;
}

std::int32_t OpenForReading(LineFile& file) {
  return LineFileActions::Open(file, StateReading);
}
std::int32_t OpenForWriting(LineFile& file) {
  return LineFileActions::Open(file, StateWriting);
}

bool AtEndOfDataSlow(LineFile& file) {
  if (file.State == StateReading && file.Position < file.FillCount) {
    return file.BufferRef[file.Position] == kEndOfData;
  }
  if (TakeDataByte(file) == kEndMark) return true;
  --file.Position;
  return false;
}

std::string_view ReadTextLineSlow(LineFile& file, SpillBuffer& spill, std::size_t kept_limit) {
  spill.clear();
  return LineFileActions::ReadLineInto(file, spill, kept_limit, false);
}

std::string_view ReadBegunLine(LineFile& file, SpillBuffer& spill, std::size_t kept_limit) {
  return LineFileActions::ReadLineInto(file, spill, kept_limit, true);
}

void AppendTextSlow(LineFile& file, const char* data, std::size_t size) {
  if (file.State != StateWriting) {
    SetPendingIoCode(kCodeNotWriting);
    return;
  }
  if (file.DroppingText) return;
  // Whenever the rest fills the buffer, fill it to its end and write it out.
  while (size >= file.Capacity - file.Position) {
    std::size_t room = file.Capacity - file.Position;
    std::memcpy(file.BufferRef + file.Position, data, room);
    file.Position = file.Capacity;
    data += room;
    size -= room;
    if (std::int32_t code = file.TransferAction(file)) {
      SetPendingIoCode(code);
      file.DroppingText = true;
      return;
    }
  }
  std::memcpy(file.BufferRef + file.Position, data, size);
  file.Position += static_cast<std::uint32_t>(size);
}

void WriteText(LineFile& file, std::string_view text) {
  BeginText(file);
  AppendText(file, text);
}

void WriteLineEndSlow(LineFile& file) {
  WriteText(file, "\r\n");
  if (file.State == StateWriting) {
    SetPendingIoCode(file.FlushAction(file));
  } else if (file.State != StateReading) {
    SetPendingIoCode(kCodeNotOpen);
  }
}

void CloseLineFile(LineFile& file) {
  if (file.State != StateReading && file.State != StateWriting) {
    SetPendingIoCode(kCodeNotOpen);
    return;
  }
  if (file.State == StateWriting) {
    if (std::int32_t code = LineFileActions::WriteOut(file)) {
      SetPendingIoCode(code);  // closing stops: the handle stays open
      return;
    }
  }
  SetPendingIoCode(file.CloseAction(file));
}

CloseOnUnwind::~CloseOnUnwind() {
  if (File == nullptr) return;
  CloseLineFile(*File);
  CheckIoWhileUnwinding();
}

void CloseOnUnwind::Close() {
  LineFile* file = File;
  File = nullptr;
  CloseLineFile(*file);
  CheckIo();
}

}  // namespace tabulon
