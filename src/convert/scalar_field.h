// The scalar field writer: one field text written straight into the output
// buffer by the named operations of transforms.h. It serves every field the
// masked writer does not (long fields, records near the end of the read
// buffer, builds without vector registers) and is the reference the masked
// writer is tested against.
#pragma once

#include <bit>
#include <cstddef>
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

// `value` quoted (as AppendQuoted quotes it) at `out`: copied in one piece unless it holds a quote.
TABULON_INLINE char* WriteQuoted(char* out, std::string_view value, RecordScan& scan) {
  const char* begin = value.data();
  const char* const end = begin + value.size();
  *out++ = '"';
#if TABULON_SSE2
  if (scan.Window.End - end >= 16) {
    // Copied 16 bytes at a time, each block's quotes found by the same
    // load: no search runs ahead of the copy. Every store may run up to 15
    // bytes past the text; later text overwrites them.
    const __m128i quote = _mm_set1_epi8('"');
    const auto quotes_at = [quote](const char* p) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      return std::pair{v, static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)))};
    };
    for (;;) {
      const auto left = static_cast<std::size_t>(end - begin);
      auto [v, quotes] = quotes_at(begin);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
      if (left < 16) {
        quotes &= (1u << left) - 1;
        if (quotes == 0) {
          out += left;
          break;
        }
      } else if (quotes == 0) {
        out += 16;
        begin += 16;
        continue;
      }
      const auto through = static_cast<std::size_t>(std::countr_zero(quotes)) + 1;
      out += through;
      *out++ = '"';  // every 0x22 byte doubled
      begin += through;
    }
    *out++ = '"';
    return out;
  }
#endif
  // Each quote is searched for once: the search that goes on from it also
  // serves the later fields.
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

// The field text of the cut-out `value` (inside the record) for one kind;
// `out` has room for LongestFieldText(value.size()) + kCopySlack bytes.
template <TrimKind kTrim, TextKind kText>
TABULON_INLINE char* WriteScalarField(char* out, std::string_view value, RecordScan& scan) {
  const std::string_view trimmed = TrimAs<kTrim>(value, scan.Window);
  if constexpr (kText == TextKind::Formula) {
    const bool comma = scan.CommaMode && !value.empty() &&
                       scan.Commas.In(value.data(), value.data() + value.size());
    if (TakesFormulaMark(scan.CommaMode, comma)) *out++ = '=';
  }
  if constexpr (kText == TextKind::Plain) {
    return CopyInBlocks(out, trimmed.data(), trimmed.size(), scan.Window.End);
  } else {
    static_assert(kText == TextKind::Quoted || kText == TextKind::Formula);
    return WriteQuoted(out, trimmed, scan);
  }
}

}  // namespace tabulon
