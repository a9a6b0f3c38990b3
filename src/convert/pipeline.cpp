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

std::size_t JobsFor(unsigned converters) {
  return 2 * static_cast<std::size_t>(converters) + 2;
}

// One block: its text, cut after a line end, and what the converter made.
struct Job {
  char* text = nullptr;
  std::size_t size = 0;
  char* output = nullptr;
  std::size_t output_size = 0;
  std::size_t rest = 0;  // lines from here on did not fit the output block
  std::exception_ptr error;
  bool done = false;
};

struct Converter;

// What the threads share. Jobs go round a ring: the calling thread fills job
// `filled`, converters take them in order, and the calling thread writes
// job `written` once it is done.
struct Ring {
  std::mutex lock;
  std::condition_variable work;      // a job was filled, or stop
  std::condition_variable finished;  // a job was converted
  Job* jobs = nullptr;
  std::size_t job_count = 0;
  std::size_t filled = 0;
  std::size_t taken = 0;
  bool stop = false;

  const RecordPlan* plan = nullptr;
  char separator = ',';
  std::size_t output_capacity = 0;

  Job& JobAt(std::size_t index) { return jobs[index % job_count]; }
};

struct Converter {
  Ring* ring = nullptr;
  LineFile reader;
  LineFile sink;
  SpillBuffer spill;
  platform::Thread thread;
};

// The room a record needs in an output block: its longest text (no field
// cuts more than the record's bytes), the copy slack and the line end.
std::size_t RoomFor(const RecordPlan& plan, std::size_t record_size) {
  const std::size_t by_fields = plan.Fields.size() * LongestFieldText(record_size);
  return std::min(plan.LongestText, by_fields) + kCopySlack + kLineEndRoom;
}

void ConvertJob(Converter& self, Job& job) {
  const Ring& ring = *self.ring;
  const RecordPlan& plan = *ring.plan;
  BindBlockReader(self.reader, job.text, job.size);
  BindBlockWriter(self.sink, job.output, ring.output_capacity);
  job.rest = job.size;
  try {
    while (!AtEndOfData(self.reader)) {
      std::size_t start = BlockOffset(self.reader);
      std::string_view record = ReadTextLine(self.reader, self.spill, plan.BytesReached);
      if (RoomFor(plan, record.size()) >= BlockRoom(self.sink)) {
        job.rest = start;
        break;
      }
      WriteRecordLine(self.sink, self.reader, record, plan, ring.separator);
    }
    CheckIo();
  } catch (...) {
    job.error = std::current_exception();
  }
  job.output_size = self.sink.Position;
}

void RunConverter(void* argument) {
  Converter& self = *static_cast<Converter*>(argument);
  Ring& ring = *self.ring;
  std::unique_lock<std::mutex> hold(ring.lock);
  for (;;) {
    ring.work.wait(hold, [&ring] { return ring.stop || ring.taken < ring.filled; });
    if (ring.stop) return;
    Job& job = ring.JobAt(ring.taken++);
    hold.unlock();
    ConvertJob(self, job);
    hold.lock();
    job.done = true;
    ring.finished.notify_one();
  }
}

// The memory of a run in blocks, taken from the system in one piece: the
// ring's jobs and buffers, the converters, and the calling thread's reader
// for the lines a converter left.
class Blocks {
 public:
  Blocks(const BlockShape& shape, std::size_t read_capacity) : shape_(shape) {
    text_capacity_ = shape.BlockBytes + read_capacity;
    ring_.job_count = JobsFor(shape.Converters);
    ring_.output_capacity = shape.OutputBytes;
    size_ = Align(ring_.job_count * sizeof(Job)) + Align(shape.Converters * sizeof(Converter)) +
            Align(sizeof(LineFile)) + ring_.job_count * (text_capacity_ + ring_.output_capacity);
    memory_ = static_cast<char*>(platform::ResizeBlock(nullptr, 0, size_));
    if (memory_ == nullptr) return;
    char* next = memory_;
    ring_.jobs = reinterpret_cast<Job*>(next);
    next += Align(ring_.job_count * sizeof(Job));
    converters_ = reinterpret_cast<Converter*>(next);
    next += Align(shape.Converters * sizeof(Converter));
    rest_reader_ = new (next) LineFile;
    next += Align(sizeof(LineFile));
    for (std::size_t i = 0; i < ring_.job_count; ++i) {
      Job* job = new (&ring_.jobs[i]) Job;
      job->text = next;
      job->output = next + text_capacity_;
      next += text_capacity_ + ring_.output_capacity;
    }
    // A line of a block is never longer than the block: the converters'
    // spill buffers never grow once they hold that much.
    for (; made_ < shape.Converters; ++made_) {
      Converter* converter = new (&converters_[made_]) Converter;
      converter->ring = &ring_;
      if (!converter->spill.Reserve(text_capacity_)) {
        converter->~Converter();
        break;
      }
    }
  }

  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;

  ~Blocks() {
    {
      std::lock_guard<std::mutex> hold(ring_.lock);
      ring_.stop = true;
    }
    ring_.work.notify_all();
    for (unsigned i = 0; i < started_; ++i) platform::JoinThread(converters_[i].thread);
    for (unsigned i = 0; i < made_; ++i) converters_[i].~Converter();
    if (memory_ == nullptr) return;
    for (std::size_t i = 0; i < ring_.job_count; ++i) ring_.jobs[i].~Job();
    rest_reader_->~LineFile();
    platform::FreeBlock(memory_, size_);
  }

  // Starts the converters; false when not even one could be had.
  bool Start(const RecordPlan& plan, char separator) {
    if (memory_ == nullptr) return false;
    ring_.plan = &plan;
    ring_.separator = separator;
    while (started_ < made_ && platform::StartThread(converters_[started_].thread, RunConverter,
                                                     &converters_[started_])) {
      ++started_;
    }
    return started_ > 0;
  }

  Ring& ring() { return ring_; }
  std::size_t text_capacity() const { return text_capacity_; }
  LineFile& rest_reader() { return *rest_reader_; }

 private:
  static std::size_t Align(std::size_t size) { return (size + 63) / 64 * 64; }

  BlockShape shape_;
  Ring ring_;
  std::size_t text_capacity_ = 0;
  std::size_t size_ = 0;
  char* memory_ = nullptr;
  Converter* converters_ = nullptr;
  LineFile* rest_reader_ = nullptr;
  unsigned made_ = 0;
  unsigned started_ = 0;
};

// How the filling of a block ended.
enum class Fill {
  Lines,     // whole lines, and the data goes on
  LongLine,  // the block holds part of one line only
  End,       // the data has ended (at its end, a Ctrl-Z or a failed read)
};

// The calling thread's side: reads the text into blocks, hands them to the
// converters and writes their output in order.
class Feeder {
 public:
  Feeder(Blocks& blocks, LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
         char separator, std::size_t block_bytes)
      : blocks_(blocks),
        ring_(blocks.ring()),
        text_(text),
        out_(out),
        spill_(spill),
        plan_(plan),
        separator_(separator),
        block_bytes_(block_bytes) {}

  void Run() {
    carry_ = TakeBuffered(text_, ring_.JobAt(0).text);
    carry_from_ = ring_.JobAt(0).text;
    bool ended = false;
    for (;;) {
      while (!ended && ring_.filled - written_ < ring_.job_count) {
        Job& job = ring_.JobAt(ring_.filled);
        switch (FillJob(job)) {
          case Fill::LongLine:
            WriteAllFilled();
            ConvertLongLine(job);
            continue;
          case Fill::End:
            ended = true;
            break;
          case Fill::Lines:
            break;
        }
        Publish(job);
      }
      if (written_ == ring_.filled) break;
      WriteNext();
    }
    // A failed read comes after every line read before it.
    SetPendingIoCode(read_failure_);
    CheckTextRead();
  }

 private:
  // Fills the next job from the carried bytes (already at the start of its
  // text) and the file: pieces of the file's own size, as its refills would
  // ask for, while a piece still fits.
  Fill FillJob(Job& job) {
    char* text = job.text;
    std::size_t fill = carry_;
    if (carry_from_ != text) std::memcpy(text, carry_from_, fill);
    carry_ = 0;
    if (const void* stop = std::memchr(text, kEndOfData, fill)) {
      job.size = static_cast<std::size_t>(static_cast<const char*>(stop) - text);
      return Fill::End;
    }
    while (fill <= block_bytes_) {
      std::size_t count = ReadPiece(text_, text + fill);
      if (PendingIoCode != 0) {
        // The lines read in full before the failure are converted; the
        // part of a line after the last line end is not.
        read_failure_ = PendingIoCode;
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
    if (job.size == 0) {
      carry_ = fill;
      carry_from_ = text;
      return Fill::LongLine;
    }
    // The next job starts with the part of a line after the last line end
    // (copied once that job's memory is free).
    carry_ = fill - job.size;
    carry_from_ = text + job.size;
    return Fill::Lines;
  }

  // The end of the last whole line in [text, text + size), or 0.
  static std::size_t LinesEnd(const char* text, std::size_t size) {
    std::size_t end = std::string_view(text, size).rfind(kLineFeed);
    return end == std::string_view::npos ? 0 : end + 1;
  }

  void Publish(Job& job) {
    job.done = false;
    job.error = nullptr;
    {
      std::lock_guard<std::mutex> hold(ring_.lock);
      ++ring_.filled;
    }
    ring_.work.notify_one();
  }

  void WriteAllFilled() {
    while (written_ < ring_.filled) WriteNext();
  }

  // Waits for the oldest job and writes it.
  void WriteNext() {
    Job& job = ring_.JobAt(written_);
    {
      std::unique_lock<std::mutex> hold(ring_.lock);
      ring_.finished.wait(hold, [&job] { return job.done; });
    }
    AppendLines(out_, job.output, job.output_size);
    CheckLineWritten();
    if (job.error) std::rethrow_exception(job.error);
    if (job.rest < job.size) {
      LineFile& reader = blocks_.rest_reader();
      BindBlockReader(reader, job.text + job.rest, job.size - job.rest);
      while (!AtEndOfData(reader)) {
        std::string_view record = ReadTextLine(reader, spill_, plan_.BytesReached);
        WriteRecordLine(out_, reader, record, plan_, separator_);
        CheckLineWritten();
      }
    }
    ++written_;
  }

  // A line longer than a block: every earlier line is written, and this one
  // is read and converted as the line-by-line loop would, with the text
  // file reading on in the job's memory. Its first bytes are in the job.
  void ConvertLongLine(Job& job) {
    std::size_t rest;
    {
      LentBuffer lent(text_, job.text, carry_);
      bool ended = AtEndOfData(text_);
      CheckTextRead();
      if (!ended) {
        std::string_view record = ReadTextLine(text_, spill_, plan_.BytesReached);
        CheckTextRead();
        WriteRecordLine(out_, text_, record, plan_, separator_);
        CheckLineWritten();
      }
      rest = lent.RestSize();
      std::memmove(job.text, lent.RestData(), rest);
    }
    carry_ = rest;
    carry_from_ = job.text;
  }

  Blocks& blocks_;
  Ring& ring_;
  LineFile& text_;
  LineFile& out_;
  SpillBuffer& spill_;
  const RecordPlan& plan_;
  char separator_;
  std::size_t block_bytes_;
  std::size_t carry_ = 0;             // bytes of a line begun, for the next job's text ...
  const char* carry_from_ = nullptr;  // ... where they are now
  std::size_t written_ = 0;
  std::int32_t read_failure_ = 0;
};

}  // namespace

BlockShape BlockShapeFor(unsigned cpus) {
  BlockShape shape;
  shape.Converters = std::max(cpus, 1u);
  const std::size_t per_job = kInFlightBudget / JobsFor(shape.Converters);
  // A job holds its text block and an output block of twice that.
  std::size_t block = per_job / 3 / kSmallestBlock * kSmallestBlock;
  shape.BlockBytes = std::clamp(block, kSmallestBlock, kLargestBlock);
  // A record's text is at most twice its bytes plus four per field: only
  // blocks of short records with many quoted fields fill twice their size.
  shape.OutputBytes = 2 * shape.BlockBytes + kSmallestBlock;
  return shape;
}

bool ConvertInBlocks(LineFile& text, LineFile& out, SpillBuffer& spill, const RecordPlan& plan,
                     char separator, const BlockShape& shape) {
  Blocks blocks(shape, text.Capacity);
  if (!blocks.Start(plan, separator)) return false;
  Feeder(blocks, text, out, spill, plan, separator, shape.BlockBytes).Run();
  return true;
}

}  // namespace tabulon
