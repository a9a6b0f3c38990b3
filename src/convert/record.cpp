#include "convert/record.h"

#include <algorithm>

#include "convert/field_writers.h"
#include "convert/transforms.h"

namespace tabulon {
namespace {

// The cut-out value of `field`: the record's bytes from the field's offset,
// at most its length of them (none when the record ends before the offset).
TABULON_INLINE std::string_view CutOut(const FieldPlan& field, std::string_view record) {
  const std::size_t offset = std::min(field.Offset, record.size());
  return {record.data() + offset, std::min(field.Length, record.size() - offset)};
}

// The searches for quotes and commas stop where the fields end: the bytes
// after the layout can be many.
TABULON_INLINE RecordScan ScanOf(std::string_view record, const RecordPlan& plan, char separator,
                                 std::size_t readable_after = 0) {
  return RecordScan(record, readable_after,
                    record.data() + std::min(record.size(), plan.BytesReached), separator == ',');
}

// Every field text is followed by the separator, and the last one is taken
// back: RecordRoom leaves space for it.
TABULON_INLINE char* WriteScalarFields(char* out, std::string_view record, const RecordPlan& plan,
                                       char separator) {
  RecordScan scan = ScanOf(record, plan, separator);
  for (const FieldPlan& field : plan.Fields) {
    out = WriteScalarFieldOf(out, field, CutOut(field, record), scan);
    *out++ = separator;
  }
  return out - 1;
}

#if TABULON_BYTE_MASKS
// The same for a record that every field lies inside, with kMaskedTail
// readable bytes after it, which the long fields' copies may read too; one
// loop for each separator, so that the 'E' fields of a tab-separated run
// take no comma test.
template <bool kCommaMode, bool kQuadWriters>
TABULON_INLINE char* WriteMaskedFieldsAs(char* out, std::string_view record, const RecordPlan& plan,
                                         char separator) {
  RecordScan scan = ScanOf(record, plan, separator, kMaskedTail);
  const MaskedStep* step = plan.MaskedSteps.data();
  while (WriteMaskedStep<kCommaMode, kQuadWriters>(out, *step++, record.data(), scan, separator)) {
  }
  return out - 1;
}

template <bool kQuadWriters>
TABULON_INLINE char* WriteMaskedFields(char* out, std::string_view record, const RecordPlan& plan,
                                       char separator) {
  return separator == ',' ? WriteMaskedFieldsAs<true, kQuadWriters>(out, record, plan, ',')
                          : WriteMaskedFieldsAs<false, kQuadWriters>(out, record, plan, separator);
}
#endif

void AppendQuotedTo(LineFile& out, std::string_view value) {
  AppendQuoted(value, [&out](const char* data, std::size_t size) { AppendText(out, data, size); });
}

// The field text through AppendText, piece by piece, for a field whose text
// may not fit the output buffer in one piece.
void AppendFieldText(LineFile& out, FieldKind kind, std::string_view value, bool comma_mode) {
  const std::string_view trimmed = TrimByKind(value, kind.Trim);
  if (kind.Text == TextKind::Formula) {
    const bool comma = value.find(',') != std::string_view::npos;
    if (TakesFormulaMark(comma_mode, comma)) AppendByte(out, '=');
  }
  if (kind.Text == TextKind::Plain) {
    AppendText(out, trimmed);
  } else {
    AppendQuotedTo(out, trimmed);
  }
}

// A record whose text may not fit the output buffer: each field straight
// into the buffer while it has room for that field's longest text, piece by
// piece otherwise.
void AppendRecordPiecewise(LineFile& out, std::string_view record, const RecordPlan& plan,
                           char separator) {
  RecordScan scan = ScanOf(record, plan, separator);
  bool first = true;
  for (const FieldPlan& field : plan.Fields) {
    if (!first) AppendByte(out, separator);
    first = false;
    const std::string_view value = CutOut(field, record);
    if (char* room = WriteRoom(out, LongestFieldText(value.size()) + kCopySlack)) {
      CommitWritten(out, WriteScalarFieldOutOfLine(room, field, value, scan));
    } else {
      AppendFieldText(out, field.Kind, value, scan.CommaMode);
    }
  }
}

}  // namespace

[[gnu::noinline]] char* WriteScalarFieldOutOfLine(char* out, const FieldPlan& field,
                                                  std::string_view value, RecordScan& scan) {
  return WriteScalarFieldOf(out, field, value, scan);
}

namespace {

// Inline in AppendRecord: the call would cost a few per cent.
template <bool kQuadWriters>
TABULON_INLINE char* WriteFields(char* out, std::string_view record, const RecordPlan& plan,
                                 char separator, std::size_t tail) {
#if TABULON_BYTE_MASKS
  if (record.size() >= plan.BytesReached && tail >= kMaskedTail) {
    return WriteMaskedFields<kQuadWriters>(out, record, plan, separator);
  }
#else
  static_cast<void>(tail);
#endif
  return WriteScalarFields(out, record, plan, separator);
}

// The record text, out of line: the fields' loop keeps its registers to
// itself (inlined in the line loop, its writers spill). It is compiled
// twice, with and without the four-byte writers: with them, the compiler
// keeps the other writers' masks in memory, which costs the layouts
// that do not use them (see RecordPlan::QuadWriters).
template <bool kQuadWriters>
[[gnu::noinline]] char* WriteFieldsOutOfLine(char* out, std::string_view record,
                                             const RecordPlan& plan, char separator,
                                             std::size_t tail) {
  return WriteFields<kQuadWriters>(out, record, plan, separator, tail);
}

// The record text by the loop the plan takes; `quad` is plan.QuadWriters.
TABULON_INLINE char* WriteRecordText(bool quad, char* out, std::string_view record,
                                     const RecordPlan& plan, char separator, std::size_t tail) {
#if TABULON_BYTE_MASKS
  if (quad) return WriteFieldsOutOfLine<true>(out, record, plan, separator, tail);
#else
  static_cast<void>(quad);
#endif
  return WriteFieldsOutOfLine<false>(out, record, plan, separator, tail);
}

}  // namespace

void AppendRecord(LineFile& out, std::string_view record, const RecordPlan& plan, char separator,
                  std::size_t tail) {
  if (char* room = WriteRoom(out, RecordRoom(plan))) {
    CommitWritten(out, WriteRecordText(plan.QuadWriters, room, record, plan, separator, tail));
  } else {
    AppendRecordPiecewise(out, record, plan, separator);
  }
}

std::size_t ConvertBufferedLines(LineFile& text, LineFile& out, const RecordPlan& plan,
                                 char separator, BufferedRun& run) {
  char* next_out = FlushesAtLineEnds(out) ? nullptr : WriteRoom(out, 0);
  if (next_out == nullptr) return 0;
  const std::size_t room = CapacityOf(out) - WaitingBytes(out);
  const std::size_t need = std::max(run.Keep + 1, RecordRoom(plan) + kLineEndRoom);
  if (room < need) return 0;
  char* const last_out = next_out + (room - need);  // where a line may still start
  const std::string_view buffered = BufferedBytes(text);
  const char* line = buffered.data();
  const char* const end = line + buffered.size();
  // Kept in locals: the record text is a call, after which values behind a
  // reference would be read again.
  const std::size_t reached = plan.BytesReached;
  const bool quad = plan.QuadWriters;
  std::size_t budget = run.Budget;
  std::size_t expected = run.Expected;
  std::size_t lines = 0;
  while (budget > 0 && next_out <= last_out && line != end && *line != kEndOfData) {
    // TakeBufferedLine's rules: a line ends in LF or CR LF within the buffer.
    const char* stop = FindLineStopAt(line, end, expected);
    const char* after = AfterLineEnd(stop, end);
    if (after == nullptr) break;
    expected = static_cast<std::size_t>(stop - line);
    const std::string_view record(line, std::min(expected, reached));
    next_out = WriteRecordText(quad, next_out, record, plan, separator,
                               static_cast<std::size_t>(end - (record.data() + record.size())));
    next_out[0] = '\r';
    next_out[1] = '\n';
    next_out += 2;
    budget -= std::min(budget, record.size() + 2);
    line = after;
    ++lines;
  }
  run.Budget = budget;
  run.Expected = expected;
  TakeBufferedBytes(text, static_cast<std::size_t>(line - buffered.data()));
  CommitWritten(out, next_out);
  return lines;
}

void AppendHeader(LineFile& out, const FieldTable& table, std::size_t field_count, char separator) {
  for (std::size_t i = 0; i < field_count; ++i) {
    if (i > 0) AppendByte(out, separator);
    AppendQuotedTo(out, i < table.HeaderNames.size() ? std::string_view(table.HeaderNames[i])
                                                     : std::string_view());
  }
}

}  // namespace tabulon
