// A memory device: LineFile actions over memory instead of a file, for the
// unit tests, the benchmarks and the fuzz targets. A reader refills from a
// view; a writer collects what is written out (or discards it). No system
// call is made, and the flush after a line end does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/line_file.h"

namespace tabulon {

struct MemoryDevice {
  std::string_view Source;  // what a reader delivers; must outlive the reading
  std::size_t SourceAt = 0;
  std::size_t Piece = 0;      // non-zero: refills of 1 to Piece bytes, varying, as from a pipe
  std::string Written;        // what a writer has written out
  bool Discards = false;      // a writer drops what it writes out
  std::int32_t FailCode = 0;  // non-zero: every transfer fails with this code
  bool Poisons = false;       // a refill puts LF bytes after the data, up to the capacity's end
};

// Binds `file` to `device` and opens it for reading or writing, with the
// usable buffer `capacity`. The device must stay in place while the file
// uses it; binding the file again (or to another device) releases it.
void OpenMemoryReader(LineFile& file, MemoryDevice& device, std::uint32_t capacity = kFileCapacity);
void OpenMemoryWriter(LineFile& file, MemoryDevice& device, std::uint32_t capacity = kFileCapacity);

// Everything a memory writer has written, the buffer included (writes it out).
std::string& WrittenSoFar(LineFile& file, MemoryDevice& device);

}  // namespace tabulon
