// The field writers by kind, as tables generated at compile time: one
// writer for every trim and text kind (and, for the masked writers, every
// load width), so that no kind can be left without one. A lookup compiles
// to one indirect jump into the inlined writer.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

#include "convert/field_plan.h"
#include "convert/inline.h"
#include "convert/masked_field.h"
#include "convert/scalar_field.h"

namespace tabulon {

// Every index of a table is checked to map back onto itself, so a kind added
// to an enum gets its writers or the build fails.
template <std::size_t... I>
constexpr bool EveryFieldKindRoundTrips(std::index_sequence<I...>) {
  return ((FieldKindIndex(FieldKindAt(I)) == I) && ...);
}
static_assert(EveryFieldKindRoundTrips(std::make_index_sequence<kFieldKindCount>{}));

// Calls writer.template At<I>() for the one I equal to `index`.
template <typename Writer, std::size_t... I>
TABULON_INLINE char* WriteByIndex(std::size_t index, const Writer& writer, char* none,
                                  std::index_sequence<I...>) {
  char* out = none;
  static_cast<void>(((index == I && ((out = writer.template At<I>()), true)) || ...));
  return out;
}

// --- the scalar writers: one per field kind ---

// One function per kind: a table's jump picks it, and each saves only the
// registers its own kind uses.
template <TrimKind kTrim, TextKind kText>
[[gnu::noinline]] char* WriteLongField(char* out, std::string_view value, RecordScan& scan) {
  return WriteScalarField<kTrim, kText>(out, value, scan);
}

struct ScalarWriter {
  char* Out;
  std::string_view Value;
  RecordScan& Scan;

  template <std::size_t I>
  TABULON_INLINE char* At() const {
    constexpr FieldKind kKind = FieldKindAt(I);
#if TABULON_BYTE_MASKS
    // Records the masked writer does not take are rare: their fields are
    // calls, which keep the record loop small.
    return WriteLongField<kKind.Trim, kKind.Text>(Out, Value, Scan);
#else
    return WriteScalarField<kKind.Trim, kKind.Text>(Out, Value, Scan);
#endif
  }
};

TABULON_INLINE char* WriteScalarFieldOf(char* out, const FieldPlan& field, std::string_view value,
                                        RecordScan& scan) {
  return WriteByIndex(FieldKindIndex(field.Kind), ScalarWriter{out, value, scan}, out,
                      std::make_index_sequence<kFieldKindCount>{});
}

// The same as a call: long fields are rare, and their text costs more than
// the call.
char* WriteScalarFieldOutOfLine(char* out, const FieldPlan& field, std::string_view value,
                                RecordScan& scan);

#if TABULON_BYTE_MASKS
// --- the masked writers: one per field kind and load width, a call to the
// scalar writer of the kind for a field too long for every load, and the
// step that ends the record ---
static_assert(kMaskedRecordEnd < 256, "a masked writer index fits MaskedStep::Writer");

// Calls writer.template At<I>() for the I equal to `index`, which is below
// kMaskedIndexLimit. A switch whose default cannot be reached lets the
// compiler jump into the writers with no range test (it keeps one for a
// chain of comparisons).
inline constexpr std::size_t kMaskedIndexLimit = 96;
static_assert(kMaskedRecordEnd < kMaskedIndexLimit, "every masked writer has its case below");

template <typename Writer>
TABULON_INLINE void CallByMaskedIndex(unsigned index, Writer& writer) {
#define TABULON_CASE(i)        \
  case (i):                    \
    writer.template At<(i)>(); \
    return;
#define TABULON_CASES4(i) \
  TABULON_CASE(i) TABULON_CASE((i) + 1) TABULON_CASE((i) + 2) TABULON_CASE((i) + 3)
#define TABULON_CASES16(i) \
  TABULON_CASES4(i) TABULON_CASES4((i) + 4) TABULON_CASES4((i) + 8) TABULON_CASES4((i) + 12)
  switch (index) {
    TABULON_CASES16(0)
    TABULON_CASES16(16)
    TABULON_CASES16(32)
    TABULON_CASES16(48)
    TABULON_CASES16(64)
    TABULON_CASES16(80)
    default:
      __builtin_unreachable();
  }
#undef TABULON_CASES16
#undef TABULON_CASES4
#undef TABULON_CASE
}

// kQuadWriters: whether the record loop has the four-byte writers
// (RecordPlan::QuadWriters); a loop without them keeps its writers' masks in
// registers.
template <bool kCommaMode, bool kQuadWriters>
struct MaskedWriter {
  char*& Out;
  const MaskedStep& Step;
  const char* Value;
  RecordScan& Scan;
  char Separator;
  bool More = true;

  template <std::size_t I>
  TABULON_INLINE void At() {
    if constexpr (I > kMaskedRecordEnd) {
      __builtin_unreachable();  // no step takes these
    } else if constexpr (I == kMaskedRecordEnd) {
      More = false;
    } else {
      constexpr FieldKind kKind = FieldKindAt(I / kMaskedChoices);
      constexpr std::size_t kLoad = I % kMaskedChoices;
      if constexpr (kLoad == kMaskedLongField) {
        Out = WriteLongField<kKind.Trim, kKind.Text>(Out, {Value, Step.Length}, Scan);
        *Out++ = Separator;
      } else if constexpr (kLoad == kMaskedQuadField) {
        if constexpr (kKind.Trim == TrimKind::None || !kQuadWriters) {
          __builtin_unreachable();  // no plan gives these such a step
        } else {
          Out = WriteQuadField<kKind.Trim, kKind.Text, kCommaMode>(Out, Value, Separator);
        }
      } else {
        Out = WriteMaskedField<kKind.Trim, kKind.Text, kMaskLoadBytes[kLoad], kCommaMode>(
            Out, Value, Step.Length, Step.MaskBits, Step.LastBit, Separator);
      }
    }
  }
};

// The field text of the step's field, which lies inside the record, and
// the separator after it, and true; false at the step that ends the record.
// The record is followed by at least kMaskedTail readable bytes; kCommaMode
// is scan.CommaMode, kQuadWriters the plan's QuadWriters.
template <bool kCommaMode, bool kQuadWriters>
TABULON_INLINE bool WriteMaskedStep(char*& out, const MaskedStep& step, const char* record,
                                    RecordScan& scan, char separator) {
  MaskedWriter<kCommaMode, kQuadWriters> writer{out, step, record + step.Offset, scan, separator};
  CallByMaskedIndex(step.Writer, writer);
  return writer.More;
}
#endif

}  // namespace tabulon
