// Micro-benchmarks of the per-record path: the line reader, the record
// conversion (AppendRecord), the trims and quoting. The line files run on
// the memory device: the refill copies from a prepared block and the
// write-out discards, so no system call is timed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "convert/record.h"
#include "convert/transforms.h"
#include "params/field_table.h"
#include "support/memory_device.h"
#include "support/value_forms.h"
#include "textio/line_file.h"
#include "workload.h"

namespace tabulon {
namespace {

// --- memory-backed line files ---------------------------------------------

MemoryDevice g_reader_device;
MemoryDevice g_discard_device = [] {
  MemoryDevice device;
  device.Discards = true;
  return device;
}();

void OpenDiscardWriter(LineFile& file) {
  OpenMemoryWriter(file, g_discard_device);
}

// --- sample data ------------------------------------------------------------

// The layout's FieldTable, as the data generator's parameter file gives it.
FieldTable TableOf(const std::vector<workload::Field>& fields) {
  FieldTable t;
  for (const workload::Field& f : fields) {
    t.TypeCodes.push_back(static_cast<unsigned char>(f.TypeCode));
    t.Widths.push_back(f.Width);
    t.TrimCodes.push_back(static_cast<unsigned char>(f.TrimCode));
    t.HeaderNames.emplace_back();
  }
  t.FieldCount = static_cast<std::int32_t>(fields.size());
  return t;
}

// Generated records of one layout, each followed by CR LF, one after the
// other as in the read buffer, filling about 512 KiB: enough different
// records that the branches on their bytes are not learnt.
struct Workload {
  FieldTable Table;
  std::string Text;
  std::vector<std::string_view> Records;  // views into Text, without line ends
};

Workload Generated(std::string_view shape) {
  const std::vector<workload::Field> fields = workload::Layout(shape);
  Workload w{TableOf(fields), {}, {}};
  workload::Rng rng{1};
  std::vector<std::size_t> sizes;
  std::string record;
  while (w.Text.size() < (512u << 10)) {
    record.clear();
    workload::AppendRecord(record, fields, rng);
    sizes.push_back(record.size());
    w.Text += record;
    w.Text += "\r\n";
  }
  w.Text += w.Text.substr(0, 64);  // the last record has bytes after it too
  std::size_t offset = 0;
  for (std::size_t size : sizes) {
    w.Records.emplace_back(w.Text.data() + offset, size);
    offset += size + 2;
  }
  return w;
}

// Lines of `length` bytes (plus CR LF) filling about 4 MiB.
std::string LinesOf(std::size_t length) {
  std::string line;
  for (std::size_t i = 0; i < length; ++i) line += static_cast<char>('A' + i % 26);
  line += "\r\n";
  std::string data;
  while (data.size() < (4u << 20)) data += line;
  return data;
}

// --- benchmarks ---------------------------------------------------------------

// Lines of the given length read through ReadTextLine; the second argument
// is the buffer capacity.
void BM_ReadTextLine(benchmark::State& state) {
  const std::string data = LinesOf(static_cast<std::size_t>(state.range(0)));
  g_reader_device.Source = data;
  auto capacity = static_cast<std::uint32_t>(state.range(1));
  static LineFile file;
  SpillBuffer spill;
  std::size_t bytes = 0;
  for (auto _ : state) {
    OpenMemoryReader(file, g_reader_device, capacity);
    while (!AtEndOfData(file)) {
      std::string_view line = ReadTextLine(file, spill);
      benchmark::DoNotOptimize(line.data());
    }
    bytes += data.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ReadTextLine)
    ->Args({118, kFileCapacity})
    ->Args({8, kFileCapacity})
    ->Args({400, kFileCapacity})
    ->Args({118, 4096})
    ->Args({118, 16384});

// AppendRecord over the generated records in turn; each is followed by its
// line end and more records, as in the read buffer, so that the masked path
// may read past it.
void RunRecords(benchmark::State& state, std::string_view shape) {
  const Workload w = Generated(shape);
  RecordPlan plan = MakePlan(w.Table);
  static LineFile out;
  OpenDiscardWriter(out);
  const char* text_end = w.Text.data() + w.Text.size();
  std::size_t bytes = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string_view record = w.Records[i];
    i = i + 1 == w.Records.size() ? 0 : i + 1;
    BeginText(out);
    AppendRecord(out, record, plan, ',',
                 static_cast<std::size_t>(text_end - (record.data() + record.size())));
    WriteLineEnd(out);
    bytes += record.size() + 2;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_AppendRecordMixed(benchmark::State& state) {
  RunRecords(state, "mixed");
}
BENCHMARK(BM_AppendRecordMixed);

void BM_AppendRecordNarrow(benchmark::State& state) {
  RunRecords(state, "narrow");
}
BENCHMARK(BM_AppendRecordNarrow);

void BM_AppendRecordWide(benchmark::State& state) {
  RunRecords(state, "wide");
}
BENCHMARK(BM_AppendRecordWide);

// Values padded with `range(0)` blanks (every other one a full-width blank
// when range(1) is 1) around a short body.
std::string Padded(std::int64_t blanks, bool wide, bool left) {
  std::string pad;
  for (std::int64_t i = 0; i < blanks; ++i) pad += wide && i % 2 == 0 ? "\x81\x40" : " ";
  return left ? pad + "12345" : "12345" + pad;
}

void BM_TrimLeftBlanks(benchmark::State& state) {
  std::string value = Padded(state.range(0), state.range(1) != 0, true);
  for (auto _ : state) {
    std::string_view v = value;
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(TrimLeftBlanks(v));
  }
}
BENCHMARK(BM_TrimLeftBlanks)
    ->Args({0, 0})
    ->Args({4, 0})
    ->Args({16, 0})
    ->Args({64, 0})
    ->Args({16, 1});

void BM_TrimRightBlanks(benchmark::State& state) {
  std::string value = Padded(state.range(0), state.range(1) != 0, false);
  for (auto _ : state) {
    std::string_view v = value;
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(TrimRightBlanks(v));
  }
}
BENCHMARK(BM_TrimRightBlanks)
    ->Args({0, 0})
    ->Args({4, 0})
    ->Args({16, 0})
    ->Args({64, 0})
    ->Args({16, 1});

void BM_StripLeadingLow(benchmark::State& state) {
  std::string value = std::string(static_cast<std::size_t>(state.range(0)), '0') + "12345";
  for (auto _ : state) {
    std::string_view v = value;
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(StripLeadingLow(v));
  }
}
BENCHMARK(BM_StripLeadingLow)->Arg(0)->Arg(4)->Arg(16);

// AppendQuoted into a line file: a value of range(0) bytes holding range(1)
// double quotes.
void BM_AppendQuoted(benchmark::State& state) {
  std::string value(static_cast<std::size_t>(state.range(0)), 'a');
  for (std::int64_t i = 0; i < state.range(1); ++i) {
    value[static_cast<std::size_t>((i * 7) % state.range(0))] = '"';
  }
  static LineFile out;
  OpenDiscardWriter(out);
  for (auto _ : state) {
    BeginText(out);
    AppendQuoted(value, [&](const char* data, std::size_t size) { AppendText(out, data, size); });
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendQuoted)->Args({12, 0})->Args({12, 2})->Args({100, 0})->Args({100, 4});

void BM_QuoteField(benchmark::State& state) {
  std::string value = "abc\"def\"ghijk";
  for (auto _ : state) benchmark::DoNotOptimize(QuoteField(value));
}
BENCHMARK(BM_QuoteField);

}  // namespace
}  // namespace tabulon

BENCHMARK_MAIN();
