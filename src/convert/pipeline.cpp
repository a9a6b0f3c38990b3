// The protocol of the blocks.
//
// A run has a set of jobs, each with a text block and an output block, and
// at most that many blocks of the text in flight (read and not yet written
// out); InOrder maps the i-th block of the text to its job, at i % Jobs.
// Each job has a home worker, and a worker that reads takes one of its own
// jobs when one is free (any free job otherwise): the blocks it fills and
// converts were last filled and converted on the same CPU, so their memory
// is still in that CPU's caches and not in another's, whose copy would be
// fetched or taken away first. One lock guards the turns (NextRead,
// NextWrite, Reading, Writing, Ended, Stopping, BegunLine, Error), InOrder,
// every job's Ready, More and InFlight and every worker's Prepared;
// everything else has one owner at a time:
//
// - Preparing (no turn): a worker starts by bringing its own jobs' text
//   blocks into memory; until it has, they are nobody else's to take.
// - The read turn (one thread at a time, Reading): owns the text file and
//   Carry/CarryFrom, the bytes of a line begun after the last LF of the block
//   read before (in that job's text block, or for the first block in the
//   text file's buffer; they may hold a Ctrl-Z, which
//   ends the data where it lies). It fills a free job with the next block,
//   once one is not in flight and prepared (so fewer than Jobs blocks are
//   in flight), with the carried bytes and reads of the text file's own
//   size.
// - Converting (no turn): the thread that filled a job owns its text, its
//   output block and its Error until it marks the job Ready; a job that
//   fills its output block is marked Ready with More, and its converter
//   waits until that output is written (Ready cleared), then converts the
//   rest of the block into it from the start.
// - The write turn (one thread at a time, Writing): owns the output file. It
//   writes the outputs that are Ready, in the order of the text, from
//   NextWrite on, and clears Ready; NextWrite moves past a job once its last
//   output is written, and from then on the job is free to be read into.
//   The write turn never converts.
// - Errors: a job's one channel is its Error, set by whoever owns the job: a
//   failed read of the text after its lines (when it is filled) or a failed
//   conversion (when it is converted, replacing the other, which would come
//   later). The write turn raises it once the job's last output is written,
//   at the point where the line-by-line loop raises it. An error raised while
//   writing (that one, or a failed write-out) stops the run: it is kept as
//   the run's Error, every thread leaves its loop, and Run raises it on the
//   calling thread, the one place an error leaves the blocks.
// - A line longer than a block: its reader ends the reads (BegunLine). The
//   jobs before it are converted and written as ever; once the threads have
//   left, the line's first bytes go to the caller's spill buffer and the
//   blocks' memory is given back before the line grows: the file loop reads
//   it on line by line, as it would on one CPU.
#include "convert/pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "convert/block_copy.h"
#include "platform/platform.h"
#include "textio/line_blocks.h"

namespace tabulon {

[[gnu::noinline]] void RaiseTextReadError() {
  RaisePendingIo();
}

[[gnu::noinline]] void RaiseLineWriteError() {
  RaisePendingIo();
}

namespace {

#if defined(TABULON_TURN_COUNTS)
thread_local bool holds_write_turn = false;
std::atomic<std::uint64_t> converted_bytes{0};
std::atomic<std::uint64_t> converted_in_write_turn{0};

void SetWriteTurn(bool held) {
  holds_write_turn = held;
}
void CountConverted(std::size_t output_bytes) {
  converted_bytes += output_bytes;
  if (holds_write_turn) converted_in_write_turn += output_bytes;
}
#else
inline void SetWriteTurn(bool) {}
inline void CountConverted(std::size_t) {}
#endif

// The page size that Prepare steps by: the smallest of the systems built for.
constexpr std::size_t kPageBytes = 4096;

constexpr std::size_t kLargestBlock = 256 << 10;
constexpr std::size_t kBlockStep = 16 << 10;
constexpr std::size_t kSmallestBlock = kBlockStep;

// The room a record of `record_size` bytes needs in an output block: its
// longest text (no field cuts more than the record's bytes), the copy slack
// and the line end.
std::size_t RoomFor(const RecordPlan& plan, std::size_t record_size) {
  const std::size_t by_fields = plan.Fields.size() * LongestFieldText(record_size);
  return std::min(plan.LongestText, by_fields) + kCopySlack + kLineEndRoom;
}

// The longest record a text block of `text_room` bytes can hold.
std::size_t LongestRecord(const RecordPlan& plan, std::size_t text_room) {
  return std::min(plan.BytesReached, text_room);
}

// The room for the output of a text block of `text_room` bytes full of
// records of the layout's full length, each with its LF: a record shorter
// than that can give more text per byte of the block. Each takes its text
// and CR LF; the copy slack is needed after the last one only, and the
// output block has it besides (the room of one record).
std::size_t OutputFor(const RecordPlan& plan, std::size_t text_room) {
  const std::size_t longest = LongestRecord(plan, text_room);
  const std::size_t line = RoomFor(plan, longest) - kCopySlack - kLineEndRoom + 2;
  return (text_room / (longest + 1) + 1) * line;
}

// How the reading of a block ended.
enum class Fill {
  Lines,     // whole lines, and the data goes on
  LongLine,  // the block holds the start of one line only
  End,       // the data has ended (at its end, a Ctrl-Z or a failed read)
};

struct Worker;

// One block of the text and its output, from its read to its write.
struct Job {
  char* Text = nullptr;
  std::size_t Size = 0;  // bytes of whole lines (the last job: up to the end)
  char* Output = nullptr;
  std::size_t OutputSize = 0;
  std::exception_ptr Error;      // raised once its last output is written
  bool Ready = false;            // (under the lock) its output waits for its write
  bool More = false;             // (under the lock) and more of its lines will follow
  bool InFlight = false;         // (under the lock) read and not yet written out
  const Worker* Home = nullptr;  // the worker that takes it when it can (set once)
};

// A thread that converts, with line files bound to its job's blocks (their
// own buffers are never used, and never touched).
struct Worker {
  LineFile Reader;
  LineFile Sink;
  SpillBuffer Spill;  // a line of the block gathered around a dropped CR
  BufferedRun Run;    // the lines taken straight out of the block
  platform::Thread OsThread;
  class Blocks* Owner = nullptr;
  // (under the lock) its jobs' text blocks are in memory: until then, no
  // other worker takes them.
  bool Prepared = false;
};

// The text and output blocks of every job, in one piece of memory.
class BlockMemory {
 public:
  explicit BlockMemory(std::size_t size)
      : Size(size), Data(static_cast<char*>(platform::ResizeBlock(nullptr, 0, size))) {}
  BlockMemory(const BlockMemory&) = delete;
  BlockMemory& operator=(const BlockMemory&) = delete;
  ~BlockMemory() { platform::FreeBlock(Data, Size); }
  char* Start() const { return Data; }

 private:
  std::size_t Size;
  char* Data;
};

// The jobs, the workers and their memory, and the turns that keep the reads
// of the text and the writes of the output in order.
class Blocks {
 public:
  Blocks(LineFile& text, LineFile& out, const RecordPlan& plan, char separator,
         const BlockShape& shape)
      : Text(text),
        Out(out),
        Plan(plan),
        Separator(separator),
        BlockBytes(shape.BlockBytes),
        TextRoom(shape.BlockBytes + CapacityOf(text)),
        LineRoom(RoomFor(plan, LongestRecord(plan, TextRoom))),
        OutputRoom(shape.OutputBytes + LineRoom + 1) {
    const std::size_t job_count = std::max(shape.Jobs, 1u);
    const std::size_t worker_count = std::max(shape.Converters, 1u);
    // The line files address their blocks with 32-bit offsets.
    if (OutputRoom > UINT32_MAX / 2 || TextRoom > UINT32_MAX / 2 ||
        job_count > SIZE_MAX / 2 / (TextRoom + OutputRoom)) {
      return;
    }
    try {
      Jobs.resize(job_count);
      InOrder.resize(job_count);
      Memory = std::make_unique<BlockMemory>(job_count * (TextRoom + OutputRoom));
      if (Memory->Start() == nullptr) return;
      char* next = Memory->Start();
      for (Job& job : Jobs) {
        job.Text = next;
        job.Output = next + TextRoom;
        next += TextRoom + OutputRoom;
      }
      // A line of a block is never longer than the block: the workers' spill
      // buffers never grow once they hold that much.
      Workers.reserve(worker_count);
      while (Workers.size() < worker_count) {
        std::unique_ptr<Worker> worker(new Worker);  // left uninitialised: the buffers untouched
        if (!worker->Spill.Reserve(TextRoom)) break;
        worker->Run.Keep = LineRoom;
        worker->Owner = this;
        Workers.push_back(std::move(worker));
      }
      for (std::size_t k = 0; k < Jobs.size(); ++k) {
        Jobs[k].Home = Workers.empty() ? nullptr : Workers[k % Workers.size()].get();
      }
    } catch (const std::bad_alloc&) {
      // As many workers as the memory gave; none: the text goes on line by line.
    }
    if (Memory == nullptr || Memory->Start() == nullptr) Workers.clear();
  }

  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;

  ~Blocks() {
    Stop(nullptr);
    JoinThreads();
  }

  // Converts the rest of the text on the calling thread and the workers
  // that start.
  BlocksEnd Run(SpillBuffer& spill) {
    if (Workers.empty()) return BlocksEnd::NotStarted;
    // The bytes the text file's buffer holds start the first block, read
    // from where they lie: the buffer is not refilled while the blocks run.
    const std::string_view buffered = BufferedBytes(Text);
    Carry = buffered.size();
    CarryFrom = buffered.data();
    TakeBufferedBytes(Text, buffered.size());
    while (Started + 1 < Workers.size() &&
           platform::StartThread(Workers[Started + 1]->OsThread, RunWorker,
                                 Workers[Started + 1].get())) {
      ++Started;
    }
    Work(*Workers[0]);
    JoinThreads();
    if (Error) std::rethrow_exception(Error);
    if (BegunLine == nullptr) return BlocksEnd::DataEnded;
    BeginLine(Text, BegunLine->Text, BegunLine->Size, spill, Plan.BytesReached);
    return BlocksEnd::LineBegun;
  }

 private:
  static void RunWorker(void* argument) {
    Worker& self = *static_cast<Worker*>(argument);
    self.Owner->Work(self);
  }

  void JoinThreads() {
    for (; Started > 0; --Started) platform::JoinThread(Workers[Started]->OsThread);
  }

  Job& JobAt(std::size_t index) { return *InOrder[index % InOrder.size()]; }

  // A job that is not in flight: one of the worker's own when it has one
  // free, so that its blocks stay in the caches of the CPU it runs on;
  // null when every job is in flight or not yet prepared by its worker (a
  // worker whose thread did not start never prepares its jobs: they are
  // left out).
  Job* FreeJobFor(const Worker& self) {
    Job* other = nullptr;
    for (Job& job : Jobs) {
      if (job.InFlight || !job.Home->Prepared) continue;
      if (job.Home == &self) return &job;
      if (other == nullptr) other = &job;
    }
    return other;
  }

  // Brings the text blocks of the worker's own jobs into memory, a write to
  // each page, before the worker takes a turn. The first use of a page
  // costs a fault (on a virtual machine the host may have to provide the
  // page, some microseconds each): taken in the read turn, the faults of
  // every job would come one after the other while the other workers wait
  // for the turn; here each worker takes those of its own jobs, side by side
  // with the others.
  void Prepare(Worker& self) {
    for (Job& job : Jobs) {
      if (job.Home != &self) continue;
      for (std::size_t at = 0; at < TextRoom; at += kPageBytes) job.Text[at] = 0;
    }
    {
      std::lock_guard<std::mutex> hold(Lock);
      self.Prepared = true;
    }
    Turns.notify_all();
  }

  // The loop of every worker; an error ends every worker's loop and is
  // raised by the calling thread.
  void Work(Worker& self) {
    Prepare(self);
    try {
      while (Job* job = TakeReadTurn(self)) {
        const Fill fill = FillJob(*job);
        GiveReadTurn(*job, fill);
        if (fill != Fill::LongLine && !ConvertJob(self, *job)) return;
      }
    } catch (...) {
      Stop(std::current_exception());
    }
  }

  // --- the turns ----------------------------------------------------------

  // The job to read the next block into, once the text is free to read and
  // a job is free; null at the end.
  Job* TakeReadTurn(const Worker& self) {
    std::unique_lock<std::mutex> hold(Lock);
    Job* job = nullptr;
    Turns.wait(hold, [this, &self, &job] {
      return Stopping || Ended || (!Reading && (job = FreeJobFor(self)) != nullptr);
    });
    if (Stopping || Ended) return nullptr;
    Reading = true;
    job->InFlight = true;
    InOrder[NextRead++ % InOrder.size()] = job;
    return job;
  }

  void GiveReadTurn(Job& job, Fill fill) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Reading = false;
      Ended = Ended || fill != Fill::Lines;
      if (fill == Fill::LongLine) BegunLine = &job;
    }
    Turns.notify_all();
  }

  // Marks the job's output ready; unless another thread is writing, writes
  // every output that is ready in order, from the next one to be written on.
  // With `more`, waits until the job's output is written. False when the
  // run stops.
  bool HandOver(Job& job, bool more) {
    std::unique_lock<std::mutex> hold(Lock);
    job.Ready = true;
    job.More = more;
    if (!Writing) {
      Writing = true;
      SetWriteTurn(true);
      while (!Stopping && NextWrite < NextRead && JobAt(NextWrite).Ready) {
        Job& next = JobAt(NextWrite);
        const bool last = !next.More;
        hold.unlock();
        WriteJob(next, last);
        hold.lock();
        next.Ready = false;
        Turns.notify_all();
        if (!last) break;  // its converter goes on into the output block
        next.InFlight = false;
        ++NextWrite;
      }
      Writing = false;
      SetWriteTurn(false);
      Turns.notify_all();
    }
    if (more) Turns.wait(hold, [this, &job] { return Stopping || !job.Ready; });
    return !Stopping;
  }

  void Stop(std::exception_ptr error) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      if (error && !Error) Error = error;
      Stopping = true;
    }
    Turns.notify_all();
  }

  // --- reading (with the read turn) ---------------------------------------

  // Fills the job from the carried bytes and the file: pieces of the file's
  // own size, as its refills would ask for, while a piece still fits.
  Fill FillJob(Job& job) {
    char* text = job.Text;
    std::size_t fill = Carry;
    std::memmove(text, CarryFrom, fill);
    Carry = 0;
    job.Error = nullptr;
    if (const void* stop = std::memchr(text, kEndOfData, fill)) {
      job.Size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
      return Fill::End;
    }
    while (fill <= BlockBytes) {
      std::size_t count = ReadPiece(Text, text + fill);
      if (PendingIoCode != 0) {
        // The lines read in full before the failure are converted; the
        // part of a line after the last line end is not.
        job.Size = LinesEnd(text, fill);
        job.Error = TextReadFailure();
        return Fill::End;
      }
      if (count == 0) {
        job.Size = fill;
        return Fill::End;
      }
      if (const void* stop = std::memchr(text + fill, kEndOfData, count)) {
        job.Size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
        return Fill::End;
      }
      fill += count;
    }
    job.Size = LinesEnd(text, fill);
    if (job.Size == 0) {
      job.Size = fill;  // the start of the line
      return Fill::LongLine;
    }
    // The part of a line after the last line end starts the next job.
    Carry = fill - job.Size;
    CarryFrom = text + job.Size;
    return Fill::Lines;
  }

  // The error of the pending failed read, as the file loop raises it.
  static std::exception_ptr TextReadFailure() {
    try {
      CheckTextRead();
    } catch (...) {
      return std::current_exception();
    }
    return nullptr;
  }

  // The end of the last whole line in [text, text + size), or 0.
  static std::size_t LinesEnd(const char* text, std::size_t size) {
    std::size_t end = std::string_view(text, size).rfind(kLineFeed);
    return end == std::string_view::npos ? 0 : end + 1;
  }

  // --- converting (no turn) -----------------------------------------------

  // Converts the job's lines into its output block, handing the block over
  // whenever it has no room for one more record. False when the run stops.
  bool ConvertJob(Worker& self, Job& job) {
    BindBlockReader(self.Reader, job.Text, job.Size);
    for (;;) {
      BindBlockWriter(self.Sink, job.Output, OutputRoom);
      const bool more = ConvertWhileRoom(self, job);
      job.OutputSize = BlockWritten(self.Sink);
      CountConverted(job.OutputSize);
      if (!HandOver(job, more)) return false;
      if (!more) return true;
    }
  }

  // True when the output block has no room for the next record.
  bool ConvertWhileRoom(Worker& self, Job& job) {
    try {
      while (!AtEndOfData(self.Reader)) {
        if (BlockRoom(self.Sink) <= LineRoom) return true;
        if (ConvertBufferedLines(self.Reader, self.Sink, Plan, Separator, self.Run) > 0) continue;
        std::string_view record = ReadTextLine(self.Reader, self.Spill, Plan.BytesReached);
        WriteRecordLine(self.Sink, self.Reader, record, Plan, Separator);
        CheckIo();
      }
    } catch (...) {
      job.Error = std::current_exception();
    }
    return false;
  }

  // --- writing (with the write turn) --------------------------------------

  void WriteJob(const Job& job, bool last) {
    AppendLines(Out, job.Output, job.OutputSize);
    CheckLineWritten();
    if (last && job.Error) std::rethrow_exception(job.Error);
  }

  LineFile& Text;
  LineFile& Out;
  const RecordPlan& Plan;
  char Separator;
  std::size_t BlockBytes;
  std::size_t TextRoom;    // a block and one read beyond it
  std::size_t LineRoom;    // the room of the longest record a block can hold
  std::size_t OutputRoom;  // an output block: an empty one always has room for a record
  std::vector<Job> Jobs;
  std::vector<Job*> InOrder;  // (under the lock) the jobs in flight, by Index % size
  std::unique_ptr<BlockMemory> Memory;
  std::vector<std::unique_ptr<Worker>> Workers;  // 0: the calling thread
  std::size_t Started = 0;                       // threads started, from Workers[1] on

  // The turns.
  std::mutex Lock;
  std::condition_variable Turns;
  std::size_t NextRead = 0;
  std::size_t NextWrite = 0;
  bool Reading = false;
  bool Writing = false;
  bool Ended = false;
  bool Stopping = false;
  const Job* BegunLine = nullptr;  // the job holding the start of a line longer than a block
  std::exception_ptr Error;

  // With the read turn: the bytes of a line begun, for the next job, and
  // where they are now.
  std::size_t Carry = 0;
  const char* CarryFrom = nullptr;
};

}  // namespace

BlockShape BlockShapeFor(unsigned cpus, const RecordPlan& plan, std::size_t read_size) {
  for (unsigned converters = std::clamp(cpus, 1u, kMostConverters); converters > 1; --converters) {
    for (unsigned jobs : {2 * converters, converters + 1}) {
      for (std::size_t block = kLargestBlock; block >= kSmallestBlock; block -= kBlockStep) {
        const std::size_t text_room = block + read_size;
        const std::size_t output = OutputFor(plan, text_room);
        const std::size_t line = RoomFor(plan, LongestRecord(plan, text_room));
        if (output > kInFlightBudget || line > kInFlightBudget) break;
        if (jobs * (text_room + output + line) + converters * text_room <= kInFlightBudget) {
          return {converters, block, jobs, output};
        }
      }
    }
  }
  return {};
}

BlocksEnd ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                          char separator, const BlockShape& shape) {
  return Blocks(text, out, plan, separator, shape).Run(spill);
}

#if defined(TABULON_TURN_COUNTS)
TurnCounts ReadTurnCounts() {
  return {converted_bytes.load(), converted_in_write_turn.load()};
}
#endif

}  // namespace tabulon
