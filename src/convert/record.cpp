#include "convert/record.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "convert/byte_masks.h"
#include "convert/byte_scan.h"
#include "convert/pipeline.h"
#include "convert/transforms.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

void AppendQuotedTo(LineFile& out, std::string_view value) {
  AppendQuoted(value, [&out](const char* data, std::size_t size) { AppendText(out, data, size); });
}

// The field text through AppendText, piece by piece: used when the output
// buffer may not hold the field text in one piece.
void AppendFieldText(LineFile& out, const FieldPlan& field, std::string_view value,
                     bool comma_mode) {
  std::string_view trimmed = TrimByCode(value, field.TrimCode);
  switch (field.TypeCode) {
    case 'E':
      // In comma mode a value whose cut-out bytes hold a comma (before the
      // trim) is written quoted without the leading '='.
      if (!comma_mode || value.find(',') == std::string_view::npos) AppendByte(out, '=');
      AppendQuotedTo(out, trimmed);
      break;
    case 'X':
      AppendQuotedTo(out, trimmed);
      break;
    default:
      AppendText(out, trimmed);
      break;
  }
}

// --- the direct path: field texts written straight into the output buffer ---

// Where the next byte of one kind stands in the record. One search serves
// every field before that byte, so a record without double quotes (or
// commas) costs one memchr for all its fields instead of one per field.
class NextByte {
 public:
  NextByte(const char* limit, char byte)
      : from_(limit), found_(limit), limit_(limit), byte_(byte) {}

  // True when the non-empty range [begin, end) holds the byte.
  TABULON_SCAN_INLINE bool In(const char* begin, const char* end) {
    if (begin < from_ || found_ < begin) {  // the last search does not cover begin
      from_ = begin;
      const void* hit = std::memchr(begin, byte_, static_cast<std::size_t>(limit_ - begin));
      found_ = hit != nullptr ? static_cast<const char*>(hit) : limit_;
    }
    return found_ < end;
  }

 private:
  const char* from_;   // the last search started here ...
  const char* found_;  // ... and found the byte here (limit_: nowhere)
  const char* limit_;
  char byte_;
};

// Copies n bytes; short copies without a library call.
inline char* CopyTo(char* out, const char* from, std::size_t n) {
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

// The output buffer keeps this many bytes of room beyond a field's longest
// text, so that copies may run over in whole blocks.
constexpr std::size_t kCopySlack = 32;

// Copies n bytes in 16-byte blocks when the source has them (may write up
// to kCopySlack - 1 bytes beyond out + n; later text overwrites them). A
// value of up to 32 bytes, the usual case, takes two blocks and no branch
// on its length.
inline char* CopyBlocks(char* out, const char* from, std::size_t n, const char* source_end) {
  std::size_t available = static_cast<std::size_t>(source_end - from);
  if (n <= 32 && available >= 32) {
    std::memcpy(out, from, 16);
    std::memcpy(out + 16, from + 16, 16);
    return out + n;
  }
  if (available < n + 15) return CopyTo(out, from, n);
  for (std::size_t i = 0; i < n; i += 16) std::memcpy(out + i, from + i, 16);
  return out + n;
}

#if defined(__GNUC__)
#define TABULON_INLINE inline __attribute__((always_inline))
#else
#define TABULON_INLINE inline
#endif

struct RecordScan {
  const char* begin;  // the record: every scan may read anywhere inside it
  const char* end;
  bool comma_mode;
  NextByte quotes;
  NextByte commas;
};

// QuoteField of [begin, end): copied in one piece unless it holds a quote.
TABULON_INLINE char* QuoteTo(char* out, const char* begin, const char* end, RecordScan& scan) {
  *out++ = '"';
  if (begin != end && scan.quotes.In(begin, end)) {
    for (;;) {
      const void* hit = std::memchr(begin, '"', static_cast<std::size_t>(end - begin));
      if (hit == nullptr) break;
      const char* quote = static_cast<const char*>(hit);
      out = CopyTo(out, begin, static_cast<std::size_t>(quote - begin) + 1);
      *out++ = '"';  // every 0x22 byte doubled
      begin = quote + 1;
    }
  }
  out = CopyBlocks(out, begin, static_cast<std::size_t>(end - begin), scan.end);
  *out++ = '"';
  return out;
}

// The field text of the cut-out value [begin, end) for one combination of
// trim and text; `out` has room for twice the value, plus three bytes, plus
// kCopySlack.
template <unsigned char kTrim, unsigned char kText>
TABULON_INLINE char* FieldTextOf(char* out, const char* begin, const char* end, RecordScan& scan) {
  const char* first = begin;
  const char* last = end;
  if constexpr (kTrim == kTrimLeft || kTrim == kTrimBoth || kTrim == kTrimLeftLow) {
    first = scan::SkipLeadingBlanks(begin, end, scan.end);
  }
  if constexpr (kTrim == kTrimLeftLow) first = scan::SkipLeadingLow(first, end, scan.end);
  if constexpr (kTrim == kTrimRight || kTrim == kTrimBoth) {
    last = scan::SkipTrailingBlanks(first, end, scan.begin);
  }
  if constexpr (kText == kTextFormula) {
    if (!scan.comma_mode || begin == end || !scan.commas.In(begin, end)) *out++ = '=';
  }
  if constexpr (kText == kTextPlain) {
    return CopyBlocks(out, first, static_cast<std::size_t>(last - first), scan.end);
  } else {
    return QuoteTo(out, first, last, scan);
  }
}

constexpr unsigned char OpOf(unsigned char trim, unsigned char text) {
  return static_cast<unsigned char>(trim * 3 + text);
}

TABULON_INLINE char* FieldTextTo(char* out, const FieldPlan& field, const char* begin,
                                 const char* end, RecordScan& scan) {
#define TABULON_FIELD_CASE(trim, text) \
  case OpOf(trim, text):               \
    return FieldTextOf<trim, text>(out, begin, end, scan);
#define TABULON_FIELD_CASES(trim)       \
  TABULON_FIELD_CASE(trim, kTextPlain)  \
  TABULON_FIELD_CASE(trim, kTextQuoted) \
  TABULON_FIELD_CASE(trim, kTextFormula)
  switch (field.Op) {
    TABULON_FIELD_CASES(kTrimNone)
    TABULON_FIELD_CASES(kTrimLeft)
    TABULON_FIELD_CASES(kTrimRight)
    TABULON_FIELD_CASES(kTrimBoth)
    TABULON_FIELD_CASES(kTrimLeftLow)
    default:
      return out;  // every Op is one of the cases
  }
#undef TABULON_FIELD_CASES
#undef TABULON_FIELD_CASE
}

#if TABULON_BYTE_MASKS
// --- the masked path: values of up to 63 bytes trimmed by bit operations ---

// Where the leading blanks of a value end. `blank` and `pairs` (the 0x81 of
// each 0x81 0x40 inside the value) hold no bit beyond the value, whose bits
// are `valid`. The blanks and pairs of a value take turns without overlap,
// so the run of their bits from bit 0 is what the byte-by-byte trim skips,
// except that the last byte is never taken on its own.
TABULON_INLINE unsigned LeadingBlanksEnd(std::uint64_t blank, std::uint64_t pairs,
                                         std::uint64_t valid) {
  const std::uint64_t skip = blank | pairs | (pairs << 1);
  const auto run = static_cast<unsigned>(std::countr_zero(~skip));
  const bool last_is_blank = (blank & (valid ^ (valid >> 1))) != 0;
  return run - static_cast<unsigned>(skip == valid && last_is_blank);
}

// Where the value [first, n) ends once its trailing blanks are gone. Within
// the trailing run of blanks and pairs, every pair but the lowest follows a
// blank or a 0x40 and so starts a character; the lowest one starts a
// character when the lead-range bytes right before it are even in number.
// The first byte is never taken on its own.
template <int kBlocks>
TABULON_INLINE unsigned TrailingBlanksEnd(const masks::ValueBytes<kBlocks>& bytes,
                                          std::uint64_t blank, std::uint64_t pairs,
                                          std::uint64_t valid, unsigned first) {
  const std::uint64_t own_pairs = pairs & ~masks::Below(first);
  const std::uint64_t skip = blank | own_pairs | (own_pairs << 1);
  const std::uint64_t kept = valid & ~masks::Below(first) & ~skip;
  const unsigned run = std::max(first, masks::TopEnd(kept));  // the trailing run starts here
  if (run == first) return run + (static_cast<unsigned>(blank >> run) & 1);
  if (((own_pairs >> run) & 1) == 0) return run;
  // The run starts with a pair. (Whether it does depends on the field more
  // than on the record, so this branch is well foreseen.)
  const std::uint64_t other = (~bytes.Lead() & valid) | masks::Below(first);
  const unsigned lead_run = run - masks::TopEnd(other & masks::Below(run));
  return run + 2 * (lead_run & 1);
}

// Copies the `length` bytes at `from`, each 0x22 doubled; bit k of `quotes`
// marks a quote at from[k].
char* CopyDoublingQuotes(char* out, const char* from, std::uint64_t quotes, unsigned length) {
  unsigned done = 0;
  for (; quotes != 0; quotes &= quotes - 1) {
    const unsigned after = static_cast<unsigned>(std::countr_zero(quotes)) + 1;
    out = CopyTo(out, from + done, after - done);
    *out++ = '"';
    done = after;
  }
  return CopyTo(out, from + done, length - done);
}

// The field text of the n-byte value at `value` (n below 16 * kBlocks and
// below 64). At least 32 bytes after the value's end are readable; `out`
// has room for twice the value, plus three bytes, plus kCopySlack.
template <unsigned char kTrim, unsigned char kText, int kBlocks>
TABULON_INLINE char* MaskedFieldText(char* out, const char* value, unsigned n, bool comma_mode) {
  const masks::ValueBytes<kBlocks> bytes(value);
  const std::uint64_t valid = masks::Below(n);
  unsigned first = 0;
  unsigned last = n;
  if constexpr (kTrim != kTrimNone) {
    const std::uint64_t blank = bytes.Equal(kBlank) & valid;
    const std::uint64_t pairs =
        bytes.Equal(kWideBlankLead) & (bytes.Equal(kWideBlankTrail) >> 1) & (valid >> 1);
    if constexpr (kTrim == kTrimLeft || kTrim == kTrimBoth || kTrim == kTrimLeftLow) {
      first = LeadingBlanksEnd(blank, pairs, valid);
    }
    if constexpr (kTrim == kTrimLeftLow) {
      const std::uint64_t low = bytes.AtMost(0x30) & valid;
      first = static_cast<unsigned>(std::countr_zero(~(low | masks::Below(first))));
    }
    if constexpr (kTrim == kTrimRight || kTrim == kTrimBoth) {
      last = TrailingBlanksEnd(bytes, blank, pairs, valid, first);
    }
  }
  const char* text = value + first;
  const unsigned length = last - first;
  if constexpr (kText == kTextFormula) {
    // In comma mode a value holding a comma (before the trim) has no '='.
    const bool comma = comma_mode && (bytes.Equal(',') & valid) != 0;
    *out = '=';
    out += comma ? 0 : 1;
  }
  if constexpr (kText != kTextPlain) {
    *out++ = '"';
    const std::uint64_t quotes = bytes.Equal('"') & masks::Below(last) & ~masks::Below(first);
    if (quotes != 0) [[unlikely]] {
      out = CopyDoublingQuotes(out, text, quotes >> first, length);
      *out++ = '"';
      return out;
    }
  }
  // Whole blocks: the 32 bytes after the value's end may be read. A value
  // of one or two blocks takes as many 16-byte moves, whatever its length.
  if constexpr (kBlocks <= 2) {
    std::memcpy(out, text, 16);
    if constexpr (kBlocks == 2) std::memcpy(out + 16, text + 16, 16);
    out += length;
  } else {
    out = CopyBlocks(out, text, length, value + n + kMaskedTail);
  }
  if constexpr (kText != kTextPlain) *out++ = '"';
  return out;
}

// The number of 16-byte blocks a value of `length` bytes is loaded in, or 0
// when it is too long for the masked path.
unsigned char MaskBlocksOf(std::size_t length) {
  if (length <= 16) return 1;
  if (length <= 32) return 2;
  if (length <= 63) return 4;
  return 0;
}
#endif

[[gnu::noinline]] char* FieldTextOutOfLine(char* out, const FieldPlan& field, const char* begin,
                                           const char* end, RecordScan& scan) {
  return FieldTextTo(out, field, begin, end, scan);
}

#if TABULON_BYTE_MASKS
constexpr unsigned char KernelOf(unsigned char op, unsigned char blocks) {
  return static_cast<unsigned char>(op * 4 + (blocks == 4 ? 3 : blocks));
}

// The field text of a field that lies inside the record, which is followed
// by at least 32 readable bytes.
TABULON_INLINE char* MaskedFieldTextTo(char* out, const FieldPlan& field, const char* value,
                                       RecordScan& scan) {
  const auto n = static_cast<unsigned>(field.Length);
#define TABULON_MASKED_CASE(trim, text, blocks) \
  case KernelOf(OpOf(trim, text), blocks):      \
    return MaskedFieldText<trim, text, blocks>(out, value, n, scan.comma_mode);
#define TABULON_MASKED_TEXT(trim, text) \
  TABULON_MASKED_CASE(trim, text, 1)    \
  TABULON_MASKED_CASE(trim, text, 2)    \
  TABULON_MASKED_CASE(trim, text, 4)
#define TABULON_MASKED_TRIM(trim)        \
  TABULON_MASKED_TEXT(trim, kTextPlain)  \
  TABULON_MASKED_TEXT(trim, kTextQuoted) \
  TABULON_MASKED_TEXT(trim, kTextFormula)
  switch (field.Kernel) {
    TABULON_MASKED_TRIM(kTrimNone)
    TABULON_MASKED_TRIM(kTrimLeft)
    TABULON_MASKED_TRIM(kTrimRight)
    TABULON_MASKED_TRIM(kTrimBoth)
    TABULON_MASKED_TRIM(kTrimLeftLow)
    default:  // too long for the masks
      return FieldTextOutOfLine(out, field, value, value + field.Length, scan);
  }
#undef TABULON_MASKED_TRIM
#undef TABULON_MASKED_TEXT
#undef TABULON_MASKED_CASE
}
#endif

// The cut-out value of `field` (CopyBytes of the record from Start, Width
// bytes), as [begin, end).
TABULON_INLINE void CutOut(const FieldPlan& field, const RecordScan& scan, std::size_t size,
                           const char*& begin, const char*& end) {
  std::size_t offset = std::min(field.Offset, size);
  begin = scan.begin + offset;
  end = begin + std::min(field.Length, size - offset);
}

unsigned char TrimOf(unsigned char trim_code) {
  switch (trim_code) {
    case 'L':
      return kTrimLeft;
    case 'R':
      return kTrimRight;
    case 'T':
      return kTrimBoth;
    case 'Z':
      return kTrimLeftLow;
    default:
      return kTrimNone;
  }
}

unsigned char TextOf(unsigned char type_code) {
  switch (type_code) {
    case 'E':
      return kTextFormula;
    case 'X':
      return kTextQuoted;
    default:
      return kTextPlain;
  }
}

// The bytes of the read buffer after `record` (none when the record was
// gathered elsewhere).
std::size_t ReadableTail(const LineFile& text, std::string_view record) {
  const auto begin = reinterpret_cast<std::uintptr_t>(text.BufferRef);
  const auto end = begin + text.FillCount;
  const auto record_end = reinterpret_cast<std::uintptr_t>(record.data()) + record.size();
  return record_end >= begin && record_end <= end ? end - record_end : 0;
}

}  // namespace

std::vector<FieldPlan> MakePlan(const FieldTable& table) {
  std::size_t count = table.FieldCount > 0 ? static_cast<std::size_t>(table.FieldCount) : 1;
  std::vector<FieldPlan> plan(count,
                              FieldPlan{1, 0, 0, 0, OpOf(kTrimNone, kTextPlain), 0, 0, 0, 0, 0});
  std::uint32_t start = 1;  // the running start position wraps like a 32-bit integer
  for (std::size_t i = 0; i < count; ++i) {
    FieldPlan& field = plan[i];
    field.Start = static_cast<std::int32_t>(start);
    if (i < table.SlotCount()) {
      field.Width = table.Widths[i];
      field.TypeCode = table.TypeCodes[i];
      field.TrimCode = table.TrimCodes[i];
    }
    field.Op = OpOf(TrimOf(field.TrimCode), TextOf(field.TypeCode));
    field.Offset = field.Start < 1 ? 0 : static_cast<std::size_t>(field.Start) - 1;
    field.Length = field.Width > 0 ? static_cast<std::size_t>(field.Width) : 0;
#if TABULON_BYTE_MASKS
    field.Kernel = KernelOf(field.Op, MaskBlocksOf(field.Length));
#endif
    start += static_cast<std::uint32_t>(field.Width);
  }
  std::size_t reach = 0;
  std::size_t bound = 0;
  for (std::size_t i = count; i-- > 0;) {
    reach = std::max(reach, plan[i].Offset + plan[i].Length);
    bound += 2 * plan[i].Length + 4;  // separator, '=', two quotes; at most 2^33 per field
    plan[i].Reach = reach;
    plan[i].TextBound = bound;
  }
  return plan;
}

void AppendRecord(LineFile& out, std::string_view record, const std::vector<FieldPlan>& plan,
                  char separator, std::size_t tail) {
  if (plan.empty()) return;
  const char* data = record.data();
  const std::size_t size = record.size();
  // Searches for quotes and commas stop where the fields end: the bytes
  // after the layout can be many.
  const char* scan_limit = data + std::min(size, plan.front().Reach);
  RecordScan scan{data, data + size, separator == ',', NextByte(scan_limit, '"'),
                  NextByte(scan_limit, ',')};

  // Field texts go straight into the output buffer while it has room for
  // the longest text they can give; the buffer then never fills, as
  // AppendText would not let it either.
  char* const buffer = out.BufferRef;
  char* const buffer_end = buffer + out.Capacity;
  char* cursor = buffer + out.Position;
  bool direct = out.State == StateWriting && !out.Dropping;
  const char* begin;
  const char* end;
  if (direct &&
      plan.front().TextBound + kCopySlack < static_cast<std::size_t>(buffer_end - cursor)) {
    // The whole text fits: no check per field. A record that every field
    // lies inside needs no clamping of the cut either.
    const bool whole = size >= plan.front().Reach;
#if TABULON_BYTE_MASKS
    if (whole && tail >= kMaskedTail) {
      for (const FieldPlan& field : plan) {
        cursor = MaskedFieldTextTo(cursor, field, data + field.Offset, scan);
        *cursor++ = separator;
      }
      out.Position = static_cast<std::uint32_t>(cursor - 1 - buffer);
      return;
    }
#else
    static_cast<void>(tail);
#endif
    // Every field text is followed by the separator, and the last one is
    // taken back: the room check leaves space for it.
    for (const FieldPlan& field : plan) {
      if (whole) {
        begin = data + field.Offset;
        end = begin + field.Length;
      } else {
        CutOut(field, scan, size, begin, end);
      }
      cursor = FieldTextTo(cursor, field, begin, end, scan);
      *cursor++ = separator;
    }
    out.Position = static_cast<std::uint32_t>(cursor - 1 - buffer);
    return;
  }
  bool first = true;
  for (const FieldPlan& field : plan) {
    CutOut(field, scan, size, begin, end);
    std::size_t longest = 2 * static_cast<std::size_t>(end - begin) + 4 + kCopySlack;
    if (direct && longest < static_cast<std::size_t>(buffer_end - cursor)) {
      if (!first) *cursor++ = separator;
      cursor = FieldTextOutOfLine(cursor, field, begin, end, scan);
    } else {  // piece by piece through AppendText, which writes full blocks out
      out.Position = static_cast<std::uint32_t>(cursor - buffer);
      if (!first) AppendByte(out, separator);
      AppendFieldText(out, field, {begin, static_cast<std::size_t>(end - begin)}, scan.comma_mode);
      cursor = buffer + out.Position;
      direct = out.State == StateWriting && !out.Dropping;
    }
    first = false;
  }
  out.Position = static_cast<std::uint32_t>(cursor - buffer);
}

void WriteRecord(LineFile& out, const LineFile& text, std::string_view record,
                 const std::vector<FieldPlan>& plan, char separator) {
  BeginText(out);
  AppendRecord(out, record, plan, separator, ReadableTail(text, record));
  WriteLineEnd(out);
}

void AppendHeader(LineFile& out, const FieldTable& table, std::size_t field_count, char separator) {
  for (std::size_t i = 0; i < field_count; ++i) {
    if (i > 0) AppendByte(out, separator);
    AppendQuotedTo(out, i < table.HeaderNames.size() ? std::string_view(table.HeaderNames[i])
                                                     : std::string_view());
  }
}

void ConvertLines(LineFile& text, LineFile& out, const std::vector<FieldPlan>& plan, char separator,
                  unsigned cpus) {
  SpillBuffer spill;
  // A small text is done line by line before threads would pay.
  std::size_t before_blocks = cpus > 1 ? kBlocksAfter : static_cast<std::size_t>(-1);
  for (;;) {
    bool ended = AtEndOfData(text);
    CheckTextRead();
    if (ended) break;
    if (before_blocks == 0) {
      if (ConvertInBlocks(text, out, spill, plan, separator, BlockShapeFor(cpus))) break;
      before_blocks = static_cast<std::size_t>(-1);
    }
    // Bytes beyond the fields' reach are never looked at: not keeping them
    // bounds the memory a huge line needs.
    std::string_view record = ReadTextLine(text, spill, plan.front().Reach);
    CheckTextRead();
    WriteRecord(out, text, record, plan, separator);
    CheckLineWritten();
    before_blocks -= std::min(before_blocks, record.size() + 2);
  }
}

void ConvertFile(std::string_view text_name, std::string_view output_name, const FieldTable& table,
                 char separator, char header_flag) {
  const std::vector<FieldPlan> plan = MakePlan(table);

  LineFile text;
  BindName(text, text_name);
  OpenForReading(text);
  CheckIo();
  CloseOnUnwind text_closer(text);

  LineFile out;
  BindName(out, output_name);
  OpenForWriting(out);
  CheckIo();
  CloseOnUnwind out_closer(out);  // destroyed first: the output closes before the text

  if (header_flag == 'y') {
    BeginText(out);
    AppendHeader(out, table, plan.size(), separator);
    WriteLineEnd(out);
    CheckIo();
  }

  // A large text goes on in blocks on every CPU the run may use; output to
  // a device that is written at every line end goes line by line.
  ConvertLines(text, out, plan, separator,
               out.FlushAction == NoFlush ? platform::UsableCpuCount() : 1);

  out_closer.Close();
  text_closer.Close();
}

}  // namespace tabulon
