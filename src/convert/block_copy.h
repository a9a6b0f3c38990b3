// Copies of field values into the output buffer. Short copies take no
// library call; longer ones move whole blocks and may write past their end
// into the room the output buffer keeps for that (kCopySlack).
#pragma once

#include <cstddef>
#include <cstring>

#include "convert/inline.h"

namespace tabulon {

inline constexpr std::size_t kCopyBlock = 16;
// The output buffer keeps this many bytes of room beyond a record's longest
// text, so that copies may run over in whole blocks.
inline constexpr std::size_t kCopySlack = 2 * kCopyBlock;

// Copies n bytes exactly; short copies without a library call.
inline char* CopyExact(char* out, const char* from, std::size_t n) {
  if (n <= 16) {
    if (n >= 8) {
      std::memcpy(out, from, 8);
      std::memcpy(out + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
      std::memcpy(out, from, 4);
      std::memcpy(out + n - 4, from + n - 4, 4);
    } else {
      for (std::size_t i = 0; i < n; ++i) out[i] = from[i];
    }
    return out + n;
  }
  std::memcpy(out, from, n);
  return out + n;
}

// Copies n bytes in whole blocks when the source has them up to
// `source_end` (may write up to kCopySlack - 1 bytes beyond out + n; later
// text overwrites them). A value of up to two blocks, the usual case, takes
// two moves and no branch on its length.
inline char* CopyInBlocks(char* out, const char* from, std::size_t n, const char* source_end) {
  const auto available = static_cast<std::size_t>(source_end - from);
  if (n <= 2 * kCopyBlock && available >= 2 * kCopyBlock) {
    std::memcpy(out, from, kCopyBlock);
    std::memcpy(out + kCopyBlock, from + kCopyBlock, kCopyBlock);
    return out + n;
  }
  if (available < n + kCopyBlock - 1) return CopyExact(out, from, n);
  for (std::size_t i = 0; i < n; i += kCopyBlock) std::memcpy(out + i, from + i, kCopyBlock);
  return out + n;
}

}  // namespace tabulon
