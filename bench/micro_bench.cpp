// Micro-benchmarks of the per-record path: the line reader, the record
// conversion (AppendRecord), the trims and quoting. The line files run on
// the memory device: the refill copies from a prepared block and the
// write-out discards, so no system call is timed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/record.h"
#include "convert/transforms.h"
#include "params/field_table.h"
#include "textio/line_file.h"
#include "textio/memory_device.h"

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

// Record text of the "mixed" layout: 118 bytes with double-byte text,
// full-width blanks, padded numbers and the occasional comma and quote.
std::vector<std::string> MixedRecords() {
  return {
      std::string("000123") + "\x83\x81\x83\x43\x83\x93\x81\x40\x8a\xbf\x8e\x9a\x81\x40\x81\x40" +
          "    " + " 123-45 " + "  -0012.50" + "     Hello World" + "ABCD" + "  a,b\"c\"   " +
          "20240101" + "text      " + "\x81\x40\x82\xa0\x82\xa2\x81\x40\x81\x40\x81\x40\x81\x40" +
          "  1234" + "WXYZ",
      std::string("000001") + "\x88\x9f\x88\xa0\x88\xa1\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40" +
          "    " + "1,234   " + "0000000042" + "   plain text a " + "AB  " + "    xyz     " +
          "20231231" + "abcdefghij" + "\x83\x81@\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40 " +
          "    12" + "QRST",
  };
}

FieldTable MixedTable() {
  FieldTable t;
  const char types[] = {'E', 'X', 'E', 'N', 'X', 'N', 'X', 'E', 'N', 'X', 'E', 'N'};
  const int widths[] = {6, 20, 8, 10, 16, 4, 12, 8, 10, 14, 6, 4};
  const char trims[] = {'Z', 'R', 'T', 'Z', 'L', ' ', 'T', ' ', 'R', 'T', 'L', ' '};
  for (int i = 0; i < 12; ++i) {
    t.TypeCodes.push_back(static_cast<unsigned char>(types[i]));
    t.Widths.push_back(widths[i]);
    t.TrimCodes.push_back(static_cast<unsigned char>(trims[i]));
    t.HeaderNames.emplace_back(1, static_cast<char>('A' + i));
  }
  t.FieldCount = 12;
  return t;
}

FieldTable UniformTable(int fields, int width) {
  FieldTable t;
  const char types[] = {'X', 'E', 'N'};
  const char trims[] = {'L', 'R', 'T', 'Z', ' '};
  for (int i = 0; i < fields; ++i) {
    t.TypeCodes.push_back(static_cast<unsigned char>(types[i % 3]));
    t.Widths.push_back(width);
    t.TrimCodes.push_back(static_cast<unsigned char>(trims[i % 5]));
    t.HeaderNames.emplace_back();
  }
  t.FieldCount = fields;
  return t;
}

std::string UniformRecord(int fields, int width) {
  std::string r;
  for (int i = 0; i < fields; ++i) {
    std::string v = std::to_string(i * 7919);
    if (static_cast<int>(v.size()) > width) v.resize(static_cast<std::size_t>(width));
    std::string pad(static_cast<std::size_t>(width) - v.size(), ' ');
    r += i % 2 == 0 ? pad + v : v + pad;
  }
  return r;
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

void RunRecords(benchmark::State& state, const FieldTable& table,
                const std::vector<std::string>& records) {
  RecordPlan plan = MakePlan(table);
  static LineFile out;
  OpenDiscardWriter(out);
  // Each record followed by its line end and more bytes, as in the read
  // buffer, so that the masked path may read past it.
  std::vector<std::string> lines;
  for (const std::string& record : records) lines.push_back(record + "\r\n" + record);
  std::size_t bytes = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& line = lines[i];
    const std::size_t size = records[i].size();
    i = i + 1 == records.size() ? 0 : i + 1;
    BeginText(out);
    AppendRecord(out, std::string_view(line.data(), size), plan, ',', line.size() - size);
    WriteLineEnd(out);
    bytes += size + 2;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_AppendRecordMixed(benchmark::State& state) {
  RunRecords(state, MixedTable(), MixedRecords());
}
BENCHMARK(BM_AppendRecordMixed);

void BM_AppendRecordNarrow(benchmark::State& state) {
  RunRecords(state, UniformTable(100, 4), {UniformRecord(100, 4)});
}
BENCHMARK(BM_AppendRecordNarrow);

void BM_AppendRecordWide(benchmark::State& state) {
  RunRecords(state, UniformTable(4, 100), {UniformRecord(4, 100)});
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
