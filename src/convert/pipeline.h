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
#include <cstdint>

#include "convert/record.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/spill_buffer.h"

namespace tabulon {

struct BlockShape {
  unsigned Converters = 1;     // threads converting, the calling one among them
  std::size_t BlockBytes = 0;  // text bytes a block is filled to before it is cut
  // Blocks in flight, each with its output: with more than one per
  // converter, a converter whose output waits for its turn to be written
  // goes on with the next block.
  unsigned Jobs = 1;
  // Room for a block's output besides the room of one record: enough for a
  // block of records of the layout's full length. Shorter records can give
  // more text per byte; a converter whose output block fills hands it over
  // to be written and goes on converting into it once it is out.
  std::size_t OutputBytes = 0;
};

// The shape for `cpus` CPUs, records of `plan` and reads of `read_size`
// bytes: a converter per CPU and two jobs each, with blocks as large as
// the memory budget allows; fewer jobs, then fewer converters, where the
// budget would not hold them. Converters is 1 when no shape of two
// converters fits (the layout's records are too long): the text then goes on
// line by line.
BlockShape BlockShapeFor(unsigned cpus, const RecordPlan& plan, std::size_t read_size);
inline constexpr unsigned kMostConverters = 64;
// The text and output blocks of every job, and the converters' spill
// buffers, stay within this many bytes.
inline constexpr std::size_t kInFlightBudget = 12 << 20;

// Text bytes the file loop converts line by line before it hands the rest
// to the blocks. Starting the threads and touching the blocks' memory costs
// about as much as converting a megabyte and a half on one CPU: texts of
// one or two megabytes convert faster line by line.
inline constexpr std::size_t kBlocksAfter = 2 << 20;

// How a run in blocks ended.
enum class BlocksEnd {
  DataEnded,   // the data has ended: the text is converted
  NotStarted,  // nothing read or written: the threads or their memory could not be had
  // A line longer than a block was met: the lines before it are converted,
  // `spill` holds its first bytes for ReadBegunLine, and the blocks' memory
  // is given back before that line grows.
  LineBegun,
};

// Converts the rest of `text` into `out` in blocks of `shape`. Raises as the
// line-by-line loop does.
BlocksEnd ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                          char separator, const BlockShape& shape);

#if defined(TABULON_TURN_COUNTS)
// A build with TABULON_TURN_COUNTS counts the output bytes the blocks
// convert, and those converted by a thread while it holds the write turn
// (which must be none: the writing thread only writes), since the process
// started.
struct TurnCounts {
  std::uint64_t Converted = 0;
  std::uint64_t ConvertedInWriteTurn = 0;
};
TurnCounts ReadTurnCounts();
#endif

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
