// The scalar field writer: one field text written straight into the output
// buffer by the named operations of transforms.h. It serves every field the
// masked writer does not (long fields, records near the end of the read
// buffer, builds without vector registers) and is the reference the masked
// writer is tested against.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/simd.h"
#include "convert/block_copy.h"
#include "convert/field_plan.h"
#include "convert/inline.h"
#include "convert/transforms.h"

#if TABULON_SSE2
#include <emmintrin.h>
#endif

namespace tabulon {

// Where the next byte of one kind stands in the record. One search serves
// every field before that byte, so a record without double quotes (or
// commas) costs one memchr for all its fields instead of one per field.
class NextByte {
 public:
  NextByte(const char* limit, char byte) : From(limit), Found(limit), Limit(limit), Byte(byte) {}

  // True when the non-empty range [begin, end) holds the byte.
  TABULON_INLINE bool In(const char* begin, const char* end) {
    if (begin < From || Found < begin) {  // the last search does not cover begin
      From = begin;
      const void* hit = std::memchr(begin, Byte, static_cast<std::size_t>(Limit - begin));
      Found = hit != nullptr ? static_cast<const char*>(hit) : Limit;
    }
    return Found < end;
  }

  // Where In found the byte (valid after In gave true).
  const char* Where() const { return Found; }

 private:
  const char* From;   // the last search started here ...
  const char* Found;  // ... and found the byte here (Limit: nowhere)
  const char* Limit;
  char Byte;
};

// One record while its fields are written: the record and the
// `readable_after` bytes after it are the read window of every trim and
// copy, and the searches for quotes and commas stop at `scan_limit` (the
// bytes after the layout can be many).
struct RecordScan {
  RecordScan(std::string_view record, std::size_t readable_after, const char* scan_limit,
             bool comma_mode)
      : Window{record.data(), record.data() + record.size() + readable_after},
        CommaMode(comma_mode),
        Quotes(scan_limit, '"'),
        Commas(scan_limit, ',') {}

  ReadWindow Window;
  bool CommaMode;
  NextByte Quotes;
  NextByte Commas;
};

#if TABULON_SSE2
// Copies [begin, end) to `out` with every 0x22 doubled, where 16 bytes after
// `end` are readable (up to `window_end`). A text of 16 bytes and more goes
// 64 bytes a step where the window has them: one test of the step's quotes
// while it holds none. Each store may run up to 63 bytes past the text, which
// the output room allows: the longest text of the 16 bytes and more still
// to copy, and the copy slack, make 64 bytes. Later text overwrites them.
TABULON_INLINE char* CopyDoublingQuotes(char* out, const char* begin, const char* end,
                                        const char* window_end) {
  const __m128i quote = _mm_set1_epi8('"');
  const auto load = [](const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const auto store = [](char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
  const auto mask = [](__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); };
  for (;;) {
    const auto left = static_cast<std::size_t>(end - begin);
    std::uint64_t quotes;
    if (left >= 16 && window_end - begin >= 64) {
      const __m128i v0 = load(begin);
      const __m128i v1 = load(begin + 16);
      const __m128i v2 = load(begin + 32);
      const __m128i v3 = load(begin + 48);
      store(out, v0);
      store(out + 16, v1);
      store(out + 32, v2);
      store(out + 48, v3);
      const __m128i q0 = _mm_cmpeq_epi8(v0, quote);
      const __m128i q1 = _mm_cmpeq_epi8(v1, quote);
      const __m128i q2 = _mm_cmpeq_epi8(v2, quote);
      const __m128i q3 = _mm_cmpeq_epi8(v3, quote);
      if (mask(_mm_or_si128(_mm_or_si128(q0, q1), _mm_or_si128(q2, q3))) == 0) {
        if (left <= 64) return out + left;
        out += 64;
        begin += 64;
        continue;
      }
      quotes = mask(q0) | std::uint64_t{mask(q1)} << 16 | std::uint64_t{mask(q2)} << 32 |
               std::uint64_t{mask(q3)} << 48;
      if (left < 64) quotes &= (std::uint64_t{1} << left) - 1;
      if (quotes == 0) return out + left;  // the quotes lie after the text
    } else {
      const __m128i v = load(begin);
      store(out, v);
      quotes = mask(_mm_cmpeq_epi8(v, quote));
      if (left < 16) quotes &= (1u << left) - 1;
      if (quotes == 0) {
        if (left <= 16) return out + left;
        out += 16;
        begin += 16;
        continue;
      }
    }
    const auto through = static_cast<std::size_t>(std::countr_zero(quotes)) + 1;
    out += through;
    *out++ = '"';  // every 0x22 byte doubled
    begin += through;
  }
}

// Whether [begin, end), of 16 bytes or more, holds `byte`: every load lies
// inside it, the last one ending at `end`.
TABULON_INLINE bool HoldsByte(const char* begin, const char* end, char byte) {
  const __m128i wanted = _mm_set1_epi8(byte);
  const auto hits = [wanted](const char* p) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), wanted);
  };
  __m128i any = hits(end - 16);
  for (; end - begin > 64; begin += 64) {
    any = _mm_or_si128(_mm_or_si128(any, _mm_or_si128(hits(begin), hits(begin + 16))),
                       _mm_or_si128(hits(begin + 32), hits(begin + 48)));
  }
  for (; end - begin > 16; begin += 16) any = _mm_or_si128(any, hits(begin));
  return _mm_movemask_epi8(any) != 0;
}
#endif

// [begin, end) copied to `out` with every 0x22 doubled and the closing
// quote after it. Each quote is searched for once: the search that goes on
// from it also serves the later fields. With SSE2 it serves only values
// near the end of the read window, and stays out of line so that the copy
// in blocks keeps its registers.
#if TABULON_SSE2
[[gnu::noinline]] inline
#else
TABULON_INLINE
#endif
    char*
    WriteQuotedBySearch(char* out, const char* begin, const char* end, RecordScan& scan) {
  while (begin != end && scan.Quotes.In(begin, end)) {
    const char* quote = scan.Quotes.Where();
    out = CopyExact(out, begin, static_cast<std::size_t>(quote - begin) + 1);
    *out++ = '"';  // every 0x22 byte doubled
    begin = quote + 1;
  }
  out = CopyInBlocks(out, begin, static_cast<std::size_t>(end - begin), scan.Window.End);
  *out++ = '"';
  return out;
}

// `value` quoted (as AppendQuoted quotes it) at `out`.
TABULON_INLINE char* WriteQuoted(char* out, std::string_view value, RecordScan& scan) {
  const char* const begin = value.data();
  const char* const end = begin + value.size();
  *out++ = '"';
#if TABULON_SSE2
  if (scan.Window.End - end >= 16) {
    // Each block's quotes are found by the load that copies it: no search
    // runs ahead of the copy.
    out = CopyDoublingQuotes(out, begin, end, scan.Window.End);
    *out++ = '"';
    return out;
  }
#endif
  return WriteQuotedBySearch(out, begin, end, scan);
}

// Copies the n bytes at `from`: a text of more than two blocks 64 bytes a
// step where the window has them all, which the output room allows (its
// longest text is twice as long).
TABULON_INLINE char* CopyPlain(char* out, const char* from, std::size_t n, const char* window_end) {
#if TABULON_SSE2
  if (n > 2 * kCopyBlock && static_cast<std::size_t>(window_end - from) >= n + 63) {
    for (std::size_t i = 0; i < n; i += 64) {
      for (std::size_t k = i; k < i + 64; k += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
      }
    }
    return out + n;
  }
#endif
  return CopyInBlocks(out, from, n, window_end);
}

// Whether a formula field's cut-out `value` holds a comma. The blank trims
// take no comma, so a long value's `trimmed` text is searched instead; the
// search of the record serves short values and the other fields.
template <TrimKind kTrim>
TABULON_INLINE bool HoldsComma(std::string_view value, std::string_view trimmed, RecordScan& scan) {
#if TABULON_SSE2
  const std::string_view searched = kTrim == TrimKind::LeftLow ? value : trimmed;
  if (searched.size() >= 16) {
    return HoldsByte(searched.data(), searched.data() + searched.size(), ',');
  }
#else
  static_cast<void>(trimmed);
#endif
  return !value.empty() && scan.Commas.In(value.data(), value.data() + value.size());
}

// The field text of the cut-out `value` (inside the record) for one kind;
// `out` has room for LongestFieldText(value.size()) + kCopySlack bytes.
template <TrimKind kTrim, TextKind kText>
TABULON_INLINE char* WriteScalarField(char* out, std::string_view value, RecordScan& scan) {
  const std::string_view trimmed = TrimAs<kTrim>(value, scan.Window);
  if constexpr (kText == TextKind::Formula) {
    const bool comma = scan.CommaMode && HoldsComma<kTrim>(value, trimmed, scan);
    if (TakesFormulaMark(scan.CommaMode, comma)) *out++ = '=';
  }
  if constexpr (kText == TextKind::Plain) {
    return CopyPlain(out, trimmed.data(), trimmed.size(), scan.Window.End);
  } else {
    static_assert(kText == TextKind::Quoted || kText == TextKind::Formula);
    return WriteQuoted(out, trimmed, scan);
  }
}

}  // namespace tabulon
