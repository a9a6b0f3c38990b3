// The field plan: what the converter needs of each field, worked out once
// from the FieldTable. The type and trim codes are read here and nowhere on
// the record path: they become a TextKind and a TrimKind, and the pair of
// them (with the masked load width) picks the writer of the field text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "params/field_table.h"

namespace tabulon {

// The trim a field's trim code asks for; Count is the number of kinds.
enum class TrimKind : unsigned char { None, Left, Right, Both, LeftLow, Count };
// The form of a field text its type code asks for.
enum class TextKind : unsigned char { Plain, Quoted, Formula, Count };

inline constexpr std::size_t kTrimKindCount = static_cast<std::size_t>(TrimKind::Count);
inline constexpr std::size_t kTextKindCount = static_cast<std::size_t>(TextKind::Count);

// 'L', 'R', 'T' and 'Z'; any other byte trims nothing.
TrimKind TrimKindOf(unsigned char trim_code);
// 'E' and 'X'; any other byte is written as it is.
TextKind TextKindOf(unsigned char type_code);

// A trim and a text kind together, numbered 0 to kFieldKindCount - 1.
struct FieldKind {
  TrimKind Trim;
  TextKind Text;
};
inline constexpr std::size_t kFieldKindCount = kTrimKindCount * kTextKindCount;

constexpr std::size_t FieldKindIndex(FieldKind kind) {
  return static_cast<std::size_t>(kind.Trim) * kTextKindCount + static_cast<std::size_t>(kind.Text);
}
constexpr FieldKind FieldKindAt(std::size_t index) {
  return {static_cast<TrimKind>(index / kTextKindCount),
          static_cast<TextKind>(index % kTextKindCount)};
}

// Bounds of the masked field writer: a value is loaded as 8 bytes or in 1, 2
// or 4 blocks of kMaskBlockSize bytes, and one of up to kMaskedFieldLimit
// bytes fits the 64-bit masks.
inline constexpr std::size_t kMaskBlockSize = 16;
inline constexpr std::size_t kMaskedFieldLimit = 63;
// The sizes of the masked loads; a field takes the smallest that holds it,
// or none (kMaskLoadCount) when none does.
inline constexpr std::size_t kMaskLoadBytes[] = {8, 16, 32, 64};
inline constexpr std::size_t kMaskLoadCount = std::size(kMaskLoadBytes);
// The readable bytes after a record that let every masked field be loaded
// and copied in whole blocks.
inline constexpr std::size_t kMaskedTail = 2 * kMaskBlockSize;

struct FieldPlan {
  std::int32_t Start = 1;  // 1-based position in the record (running sum, wrapping)
  std::int32_t Width = 0;
  std::size_t Offset = 0;  // 0-based first byte: a start below 1 counts as 1
  std::size_t Length = 0;  // the width, or 0 when it is not positive
  FieldKind Kind = {TrimKind::None, TextKind::Plain};
};

// The masked writers: one per field kind and load, one more per kind for a
// field too long for every load, and one for a trimmed field of exactly
// kQuadLength bytes, whose trim is looked up (masked_field.h).
inline constexpr std::size_t kMaskedLongField = kMaskLoadCount;
inline constexpr std::size_t kMaskedQuadField = kMaskLoadCount + 1;
inline constexpr std::size_t kMaskedChoices = kMaskLoadCount + 2;
inline constexpr std::size_t kQuadLength = 4;
inline constexpr std::size_t kMaskedWriterCount = kFieldKindCount * kMaskedChoices;

constexpr std::size_t MaskedWriterIndex(FieldKind kind, std::size_t mask_load) {
  return FieldKindIndex(kind) * kMaskedChoices + mask_load;
}
// The writer index of the step after the last field: it ends the record, so
// that the record loop needs no test of its own.
inline constexpr std::size_t kMaskedRecordEnd = kMaskedWriterCount;

// What the masked record loop reads of a field, packed: its offset and
// length (below 2^31, as the widths and starts are 32-bit), a bit for each of
// its bytes and the highest of them (none for a field too long for the
// masks), and its masked writer (MaskedWriterIndex of its kind and load),
// looked up once so that the loop jumps on it without working it out.
struct MaskedStep {
  std::uint64_t MaskBits = 0;  // bit k for byte k: the low Length bits
  std::uint64_t LastBit = 0;
  std::uint32_t Offset = 0;
  std::uint32_t Length = 0;
  unsigned char Writer = kMaskedRecordEnd;
};

struct RecordPlan {
  // One entry per field; field 0 always exists, taken from a zeroed slot
  // when the table has none.
  std::vector<FieldPlan> Fields;
  // One step per field, in the same order, then one that ends the record.
  std::vector<MaskedStep> MaskedSteps;
  // Whether the steps use the four-byte writers (kMaskedQuadField), and the
  // record loop compiled with them runs (QuadWritersPay in field_plan.cpp).
  bool QuadWriters = false;
  std::size_t BytesReached = 0;  // the bytes of a record that any field reaches
  std::size_t LongestText = 0;   // the most bytes the field texts and separators can take
};

RecordPlan MakePlan(const FieldTable& table);

// The longest field text of an n-byte value: every byte a doubled quote,
// two quotes, a '=' and the separator after it.
constexpr std::size_t LongestFieldText(std::size_t length) {
  return 2 * length + 4;
}

}  // namespace tabulon
