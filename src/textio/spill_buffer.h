// SpillBuffer: where a line is gathered when it does not lie in one piece in
// the read buffer. It keeps its memory from line to line and grows by
// doubling; the memory comes from platform::ResizeBlock, so a huge line grows
// in place instead of being copied at every doubling.
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon {

class SpillBuffer {
 public:
  SpillBuffer() = default;
  SpillBuffer(const SpillBuffer&) = delete;
  SpillBuffer& operator=(const SpillBuffer&) = delete;
  ~SpillBuffer();

  void clear() { Size = 0; }
  // Raises std::bad_alloc (through the new-handler, as operator new does)
  // when memory runs out; the bytes gathered so far stay.
  void append(const char* data, std::size_t size);
  // Makes room for `size` bytes in all, so that appends up to that many never
  // need memory; unlike append, false (not an error) when memory runs out.
  bool Reserve(std::size_t size);

  const char* data() const { return Data; }
  std::size_t size() const { return Size; }
  operator std::string_view() const { return {Data, Size}; }

 private:
  void Grow(std::size_t needed);

  char* Data = nullptr;
  std::size_t Size = 0;
  std::size_t Capacity = 0;
};

}  // namespace tabulon
