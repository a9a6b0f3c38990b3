// Deterministic workload generator for the throughput benchmarks.
//
//   datagen SHAPE SIZE PARAMS_OUT TEXT_OUT [SEED]
//
// SHAPE is mixed, narrow or wide (workload.h describes them); SIZE is the
// text file's size in bytes (suffixes K, M, G; the file ends at the last
// whole record that fits), each record ending in CR LF. The same arguments
// always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "workload.h"

namespace {

using workload::Field;
using workload::Rng;

std::uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  std::uint64_t value = std::strtoull(text, &end, 10);
  switch (*end) {
    case 'K':
    case 'k':
      return value << 10;
    case 'M':
    case 'm':
      return value << 20;
    case 'G':
    case 'g':
      return value << 30;
    default:
      return value;
  }
}

bool WriteParams(const char* name, const std::vector<Field>& fields) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "# type, width, trim, header\n");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Field& field = fields[i];
    std::fprintf(f, "%c,%d,%s,F%zu\n", field.TypeCode, field.Width,
                 field.TrimCode != 0 ? std::string(1, field.TrimCode).c_str() : "", i);
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: datagen mixed|narrow|wide|quoted SIZE PARAMS_OUT TEXT_OUT [SEED]\n");
    return 2;
  }
  std::vector<Field> fields = workload::Layout(argv[1]);
  if (fields.empty()) {
    std::fprintf(stderr, "datagen: unknown shape %s\n", argv[1]);
    return 2;
  }
  std::uint64_t size = ParseSize(argv[2]);
  Rng rng{argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1};
  if (!WriteParams(argv[3], fields)) {
    std::perror(argv[3]);
    return 1;
  }
  std::FILE* text = std::fopen(argv[4], "wb");
  if (text == nullptr) {
    std::perror(argv[4]);
    return 1;
  }
  std::string record;
  std::string chunk;
  std::uint64_t written = 0;
  for (;;) {
    record.clear();
    workload::AppendRecord(record, fields, rng);
    record += "\r\n";
    if (written + record.size() > size) break;
    written += record.size();
    chunk += record;
    if (chunk.size() >= (1u << 20)) {
      std::fwrite(chunk.data(), 1, chunk.size(), text);
      chunk.clear();
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), text);
  if (std::fclose(text) != 0) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
