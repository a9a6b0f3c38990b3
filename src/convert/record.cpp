#include "convert/record.h"

#include <string>

#include "convert/transforms.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

void AppendQuotedTo(LineFile& out, std::string_view value) {
  AppendQuoted(value, [&out](const char* data, std::size_t size) { AppendText(out, data, size); });
}

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

}  // namespace

std::vector<FieldPlan> MakePlan(const FieldTable& table) {
  std::size_t count = table.FieldCount > 0 ? static_cast<std::size_t>(table.FieldCount) : 1;
  std::vector<FieldPlan> plan(count, FieldPlan{1, 0, 0, 0});
  std::uint32_t start = 1;  // the running start position wraps like a 32-bit integer
  for (std::size_t i = 0; i < count; ++i) {
    FieldPlan& field = plan[i];
    field.Start = static_cast<std::int32_t>(start);
    if (i < table.SlotCount()) {
      field.Width = table.Widths[i];
      field.TypeCode = table.TypeCodes[i];
      field.TrimCode = table.TrimCodes[i];
    }
    start += static_cast<std::uint32_t>(field.Width);
  }
  return plan;
}

void AppendRecord(LineFile& out, std::string_view record, const std::vector<FieldPlan>& plan,
                  char separator) {
  bool comma_mode = separator == ',';
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const FieldPlan& field = plan[i];
    if (i > 0) AppendByte(out, separator);
    AppendFieldText(out, field, CopyBytes(record, field.Start, field.Width), comma_mode);
  }
}

void AppendHeader(LineFile& out, const FieldTable& table, std::size_t field_count, char separator) {
  for (std::size_t i = 0; i < field_count; ++i) {
    if (i > 0) AppendByte(out, separator);
    AppendQuotedTo(out, i < table.HeaderNames.size() ? std::string_view(table.HeaderNames[i])
                                                     : std::string_view());
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

  std::string spill;
  for (;;) {
    bool ended = AtEndOfData(text);
    CheckIo();
    if (ended) break;
    std::string_view record = ReadTextLine(text, spill);
    CheckIo();
    BeginText(out);
    AppendRecord(out, record, plan, separator);
    WriteLineEnd(out);
    CheckIo();
  }

  out_closer.Close();
  text_closer.Close();
}

}  // namespace tabulon
