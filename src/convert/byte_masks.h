// Byte classes of a short value as bit masks: bit k stands for byte k.
//
// A value of up to 64 bytes is loaded once into 16-byte vector registers;
// each class (a blank, a lead byte, a byte of 0x30 and below, ...) then
// costs a compare and a move-mask per block, and the trims become a few bit
// operations with no branch on the bytes themselves. Only built where SSE2
// is part of the target (every x86-64 build); elsewhere the record path
// keeps its eight-byte scans.
#pragma once

#include "base/cp932.h"
#include "base/simd.h"

#if TABULON_SSE2
#define TABULON_BYTE_MASKS 1
#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tabulon::masks {

// The lead-byte ranges with bit kLeadFlip flipped: 0xA1 to 0xDC.
inline constexpr char kLeadFlip = 0x20;
inline constexpr ByteRange kFlippedLead{kLeadLow.First ^ kLeadFlip, kLeadHigh.Last ^ kLeadFlip};

constexpr bool FlippedLeadMatchesIsLeadByte() {
  for (unsigned v = 0; v < 256; ++v) {
    auto b = static_cast<unsigned char>(v);
    if (IsLeadByte(b) != InRange(kFlippedLead, static_cast<unsigned char>(b ^ kLeadFlip))) {
      return false;
    }
  }
  return true;
}
static_assert(FlippedLeadMatchesIsLeadByte());
static_assert(kFlippedLead.Last - kFlippedLead.First < 127, "the range fits below 0 once moved");

// A class of bytes: those b with b ^ Flip in Range.
struct ByteClass {
  unsigned char Flip;
  ByteRange Range;
};
constexpr ByteClass Only(unsigned char c) {
  return {0, {c, c}};
}
constexpr ByteClass UpTo(unsigned char c) {
  return {0, {0, c}};
}
// Lead bytes of code page 932 (IsLeadByte): one range once bit 0x20 is
// flipped, which moves 0xE0 to 0xFC right after 0x81 to 0x9F.
inline constexpr ByteClass kLeadBytes{static_cast<unsigned char>(kLeadFlip), kFlippedLead};

// The masks of two classes; the bits from the value's end up are not
// defined, so every user keeps the value's own bits only.
struct ClassPair {
  std::uint64_t First;
  std::uint64_t Second;
};

// Bytes of `range` as 0xFF, once moved to start at -128, so that one
// signed compare tells them from the rest (one instruction fewer than
// clamping): `low_end` is 0x80 - First of each byte lane, `bound` 0x80 plus
// the range's size.
inline __m128i InRangeMask(__m128i v, __m128i low_end, __m128i bound) {
  return _mm_cmpgt_epi8(bound, _mm_add_epi8(v, low_end));
}

// A class's `low_end` and `bound` for InRangeMask, and whether it is one
// byte value, told by a compare for equality.
constexpr int LowEndOf(ByteClass c) {
  return 0x80 - c.Range.First;
}
constexpr int BoundOf(ByteClass c) {
  return 0x80 + (c.Range.Last - c.Range.First + 1);
}
constexpr bool IsOneValue(ByteClass c) {
  return c.Flip == 0 && c.Range.First == c.Range.Last;
}

// The byte mask of `v` against one class in each group of its lanes:
// Lanes::Of(x...) spreads one value per class over that class's lanes.
template <typename Lanes, ByteClass... kClass>
unsigned LanesMask(__m128i v) {
  if constexpr ((IsOneValue(kClass) && ...)) {
    v = _mm_cmpeq_epi8(v, Lanes::Of(kClass.Range.First...));
  } else {
    if constexpr (((kClass.Flip != 0) || ...)) v = _mm_xor_si128(v, Lanes::Of(kClass.Flip...));
    v = InRangeMask(v, Lanes::Of(LowEndOf(kClass)...), Lanes::Of(BoundOf(kClass)...));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(v));
}

// 16 * kBlocks bytes from p, all readable.
template <std::size_t kBlocks>
class ValueBytes {
 public:
  explicit ValueBytes(const char* p) {
    for (std::size_t i = 0; i < kBlocks; ++i) {
      Blocks[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    }
  }

  // Stores the 16 * kBlocks bytes at p.
  void StoreTo(char* p) const {
    for (std::size_t i = 0; i < kBlocks; ++i) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * i), Blocks[i]);
    }
  }

  std::uint64_t Equal(unsigned char c) const {
    const __m128i k = _mm_set1_epi8(static_cast<char>(c));
    return Collect([k](__m128i v) { return _mm_cmpeq_epi8(v, k); });
  }

  std::uint64_t AtMost(unsigned char c) const {
    const __m128i k = _mm_set1_epi8(static_cast<char>(c));
    return Collect([k](__m128i v) { return _mm_cmpeq_epi8(_mm_min_epu8(v, k), v); });
  }

  template <ByteClass kClass>
  std::uint64_t Of() const {
    constexpr ByteRange r = kClass.Range;
    if constexpr (kClass.Flip == 0 && r.First == r.Last) {
      return Equal(r.First);
    } else if constexpr (kClass.Flip == 0 && r.First == 0) {
      return AtMost(r.Last);
    } else {
      return Collect([](__m128i v) {
        return InRangeMask(_mm_xor_si128(v, _mm_set1_epi8(static_cast<char>(kClass.Flip))),
                           _mm_set1_epi8(static_cast<char>(LowEndOf(kClass))),
                           _mm_set1_epi8(static_cast<char>(BoundOf(kClass))));
      });
    }
  }

  template <ByteClass kFirst, ByteClass kSecond>
  ClassPair Pair() const {
    return {Of<kFirst>(), Of<kSecond>()};
  }

 private:
  template <typename Compare>
  std::uint64_t Collect(Compare compare) const {
    std::uint64_t m = 0;
    for (std::size_t i = 0; i < kBlocks; ++i) {
      auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(compare(Blocks[i])));
      m |= std::uint64_t{bits} << (16 * i);
    }
    return m;
  }

  __m128i Blocks[kBlocks];
};

// Eight bytes from p (16 readable) in both halves of one register: a
// compare against a constant that holds one class in each half gives two
// classes in one mask, bits 0 to 7 and 8 to 15, for the instructions of one.
class PairedBytes {
 public:
  explicit PairedBytes(const char* p)
      : Once(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
        Both(_mm_unpacklo_epi64(Once, Once)) {}

  void StoreTo(char* p) const { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), Once); }

  // A class on its own takes the bytes once, so that a value with no pair
  // of classes is never doubled.
  template <ByteClass kClass>
  std::uint64_t Of() const {
    return Mask<kClass, kClass>(Once);
  }

  template <ByteClass kFirst, ByteClass kSecond>
  ClassPair Pair() const {
    const std::uint64_t m = Mask<kFirst, kSecond>(Both);
    return {m, m >> 8};
  }

 private:
  // Eight bytes of `low` then eight of `high`, taken modulo 256.
  struct Halves {
    static __m128i Of(int low, int high) {
      constexpr std::uint64_t kEach = 0x0101010101010101;
      return _mm_set_epi64x(static_cast<long long>(kEach * static_cast<unsigned char>(high)),
                            static_cast<long long>(kEach * static_cast<unsigned char>(low)));
    }
  };

  template <ByteClass kFirst, ByteClass kSecond>
  static std::uint64_t Mask(__m128i v) {
    return LanesMask<Halves, kFirst, kSecond>(v);
  }

  __m128i Once;  // the eight bytes, then zeros
  __m128i Both;
};

// Four bytes from p in each quarter of one register: a compare against a
// constant that holds one class in each quarter gives four classes of the
// four bytes in one 16-bit mask, class k of byte i at bit 4 * k + i.
class QuadBytes {
 public:
  explicit QuadBytes(const char* p) {
    int word;
    std::memcpy(&word, p, sizeof word);
    All = _mm_shuffle_epi32(_mm_cvtsi32_si128(word), 0);
  }

  template <ByteClass k0, ByteClass k1, ByteClass k2, ByteClass k3>
  unsigned Mask() const {
    return LanesMask<Quarters, k0, k1, k2, k3>(All);
  }

 private:
  // Four bytes each of a, b, c and d, taken modulo 256.
  struct Quarters {
    static __m128i Of(int a, int b, int c, int d) {
      auto each = [](int x) {
        return static_cast<int>(0x01010101u * static_cast<unsigned char>(x));
      };
      return _mm_set_epi32(each(d), each(c), each(b), each(a));
    }
  };

  __m128i All;
};

// The loaded bytes of a mask load of kBytes.
template <std::size_t kBytes>
using LoadedBytes = std::conditional_t<kBytes == 8, PairedBytes, ValueBytes<kBytes / 16>>;

}  // namespace tabulon::masks

#else
#define TABULON_BYTE_MASKS 0
#endif
