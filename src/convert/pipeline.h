// Converting a large text on several threads. Each thread (the calling one
// among them) takes its turn to read the next block of whole lines from the
// text and converts it with the record path into the block's own output;
// whichever thread finds the next output in order ready writes it out, so a
// thread whose output must wait goes on to read and convert the next block.
// Reads and writes stay in the order of the text, and the reading of one
// block and the writing of another run side by side. Everything observable
// is what converting line by line on one thread gives: the output bytes,
// the requests to the system on both files, and every error with its
// location, at the same point of the output.
#pragma once

#include <cstddef>
#include <vector>

#include "convert/record.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/spill_buffer.h"

namespace tabulon {

struct BlockShape {
  unsigned Converters = 1;     // threads converting, the calling one among them
  std::size_t BlockBytes = 0;  // text bytes a block is filled to before it is cut
  // Room for a block's output. The lines that do not fit are converted by
  // the writing thread.
  std::size_t OutputBytes = 0;
  // Blocks in flight, each with its output: with more than one per
  // converter, a converter whose output waits for its turn to be written
  // goes on with the next block.
  unsigned Jobs = 1;
};

// The shape for `cpus` CPUs (a thread each, up to kMostConverters): two
// jobs per thread, and jobs and blocks small enough that all the memory in
// flight stays within a fixed budget.
BlockShape BlockShapeFor(unsigned cpus);
inline constexpr unsigned kMostConverters = 64;

// Text bytes the file loop converts line by line before it hands the rest
// to the blocks. Starting the threads and touching the blocks' memory costs
// about as much as converting a megabyte and a half on one CPU: texts of
// one or two megabytes convert faster line by line.
inline constexpr std::size_t kBlocksAfter = 2 << 20;

// Converts the rest of `text` into `out` in blocks (`spill` serves the lines
// converted straight into `out`: longer than a block, or without room in an
// output block). Returns true at the end of the data;
// false, with nothing read or written, when the threads or their memory
// cannot be had. Raises as the line-by-line loop does.
bool ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                     char separator, const BlockShape& shape);

// The checks of the file loop, after reading a line and after writing one.
// The error they raise is made out of line, so that it carries the same
// location whichever loop, line by line or in blocks, meets it.
[[noreturn]] void RaiseTextReadError();
[[noreturn]] void RaiseLineWriteError();
inline void CheckTextRead() {
  if (PendingIoCode != 0) RaiseTextReadError();
}
inline void CheckLineWritten() {
  if (PendingIoCode != 0) RaiseLineWriteError();
}

}  // namespace tabulon
