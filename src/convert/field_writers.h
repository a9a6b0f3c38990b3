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
// --- the masked writers: one per field kind and load width, and a call to
// the scalar writer of the kind for a field too long for every load ---
static_assert(kMaskedWriterCount <= 256, "a masked writer index fits FieldPlan::MaskedWriter");

template <bool kCommaMode>
struct MaskedWriter {
  char* Out;
  const FieldPlan& Field;
  const char* Value;
  RecordScan& Scan;

  template <std::size_t I>
  TABULON_INLINE char* At() const {
    constexpr FieldKind kKind = FieldKindAt(I / kMaskedChoices);
    constexpr std::size_t kLoad = I % kMaskedChoices;
    if constexpr (kLoad == kMaskLoadCount) {
      return WriteLongField<kKind.Trim, kKind.Text>(Out, {Value, Field.Length}, Scan);
    } else {
      return WriteMaskedField<kKind.Trim, kKind.Text, kMaskLoadBlocks[kLoad], kCommaMode>(
          Out, Value, static_cast<unsigned>(Field.Length), Field.MaskBits);
    }
  }
};

// The field text of a field that lies inside the record, which is followed
// by at least kMaskedTail readable bytes; kCommaMode is scan.CommaMode.
template <bool kCommaMode>
TABULON_INLINE char* WriteMaskedFieldOf(char* out, const FieldPlan& field, const char* value,
                                        RecordScan& scan) {
  return WriteByIndex(field.MaskedWriter, MaskedWriter<kCommaMode>{out, field, value, scan}, out,
                      std::make_index_sequence<kMaskedWriterCount>{});
}
#endif

}  // namespace tabulon
