#include "textio/line_blocks.h"

#include <algorithm>
#include <cstring>

#include "textio/io_codes.h"

namespace tabulon {
namespace {

// What a block reader's buffer becomes after its block: the end of the data.
char end_of_block = kEndOfData;

std::int32_t BlockFull(LineFile&) {
  return kCodeNotWriting;
}

}  // namespace

// The line files over blocks, with the record's state in reach.
struct BlockActions {
  static std::int32_t EndOfBlock(LineFile& file);
  static void BindBlock(LineFile& file, char* data, std::uint32_t capacity, LineFileState state);
  static void WriteOutInPlace(LineFile& file, const char* data);
};

std::int32_t BlockActions::EndOfBlock(LineFile& file) {
  file.BufferRef = &end_of_block;
  file.Position = 0;
  file.FillCount = 1;
  return 0;
}

void BlockActions::BindBlock(LineFile& file, char* data, std::uint32_t capacity,
                             LineFileState state) {
  BindName(file, "");
  file.State = state;
  file.BufferRef = data;
  file.Capacity = capacity;
  file.FlushAction = NoFlush;
}

// Writes out the `file.Capacity` bytes at `data` as the write-out of a full
// buffer holding them would, without copying them into the buffer first.
void BlockActions::WriteOutInPlace(LineFile& file, const char* data) {
  char* own = file.BufferRef;
  file.BufferRef = const_cast<char*>(data);  // only read by a write-out
  file.Position = file.Capacity;
  std::int32_t code = file.TransferAction(file);
  file.BufferRef = own;
  file.Position = 0;
  if (code != 0) {
    SetPendingIoCode(code);
    file.DroppingText = true;
  }
}

void BindBlockReader(LineFile& file, char* data, std::size_t size) {
  BlockActions::BindBlock(file, data, static_cast<std::uint32_t>(size), StateReading);
  file.FillCount = static_cast<std::uint32_t>(size);
  file.TransferAction = BlockActions::EndOfBlock;
}

void BindBlockWriter(LineFile& file, char* data, std::size_t capacity) {
  BlockActions::BindBlock(file, data, static_cast<std::uint32_t>(capacity), StateWriting);
  file.TransferAction = BlockFull;
}

std::size_t ReadPiece(LineFile& file, char* to) {
  char* own = file.BufferRef;
  file.BufferRef = to;
  std::int32_t code = file.TransferAction(file);
  std::size_t count = file.FillCount;
  file.BufferRef = own;
  file.Position = 0;
  file.FillCount = 0;
  SetPendingIoCode(code);
  return code == 0 ? count : 0;
}

void BeginLine(LineFile& file, const char* data, std::size_t size, SpillBuffer& spill,
               std::size_t kept_limit) {
  spill.clear();
  const char* end = data + size;
  if (size > 0 && end[-1] == kCarriageReturn) {
    --end;
    file.BufferRef[0] = kCarriageReturn;
    file.Position = 0;
    file.FillCount = 1;
  }
  // With no LF among the bytes, every other CR is followed by a byte that is
  // not an LF: the rules drop it.
  while (data < end && spill.size() < kept_limit) {
    const void* cr = std::memchr(data, kCarriageReturn, static_cast<std::size_t>(end - data));
    const char* stop = cr != nullptr ? static_cast<const char*>(cr) : end;
    spill.append(data, std::min(static_cast<std::size_t>(stop - data), kept_limit - spill.size()));
    data = stop + (stop < end ? 1 : 0);
  }
}

void AppendLines(LineFile& file, const char* data, std::size_t size) {
  // Pieces that end where the buffer fills: a failed write-out is then known
  // to have come at the end of the piece, inside the line that holds its
  // last byte. A piece that fills the whole buffer is written from where it
  // lies.
  BeginText(file);
  while (size > 0) {
    std::size_t piece = std::min<std::size_t>(size, file.Capacity - file.Position);
    if (piece == file.Capacity && file.State == StateWriting) {
      BlockActions::WriteOutInPlace(file, data);
    } else {
      AppendText(file, data, piece);
    }
    data += piece;
    size -= piece;
    if (PendingIoCode != 0) {
      char last = data[-1];
      if (last != '\r' && last != '\n') WriteLineEnd(file);
      return;
    }
  }
}

}  // namespace tabulon
