// Fuzz target: reading lines from arbitrary bytes at many buffer capacities.
//
// The first input bytes choose two extra capacities (1 to 8 and 1 to 512) and
// how lines are read; the rest is the file. A read that keeps only the first
// bytes of each line must deliver exactly those and still consume the line. At every capacity the
// lines read must be the same, must match the line rules read independently, and the lines plus the
// line ends that were removed must give back the data up to its first Ctrl-Z less the dropped CRs.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/reference_model.h"
#include "fuzz_support.h"
#include "support/owned_forms.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

LineFile reader;  // static: the record holds its whole buffer

std::vector<std::string> ReadAll(const std::string& name, std::uint32_t capacity,
                                 std::uint8_t style, std::size_t keep = std::size_t(-1)) {
  BindName(reader, name, capacity);
  OpenForReading(reader);
  FUZZ_CHECK(PendingIoCode == 0);
  std::vector<std::string> lines;
  SpillBuffer spill;
  for (;;) {
    if (AtEndOfData(reader)) break;
    // Vary the calls between the view and the owned form of the read.
    if ((style >> (lines.size() % 8)) & 1) {
      lines.emplace_back(ReadTextLine(reader));
    } else {
      lines.emplace_back(ReadTextLine(reader, spill, keep));
    }
    FUZZ_CHECK(PendingIoCode == 0);
  }
  // The end, once met, stays: no further line and no further data.
  FUZZ_CHECK(AtEndOfData(reader));
  FUZZ_CHECK(ReadTextLine(reader).empty());
  FUZZ_CHECK(AtEndOfData(reader));
  CloseLineFile(reader);
  FUZZ_CHECK(PendingIoCode == 0);
  return lines;
}

void CheckLines(std::string_view data, const std::vector<std::string>& lines) {
  // The data up to the first Ctrl-Z, without any CR: a dropped CR is gone,
  // and the CR of a CR LF pair is part of the removed line end.
  std::string kept;
  for (char c : data) {
    if (c == 0x1A) break;
    if (c != '\r') kept += c;
  }
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (char c : lines[i]) FUZZ_CHECK(c != '\r' && c != '\n' && c != 0x1A);
    if (i > 0) joined += '\n';
    joined += lines[i];
  }
  FUZZ_CHECK(joined == kept || joined + '\n' == kept);
}

}  // namespace
}  // namespace tabulon

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  static fuzz::MemoryFile file("line-reader");
  fuzz::InputReader input(data, size);
  std::uint8_t choice = input.Byte();
  std::uint32_t tiny = 1u + (choice & 7u);
  std::uint32_t extra = 1u + input.Byte() + ((choice >> 3) & 1u) * 256u;
  std::uint8_t style = input.Byte();
  std::size_t keep = input.Byte();
  std::string_view text = input.Rest();
  file.Store(text);

  const std::vector<std::string> expected = reference::TextLines(std::string(text));
  CheckLines(text, expected);
  for (std::uint32_t capacity : {tiny, 3u, 128u, 255u, kFileCapacity, extra}) {
    FUZZ_CHECK(ReadAll(file.Name(), capacity, style) == expected);
  }
  std::vector<std::string> kept = expected;
  for (std::string& line : kept) line.resize(std::min(line.size(), keep));
  FUZZ_CHECK(ReadAll(file.Name(), extra, 0, keep) == kept);
  FUZZ_CHECK(ReadAll(file.Name(), tiny, 0, keep) == kept);
  return 0;
}
