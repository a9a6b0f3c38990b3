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
  platform::FreeBlock(data_, capacity_);
}

void SpillBuffer::append(const char* data, std::size_t size) {
  if (size == 0) return;
  if (size > capacity_ - size_) Grow(size);
  std::memcpy(data_ + size_, data, size);
  size_ += size;
}

bool SpillBuffer::Reserve(std::size_t size) {
  if (size <= capacity_) return true;
  void* grown = platform::ResizeBlock(data_, capacity_, size);
  if (grown == nullptr) return false;
  data_ = static_cast<char*>(grown);
  capacity_ = size;
  return true;
}

void SpillBuffer::Grow(std::size_t needed) {
  if (needed > static_cast<std::size_t>(-1) / 2 - size_) throw std::bad_alloc();
  std::size_t capacity = std::max(capacity_ == 0 ? kFirstCapacity : capacity_ * 2, size_ + needed);
  void* grown = platform::ResizeBlock(data_, capacity_, capacity);
  if (grown == nullptr) {
    // Out of memory as operator new reports it: the new-handler notes where.
    if (std::new_handler handler = std::get_new_handler()) handler();
    throw std::bad_alloc();
  }
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

}  // namespace tabulon
