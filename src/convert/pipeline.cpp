#include "convert/pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <string_view>

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

// All the blocks in flight, text and output, stay within this budget.
constexpr std::size_t kInFlightBudget = 16 << 20;
constexpr std::size_t kLargestBlock = 256 << 10;
constexpr std::size_t kSmallestBlock = 64 << 10;
// A record's text is at most twice its bytes plus four per field: only
// blocks of short records with many quoted fields fill twice their size.
constexpr std::size_t OutputBytesFor(std::size_t block) {
  return 2 * block + kSmallestBlock;
}
// A job holds a text block, one read of the text file beyond it and its
// output.
constexpr std::size_t JobBytes(std::size_t block) {
  return block + kFileCapacity + OutputBytesFor(block);
}
// CR LF, and one byte more: a line file's buffer is never filled to its end.
constexpr std::size_t kLineEndRoom = 3;

// The room a record needs in an output block: its longest text (no field
// cuts more than the record's bytes), the copy slack and the line end.
std::size_t RoomFor(const RecordPlan& plan, std::size_t record_size) {
  const std::size_t by_fields = plan.Fields.size() * LongestFieldText(record_size);
  return std::min(plan.LongestText, by_fields) + kCopySlack + kLineEndRoom;
}

// How the reading of a block ended.
enum class Fill {
  Lines,     // whole lines, and the data goes on
  LongLine,  // the block holds part of one line only
  End,       // the data has ended (at its end, a Ctrl-Z or a failed read)
};

// One block of the text and its output, from its read to its write.
struct Job {
  std::size_t Index = 0;  // its place in the text
  char* Text = nullptr;
  std::size_t Size = 0;  // bytes of whole lines (the last job: up to the end)
  char* Output = nullptr;
  std::size_t OutputSize = 0;
  std::size_t Rest = 0;          // lines from here on did not fit the output block
  std::int32_t ReadFailure = 0;  // a read failed after this job's lines
  std::exception_ptr Error;      // converting failed after the output made
  bool Converted = false;        // (under the lock) its output waits for its write
};

// A thread that converts: it reads a block when the text is its turn and
// converts it; whichever worker finds the next output in order ready writes
// it. Worker 0 is the calling thread.
struct Worker {
  LineFile Reader;
  LineFile Sink;
  SpillBuffer Spill;
  platform::Thread OsThread;
  class Blocks* Owner = nullptr;
};

// The memory and the threads of a run in blocks, and the turns that keep the
// reads of the text and the writes of the output in order.
class Blocks {
 public:
  Blocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan, char separator,
         const BlockShape& shape)
      : Text(text),
        Out(out),
        Spill(spill),
        Plan(plan),
        Separator(separator),
        Shape(shape),
        WorkerCount(std::max(shape.Converters, 1u)),
        JobCount(std::max(shape.Jobs, 1u)) {
    TextCapacity = shape.BlockBytes + text.Capacity;
    const std::size_t per_job = Align(sizeof(Job)) + TextCapacity + shape.OutputBytes;
    Size = Align(sizeof(LineFile)) + Align(text.Capacity) + WorkerCount * Align(sizeof(Worker)) +
           JobCount * per_job;
    Memory = static_cast<char*>(platform::ResizeBlock(nullptr, 0, Size));
    if (Memory == nullptr) return;
    RestReader = new (Memory) LineFile;
    FirstCarry = Memory + Align(sizeof(LineFile));
    char* next = FirstCarry + Align(text.Capacity);
    // The records first, aligned; then the blocks, of any size.
    Jobs = reinterpret_cast<Job*>(next);
    next += JobCount * Align(sizeof(Job));
    Workers = reinterpret_cast<Worker*>(next);
    next += WorkerCount * Align(sizeof(Worker));
    for (unsigned i = 0; i < JobCount; ++i) {
      Job* job = new (&Jobs[i]) Job;
      job->Text = next;
      job->Output = next + TextCapacity;
      next += TextCapacity + shape.OutputBytes;
    }
    // A line of a block is never longer than the block: the workers' spill
    // buffers never grow once they hold that much.
    for (; Made < WorkerCount; ++Made) {
      Worker* worker = new (&Workers[Made]) Worker;
      worker->Owner = this;
      if (!worker->Spill.Reserve(TextCapacity)) {
        worker->~Worker();
        break;
      }
    }
  }

  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;

  ~Blocks() {
    Stop(nullptr);
    for (unsigned i = 1; i < Started; ++i) platform::JoinThread(Workers[i].OsThread);
    for (unsigned i = 0; i < Made; ++i) Workers[i].~Worker();
    if (Memory == nullptr) return;
    for (unsigned i = 0; i < JobCount; ++i) Jobs[i].~Job();
    RestReader->~LineFile();
    platform::FreeBlock(Memory, Size);
  }

  // Converts the rest of the text on the calling thread and the workers
  // that start; false, with nothing read, when none could be had.
  bool Run() {
    if (Made == 0) return false;
    Carry = TakeBuffered(Text, FirstCarry);
    CarryFrom = FirstCarry;
    Started = 1;
    while (Started < Made &&
           platform::StartThread(Workers[Started].OsThread, RunWorker, &Workers[Started])) {
      ++Started;
    }
    Work(Workers[0]);
    for (unsigned i = 1; i < Started; ++i) platform::JoinThread(Workers[i].OsThread);
    Started = 1;
    if (Error) std::rethrow_exception(Error);
    return true;
  }

 private:
  static std::size_t Align(std::size_t size) { return (size + 63) / 64 * 64; }

  static void RunWorker(void* argument) {
    Worker& self = *static_cast<Worker*>(argument);
    self.Owner->Work(self);
  }

  Job& JobAt(std::size_t index) { return Jobs[index % JobCount]; }

  // The loop of every worker; an error ends every worker's loop and is
  // raised by the calling thread.
  void Work(Worker& self) {
    try {
      while (Job* job = TakeReadTurn()) {
        Fill fill = FillJob(*job);
        while (fill == Fill::LongLine) {
          if (!TakeWriteTurn(*job)) return;
          ConvertLongLine(*job);
          GiveWriteTurn();
          fill = FillJob(*job);
        }
        GiveReadTurn(fill == Fill::End);
        ConvertJob(self, *job);
        if (!WriteWhatIsReady(*job)) return;
      }
    } catch (...) {
      Stop(std::current_exception());
    }
  }

  // --- the turns ----------------------------------------------------------

  // The job to read the next block into, once the text is free to read and
  // the job that held its memory before is written; null at the end.
  Job* TakeReadTurn() {
    std::unique_lock<std::mutex> hold(Lock);
    Turns.wait(hold, [this] {
      return Stopping || Ended || (!Reading && NextRead < NextWrite + JobCount);
    });
    if (Stopping || Ended) return nullptr;
    Reading = true;
    Job& job = JobAt(NextRead);
    job.Index = NextRead++;
    return &job;
  }

  void GiveReadTurn(bool ended) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Reading = false;
      Ended = Ended || ended;
    }
    Turns.notify_all();
  }

  // For a line longer than a block: waits until the output of every job
  // before `job` is written and no one writes; false when the run stops.
  bool TakeWriteTurn(const Job& job) {
    std::unique_lock<std::mutex> hold(Lock);
    Turns.wait(hold, [this, &job] { return Stopping || (NextWrite == job.Index && !Writing); });
    Writing = !Stopping;
    return !Stopping;
  }

  void GiveWriteTurn() {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Writing = false;
    }
    Turns.notify_all();
  }

  // Marks the job's output ready; unless another worker is writing, writes
  // every output that is ready in order, from the next one to be written on.
  // False when the run stops.
  bool WriteWhatIsReady(Job& job) {
    std::unique_lock<std::mutex> hold(Lock);
    job.Converted = true;
    if (Writing) return !Stopping;
    Writing = true;
    while (!Stopping && JobAt(NextWrite).Converted) {
      Job& next = JobAt(NextWrite);
      hold.unlock();
      WriteJob(next);
      hold.lock();
      next.Converted = false;
      ++NextWrite;
      Turns.notify_all();
    }
    Writing = false;
    Turns.notify_all();
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
    job.ReadFailure = 0;
    if (const void* stop = std::memchr(text, kEndOfData, fill)) {
      job.Size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
      return Fill::End;
    }
    while (fill <= Shape.BlockBytes) {
      std::size_t count = ReadPiece(Text, text + fill);
      if (PendingIoCode != 0) {
        // The lines read in full before the failure are converted; the
        // part of a line after the last line end is not.
        job.ReadFailure = PendingIoCode;
        PendingIoCode = 0;
        job.Size = LinesEnd(text, fill);
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
    // The part of a line after the last line end starts the next job.
    Carry = fill - job.Size;
    CarryFrom = text + job.Size;
    return job.Size == 0 ? Fill::LongLine : Fill::Lines;
  }

  // The end of the last whole line in [text, text + size), or 0.
  static std::size_t LinesEnd(const char* text, std::size_t size) {
    std::size_t end = std::string_view(text, size).rfind(kLineFeed);
    return end == std::string_view::npos ? 0 : end + 1;
  }

  // A line longer than a block (with both turns): read and converted as the
  // line-by-line loop would, the text file reading on in the job's memory.
  void ConvertLongLine(Job& job) {
    LentBuffer lent(Text, job.Text, Carry);
    bool ended = AtEndOfData(Text);
    CheckTextRead();
    if (!ended) {
      std::string_view record = ReadTextLine(Text, Spill, Plan.BytesReached);
      CheckTextRead();
      WriteRecordLine(Out, Text, record, Plan, Separator);
      CheckLineWritten();
    }
    Carry = lent.RestSize();
    std::memmove(job.Text, lent.RestData(), Carry);
    CarryFrom = job.Text;
  }

  // --- converting (no turn) -----------------------------------------------

  // An error is raised when the job's output is written, after the lines
  // converted before it.
  void ConvertJob(Worker& self, Job& job) {
    BindBlockReader(self.Reader, job.Text, job.Size);
    BindBlockWriter(self.Sink, job.Output, Shape.OutputBytes);
    job.Rest = job.Size;
    job.Error = nullptr;
    try {
      while (!AtEndOfData(self.Reader)) {
        std::size_t start = BlockOffset(self.Reader);
        std::string_view record = ReadTextLine(self.Reader, self.Spill, Plan.BytesReached);
        if (RoomFor(Plan, record.size()) >= BlockRoom(self.Sink)) {
          job.Rest = start;
          break;
        }
        WriteRecordLine(self.Sink, self.Reader, record, Plan, Separator);
      }
      CheckIo();
    } catch (...) {
      job.Error = std::current_exception();
    }
    job.OutputSize = self.Sink.Position;
  }

  // --- writing (with the write turn) --------------------------------------

  void WriteJob(Job& job) {
    AppendLines(Out, job.Output, job.OutputSize);
    CheckLineWritten();
    if (job.Error) std::rethrow_exception(job.Error);
    if (job.Rest < job.Size) {
      LineFile& reader = *RestReader;
      BindBlockReader(reader, job.Text + job.Rest, job.Size - job.Rest);
      while (!AtEndOfData(reader)) {
        std::string_view record = ReadTextLine(reader, Spill, Plan.BytesReached);
        WriteRecordLine(Out, reader, record, Plan, Separator);
        CheckLineWritten();
      }
    }
    // A failed read comes after every line read before it.
    SetPendingIoCode(job.ReadFailure);
    CheckTextRead();
  }

  LineFile& Text;
  LineFile& Out;
  SpillBuffer& Spill;  // for the lines converted with a turn held
  const RecordPlan& Plan;
  char Separator;
  BlockShape Shape;
  unsigned WorkerCount;
  std::size_t TextCapacity = 0;
  std::size_t Size = 0;
  char* Memory = nullptr;
  char* FirstCarry = nullptr;
  LineFile* RestReader = nullptr;  // for the lines an output block had no room for
  unsigned JobCount;
  Job* Jobs = nullptr;
  Worker* Workers = nullptr;
  unsigned Made = 0;
  unsigned Started = 0;

  // The turns.
  std::mutex Lock;
  std::condition_variable Turns;
  std::size_t NextRead = 0;
  std::size_t NextWrite = 0;
  bool Reading = false;
  bool Writing = false;
  bool Ended = false;
  bool Stopping = false;
  std::exception_ptr Error;

  // With the read turn: the bytes of a line begun, for the next job, and
  // where they are now.
  std::size_t Carry = 0;
  const char* CarryFrom = nullptr;
};

}  // namespace

BlockShape BlockShapeFor(unsigned cpus) {
  BlockShape shape;
  shape.Converters = std::clamp(cpus, 1u, kMostConverters);
  // Two jobs per converter while each can have a block of the smallest
  // size; on many CPUs fewer, but always one more than the converters.
  const std::size_t fit = kInFlightBudget / JobBytes(kSmallestBlock);
  shape.Jobs = static_cast<unsigned>(
      std::clamp<std::size_t>(fit, shape.Converters + 1u, 2u * shape.Converters));
  // The largest block, in steps of the smallest, whose job fits its share.
  const std::size_t per_job = kInFlightBudget / shape.Jobs;
  shape.BlockBytes = kLargestBlock;
  while (shape.BlockBytes > kSmallestBlock && JobBytes(shape.BlockBytes) > per_job) {
    shape.BlockBytes -= kSmallestBlock;
  }
  shape.OutputBytes = OutputBytesFor(shape.BlockBytes);
  return shape;
}

bool ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                     char separator, const BlockShape& shape) {
  return Blocks(text, out, spill, plan, separator, shape).Run();
}

}  // namespace tabulon
