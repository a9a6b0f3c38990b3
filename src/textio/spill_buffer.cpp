#include "textio/spill_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace tabulon {
namespace {

// The first block: a line that spans one refill of a 64 KiB buffer fits.
constexpr std::size_t kFirstCapacity = 256 * 1024;

}  // namespace

SpillBuffer::~SpillBuffer() {
  platform::FreeBlock(Data, Capacity);
}

void SpillBuffer::append(const char* data, std::size_t size) {
  if (size == 0) return;
  if (size > Capacity - Size) Grow(size);
  std::memcpy(Data + Size, data, size);
  Size += size;
}

bool SpillBuffer::Reserve(std::size_t size) {
  if (size <= Capacity) return true;
  void* grown = platform::ResizeBlock(Data, Capacity, size);
  if (grown == nullptr) return false;
  Data = static_cast<char*>(grown);
  Capacity = size;
  return true;
}

void SpillBuffer::Grow(std::size_t needed) {
  if (needed > static_cast<std::size_t>(-1) / 2 - Size) throw std::bad_alloc();
  std::size_t capacity = std::max(Capacity == 0 ? kFirstCapacity : Capacity * 2, Size + needed);
  void* grown = platform::ResizeBlock(Data, Capacity, capacity);
  if (grown == nullptr) {
    // Out of memory as operator new reports it: the new-handler notes where.
    if (std::new_handler handler = std::get_new_handler()) handler();
    throw std::bad_alloc();
  }
  Data = static_cast<char*>(grown);
  Capacity = capacity;
}

}  // namespace tabulon
