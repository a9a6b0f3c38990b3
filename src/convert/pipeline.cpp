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

// One block of the text and its output, owned by one worker from the read
// to the write.
struct Job {
  std::size_t index = 0;  // its place in the text
  char* text = nullptr;
  std::size_t size = 0;  // bytes of whole lines (the last job: up to the end)
  char* output = nullptr;
  std::size_t output_size = 0;
  std::size_t rest = 0;           // lines from here on did not fit the output block
  std::int32_t read_failure = 0;  // a read failed after this job's lines
  std::exception_ptr error;       // converting failed after the output made
};

// A thread that converts: it reads a block when the text is its turn,
// converts it, and writes the output when the output is its turn. Worker 0
// is the calling thread.
struct Worker {
  Job job;
  LineFile reader;
  LineFile sink;
  SpillBuffer spill;
  platform::Thread thread;
  class Blocks* blocks = nullptr;
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
        WorkerCount(std::max(shape.Converters, 1u)) {
    TextCapacity = shape.BlockBytes + text.Capacity;
    const std::size_t per_worker = Align(sizeof(Worker)) + TextCapacity + shape.OutputBytes;
    Size = Align(sizeof(LineFile)) + Align(text.Capacity) + WorkerCount * per_worker;
    Memory = static_cast<char*>(platform::ResizeBlock(nullptr, 0, Size));
    if (Memory == nullptr) return;
    RestReader = new (Memory) LineFile;
    FirstCarry = Memory + Align(sizeof(LineFile));
    char* next = FirstCarry + Align(text.Capacity);
    Workers = reinterpret_cast<Worker*>(next);
    next += WorkerCount * Align(sizeof(Worker));
    // A line of a block is never longer than the block: the workers' spill
    // buffers never grow once they hold that much.
    for (; Made < WorkerCount; ++Made) {
      Worker* worker = new (&Workers[Made]) Worker;
      worker->blocks = this;
      worker->job.text = next;
      worker->job.output = next + TextCapacity;
      next += TextCapacity + shape.OutputBytes;
      if (!worker->spill.Reserve(TextCapacity)) {
        worker->~Worker();
        break;
      }
    }
  }

  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;

  ~Blocks() {
    Stop(nullptr);
    for (unsigned i = 1; i < Started; ++i) platform::JoinThread(Workers[i].thread);
    for (unsigned i = 0; i < Made; ++i) Workers[i].~Worker();
    if (Memory == nullptr) return;
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
           platform::StartThread(Workers[Started].thread, RunWorker, &Workers[Started])) {
      ++Started;
    }
    Work(Workers[0]);
    for (unsigned i = 1; i < Started; ++i) platform::JoinThread(Workers[i].thread);
    Started = 1;
    if (Error) std::rethrow_exception(Error);
    return true;
  }

 private:
  static std::size_t Align(std::size_t size) { return (size + 63) / 64 * 64; }

  static void RunWorker(void* argument) {
    Worker& self = *static_cast<Worker*>(argument);
    self.blocks->Work(self);
  }

  // The loop of every worker; an error ends every worker's loop and is
  // raised by the calling thread.
  void Work(Worker& self) {
    try {
      while (TakeReadTurn(self.job)) {
        Fill fill = FillJob(self.job);
        while (fill == Fill::LongLine) {
          if (!WaitWriteTurn(self.job)) return;
          ConvertLongLine(self.job);
          fill = FillJob(self.job);
        }
        GiveReadTurn(fill == Fill::End);
        ConvertJob(self);
        if (!WaitWriteTurn(self.job)) return;
        WriteJob(self.job);
        GiveWriteTurn();
      }
    } catch (...) {
      Stop(std::current_exception());
    }
  }

  // --- the turns ----------------------------------------------------------

  bool TakeReadTurn(Job& job) {
    std::unique_lock<std::mutex> hold(Lock);
    Turns.wait(hold, [this] { return Stopping || Ended || !Reading; });
    if (Stopping || Ended) return false;
    Reading = true;
    job.index = NextRead++;
    return true;
  }

  void GiveReadTurn(bool ended) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Reading = false;
      Ended = Ended || ended;
    }
    Turns.notify_all();
  }

  // Waits until the output of every job before `job` is written; false when
  // the run stops instead.
  bool WaitWriteTurn(const Job& job) {
    std::unique_lock<std::mutex> hold(Lock);
    Turns.wait(hold, [this, &job] { return Stopping || NextWrite == job.index; });
    return !Stopping;
  }

  void GiveWriteTurn() {
    {
      std::lock_guard<std::mutex> hold(Lock);
      ++NextWrite;
    }
    Turns.notify_all();
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
    char* text = job.text;
    std::size_t fill = Carry;
    std::memmove(text, CarryFrom, fill);
    Carry = 0;
    job.read_failure = 0;
    if (const void* stop = std::memchr(text, kEndOfData, fill)) {
      job.size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
      return Fill::End;
    }
    while (fill <= Shape.BlockBytes) {
      std::size_t count = ReadPiece(Text, text + fill);
      if (PendingIoCode != 0) {
        // The lines read in full before the failure are converted; the
        // part of a line after the last line end is not.
        job.read_failure = PendingIoCode;
        PendingIoCode = 0;
        job.size = LinesEnd(text, fill);
        return Fill::End;
      }
      if (count == 0) {
        job.size = fill;
        return Fill::End;
      }
      if (const void* stop = std::memchr(text + fill, kEndOfData, count)) {
        job.size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
        return Fill::End;
      }
      fill += count;
    }
    job.size = LinesEnd(text, fill);
    // The part of a line after the last line end starts the next job.
    Carry = fill - job.size;
    CarryFrom = text + job.size;
    return job.size == 0 ? Fill::LongLine : Fill::Lines;
  }

  // The end of the last whole line in [text, text + size), or 0.
  static std::size_t LinesEnd(const char* text, std::size_t size) {
    std::size_t end = std::string_view(text, size).rfind(kLineFeed);
    return end == std::string_view::npos ? 0 : end + 1;
  }

  // A line longer than a block (with both turns): read and converted as the
  // line-by-line loop would, the text file reading on in the job's memory.
  void ConvertLongLine(Job& job) {
    LentBuffer lent(Text, job.text, Carry);
    bool ended = AtEndOfData(Text);
    CheckTextRead();
    if (!ended) {
      std::string_view record = ReadTextLine(Text, Spill, Plan.BytesReached);
      CheckTextRead();
      WriteRecordLine(Out, Text, record, Plan, Separator);
      CheckLineWritten();
    }
    Carry = lent.RestSize();
    std::memmove(job.text, lent.RestData(), Carry);
    CarryFrom = job.text;
  }

  // --- converting (no turn) -----------------------------------------------

  // An error is raised when the job's output is written, after the lines
  // converted before it.
  void ConvertJob(Worker& self) {
    Job& job = self.job;
    BindBlockReader(self.reader, job.text, job.size);
    BindBlockWriter(self.sink, job.output, Shape.OutputBytes);
    job.rest = job.size;
    job.error = nullptr;
    try {
      while (!AtEndOfData(self.reader)) {
        std::size_t start = BlockOffset(self.reader);
        std::string_view record = ReadTextLine(self.reader, self.spill, Plan.BytesReached);
        if (RoomFor(Plan, record.size()) >= BlockRoom(self.sink)) {
          job.rest = start;
          break;
        }
        WriteRecordLine(self.sink, self.reader, record, Plan, Separator);
      }
      CheckIo();
    } catch (...) {
      job.error = std::current_exception();
    }
    job.output_size = self.sink.Position;
  }

  // --- writing (with the write turn) --------------------------------------

  void WriteJob(Job& job) {
    AppendLines(Out, job.output, job.output_size);
    CheckLineWritten();
    if (job.error) std::rethrow_exception(job.error);
    if (job.rest < job.size) {
      LineFile& reader = *RestReader;
      BindBlockReader(reader, job.text + job.rest, job.size - job.rest);
      while (!AtEndOfData(reader)) {
        std::string_view record = ReadTextLine(reader, Spill, Plan.BytesReached);
        WriteRecordLine(Out, reader, record, Plan, Separator);
        CheckLineWritten();
      }
    }
    // A failed read comes after every line read before it.
    SetPendingIoCode(job.read_failure);
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
  Worker* Workers = nullptr;
  unsigned Made = 0;
  unsigned Started = 0;

  // The turns.
  std::mutex Lock;
  std::condition_variable Turns;
  std::size_t NextRead = 0;
  std::size_t NextWrite = 0;
  bool Reading = false;
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
  shape.Converters = std::max(cpus, 1u);
  // A worker holds a text block (and one read beyond it) and an output
  // block of twice that.
  const std::size_t per_worker = kInFlightBudget / shape.Converters;
  const std::size_t block =
      per_worker > 2 * kSmallestBlock ? (per_worker - 2 * kSmallestBlock) / 3 : 0;
  shape.BlockBytes =
      std::clamp(block / kSmallestBlock * kSmallestBlock, kSmallestBlock, kLargestBlock);
  // A record's text is at most twice its bytes plus four per field: only
  // blocks of short records with many quoted fields fill twice their size.
  shape.OutputBytes = 2 * shape.BlockBytes + kSmallestBlock;
  return shape;
}

bool ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                     char separator, const BlockShape& shape) {
  return Blocks(text, out, spill, plan, separator, shape).Run();
}

}  // namespace tabulon
