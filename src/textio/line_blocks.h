// Line files over blocks of memory, and a text file read or an output file
// written a block at a time, with the effect of reading and writing them line
// by line: the same requests to the system, the same bytes, the same codes.
#pragma once

#include <cstddef>

#include "textio/line_file.h"

namespace tabulon {

// Reads lines out of [data, data + size) by the rules of a file; after the
// last byte the data ends. Nothing is ever written into the block.
void BindBlockReader(LineFile& file, char* data, std::size_t size);

// Writes into [data, data + capacity). A block writer never writes out: the
// caller keeps room for what it appends (a full block raises code 105).
// BlockWritten: the bytes written into the block; BlockRoom: the bytes left.
void BindBlockWriter(LineFile& file, char* data, std::size_t capacity);
inline std::size_t BlockWritten(const LineFile& file) {
  return WaitingBytes(file);
}
inline std::size_t BlockRoom(const LineFile& file) {
  return CapacityOf(file) - WaitingBytes(file);
}

// --- a text file read in blocks ------------------------------------------

// Reads the next piece of the data straight into `to`, as a refill of `file`
// would: one request of the file's capacity. Returns the number of bytes, 0
// at the end of the data; a failure leaves its code pending and gives 0.
std::size_t ReadPiece(LineFile& file, char* to);

// Begins the next line of `file` with `size` bytes read out of it already
// (no LF or Ctrl-Z among them), for ReadBegunLine to read on: the bytes the
// line rules keep go to `spill` (no more than `kept_limit`), each CR dropped
// but a last one, which goes back into the file's buffer, where the next byte
// of the data decides it. Raises std::bad_alloc as SpillBuffer::append does.
void BeginLine(LineFile& file, const char* data, std::size_t size, SpillBuffer& spill,
               std::size_t kept_limit);

// --- an output file written in blocks ------------------------------------

// Appends whole lines (each ending in CR LF, none holding another CR or LF)
// with the effect of writing each as BeginText, AppendText, WriteLineEnd:
// the same write-outs, and after a failed one the rest of that line dropped
// and its line end still appended. Stops at the first failure, its code
// pending.
void AppendLines(LineFile& file, const char* data, std::size_t size);

}  // namespace tabulon
