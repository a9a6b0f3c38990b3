#include "convert/field_plan.h"

#include <algorithm>

namespace tabulon {
namespace {

// The index of the smallest mask load that holds `length` bytes, or
// kMaskedLongField when none does.
std::size_t MaskLoadOf(std::size_t length) {
  std::size_t load = 0;
  while (load < kMaskLoadCount && length > kMaskLoadBytes[load]) ++load;
  return length <= kMaskedFieldLimit ? load : kMaskedLongField;
}

// Whether a field can take a four-byte writer: a trim on exactly
// kQuadLength bytes.
bool TakesQuadWriter(const FieldPlan& field) {
  return field.Length == kQuadLength && field.Kind.Trim != TrimKind::None;
}

// Whether the loop with the four-byte writers pays for these fields: at
// least half as many take them as there are other fields of type 'X' or
// 'E' within the masks. A four-byte writer saves 20 to 30 instructions of a
// trim worked out; in that loop the other quoted writers take 8 to 13 more
// (their masks kept in memory), the plain ones none.
bool QuadWritersPay(const std::vector<FieldPlan>& fields) {
  std::size_t quad = 0;
  std::size_t quoted = 0;
  for (const FieldPlan& field : fields) {
    if (TakesQuadWriter(field)) {
      ++quad;
    } else if (field.Kind.Text != TextKind::Plain && field.Length <= kMaskedFieldLimit) {
      ++quoted;
    }
  }
  return quad > 0 && 2 * quad >= quoted;
}

MaskedStep MaskedStepOf(const FieldPlan& field, bool quad_writers) {
  MaskedStep step;
  if (field.Length <= kMaskedFieldLimit) step.MaskBits = (std::uint64_t{1} << field.Length) - 1;
  step.LastBit = step.MaskBits ^ (step.MaskBits >> 1);
  step.Offset = static_cast<std::uint32_t>(field.Offset);
  step.Length = static_cast<std::uint32_t>(field.Length);
  const bool quad = quad_writers && TakesQuadWriter(field);
  step.Writer = static_cast<unsigned char>(
      MaskedWriterIndex(field.Kind, quad ? kMaskedQuadField : MaskLoadOf(field.Length)));
  return step;
}

}  // namespace

TrimKind TrimKindOf(unsigned char trim_code) {
  switch (trim_code) {
    case 'L':
      return TrimKind::Left;
    case 'R':
      return TrimKind::Right;
    case 'T':
      return TrimKind::Both;
    case 'Z':
      return TrimKind::LeftLow;
    default:
      return TrimKind::None;
  }
}

TextKind TextKindOf(unsigned char type_code) {
  switch (type_code) {
    case 'E':
      return TextKind::Formula;
    case 'X':
      return TextKind::Quoted;
    default:
      return TextKind::Plain;
  }
}

RecordPlan MakePlan(const FieldTable& table) {
  const std::size_t count = table.FieldCount > 0 ? static_cast<std::size_t>(table.FieldCount) : 1;
  RecordPlan plan;
  plan.Fields.resize(count);
  plan.MaskedSteps.reserve(count + 1);
  std::uint32_t start = 1;  // the running start position wraps like a 32-bit integer
  for (std::size_t i = 0; i < count; ++i) {
    FieldPlan& field = plan.Fields[i];
    field.Start = static_cast<std::int32_t>(start);
    if (i < table.SlotCount()) {
      field.Width = table.Widths[i];
      field.Kind = {TrimKindOf(table.TrimCodes[i]), TextKindOf(table.TypeCodes[i])};
    }
    field.Offset = field.Start < 1 ? 0 : static_cast<std::size_t>(field.Start) - 1;
    field.Length = field.Width > 0 ? static_cast<std::size_t>(field.Width) : 0;
    start += static_cast<std::uint32_t>(field.Width);
    plan.BytesReached = std::max(plan.BytesReached, field.Offset + field.Length);
    plan.LongestText += LongestFieldText(field.Length);  // at most 2^33 per field
  }
  plan.QuadWriters = QuadWritersPay(plan.Fields);
  for (const FieldPlan& field : plan.Fields) {
    plan.MaskedSteps.push_back(MaskedStepOf(field, plan.QuadWriters));
  }
  plan.MaskedSteps.emplace_back();  // the record's end
  return plan;
}

}  // namespace tabulon
