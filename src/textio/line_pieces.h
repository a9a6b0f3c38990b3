// Reading one line of a LineFile piece by piece, for readers that look at
// every byte of a line without keeping it (the line reader itself, and the
// layout check, which must see lines of any length in constant memory and
// learn of every CR the line rules drop).
#pragma once

#include <cstddef>
#include <cstdint>

#include "textio/line_file.h"

namespace tabulon {

// One byte of the data, or -1 at the end of the data (a Ctrl-Z, the end of
// the file, or a failed read, whose code is left pending). A Ctrl-Z is never
// consumed, and an exhausted file leaves a Ctrl-Z in the buffer so that the
// system is never asked again after it reported the end.
int TakeDataByte(LineFile& file);

// After the data ended at a Ctrl-Z (not consumed): the number of bytes that
// follow it in the file, read to its end. The end of the file also shows as
// a Ctrl-Z (put in the buffer by the reader), which nothing follows. A failed
// read ends the count there, its code pending.
std::uint64_t BytesAfterEndOfData(LineFile& file);

// The last piece of a line: its bytes still lie in the record's buffer, and
// `LineEnd` tells whether an LF or CR LF ended the line (not the end of the
// data).
struct LastPiece {
  const char* Data = nullptr;
  std::size_t Size = 0;
  bool LineEnd = false;
};

// Reads the next line by the rules of ReadTextLine. Every piece but the last
// goes to `piece(data, size)` before the buffer is refilled; `dropped_cr()`
// is called for each CR that the rules drop (one not followed by an LF).
// The pieces, joined, are the line.
template <class Piece, class DroppedCr>
LastPiece ReadLinePieces(LineFile& file, Piece&& piece, DroppedCr&& dropped_cr) {
  for (;;) {
    if (file.Position >= file.FillCount) {
      if (TakeDataByte(file) == -1) break;  // the end of the data ends the line
      --file.Position;
    }
    char* buffer = file.BufferRef;
    const char* start = buffer + file.Position;
    const char* stop = FindLineStop(start, buffer + file.FillCount);
    std::size_t size = static_cast<std::size_t>(stop - start);
    std::uint32_t at = static_cast<std::uint32_t>(stop - buffer);
    if (at == file.FillCount) {  // no line end in the buffer: pass the piece on, refill
      piece(start, size);
      file.Position = at;
      continue;
    }
    if (*stop == kLineFeed) {
      file.Position = at + 1;
      return {start, size, true};
    }
    if (*stop == kEndOfData) {  // ends the line and the data; not consumed
      file.Position = at;
      return {start, size, false};
    }
    // A CR: with an LF after it, the pair ends the line; otherwise it is dropped.
    if (at + 1 < file.FillCount) {
      if (buffer[at + 1] == kLineFeed) {
        file.Position = at + 2;
        return {start, size, true};
      }
      piece(start, size);
      dropped_cr();
      file.Position = at + 1;
      continue;
    }
    // The CR is the last byte in the buffer: decide on the next byte of the data.
    piece(start, size);
    file.Position = at + 1;
    int next = TakeDataByte(file);
    if (next == kLineFeed) return {nullptr, 0, true};
    dropped_cr();
    if (next == -1) break;
    --file.Position;  // not an LF: the CR is dropped and reading goes on
  }
  return {};
}

}  // namespace tabulon
