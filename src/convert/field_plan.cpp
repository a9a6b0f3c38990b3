#include "convert/field_plan.h"

#include <algorithm>

namespace tabulon {
namespace {

unsigned char MaskLoadOf(std::size_t length) {
  unsigned char load = 0;
  while (load < kMaskLoadCount && length > kMaskLoadBytes[load]) ++load;
  return length <= kMaskedFieldLimit ? load : static_cast<unsigned char>(kMaskLoadCount);
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
    field.MaskLoad = MaskLoadOf(field.Length);
    field.MaskedWriter = static_cast<unsigned char>(MaskedWriterIndex(field.Kind, field.MaskLoad));
    if (field.Length <= kMaskedFieldLimit) field.MaskBits = (std::uint64_t{1} << field.Length) - 1;
    start += static_cast<std::uint32_t>(field.Width);
    plan.BytesReached = std::max(plan.BytesReached, field.Offset + field.Length);
    plan.LongestText += LongestFieldText(field.Length);  // at most 2^33 per field
    plan.MaskedSteps.push_back({field.MaskBits, field.MaskBits ^ (field.MaskBits >> 1),
                                static_cast<std::uint32_t>(field.Offset),
                                static_cast<std::uint32_t>(field.Length), field.MaskedWriter});
  }
  plan.MaskedSteps.emplace_back();  // the record's end
  return plan;
}

}  // namespace tabulon
