#include "check/report.h"

#include <string_view>

#include "check/texts.h"

namespace tabulon::check {
namespace {

std::string Number(std::uint64_t n) {
  return std::to_string(n);
}

// A finding with a count and a first line, after any leading values.
void AddTally(Report& report, std::string_view text, const Tally& tally,
              std::initializer_list<std::string_view> leading = {}) {
  if (tally.Count == 0) return;
  std::string count = Number(tally.Count);
  std::string first = Number(tally.FirstLine);
  std::vector<std::string_view> values(leading);
  values.push_back(count);
  values.push_back(first);
  report.Lines.push_back(Format(text, values));
}

void AddFieldSplits(Report& report, const FieldTable& table, const TextFindings& text, bool utf8) {
  for (std::size_t i = 0; i < text.SplitFields.size(); ++i) {
    std::string number = Number(i + 1);
    const std::string* name =
        i < static_cast<std::size_t>(table.FieldCount) ? &table.HeaderNames[i] : nullptr;
    if (name != nullptr && !name->empty()) {
      AddTally(report, kFieldSplitNamed.In(utf8), text.SplitFields[i], {number, *name});
    } else {
      AddTally(report, kFieldSplit.In(utf8), text.SplitFields[i], {number});
    }
  }
}

}  // namespace

Report MakeReport(const ParameterFindings& parameters, const FieldTable& table,
                  const CheckLayout& layout, const TextFindings& text, bool utf8) {
  Report report;
  if (!parameters.Diagnostic.empty()) {
    report.Lines.push_back(utf8 ? DiagnosticForUtf8(parameters.Diagnostic) : parameters.Diagnostic);
  }
  if (layout.Present) {
    std::string width = Number(layout.Width);
    AddTally(report, kShorter.In(utf8), text.Shorter, {width});
    AddTally(report, kLonger.In(utf8), text.Longer, {width});
    AddFieldSplits(report, table, text, utf8);
  }
  AddTally(report, kLeadAtEnd.In(utf8), text.LeadAtEnd);
  AddTally(report, kBadTrail.In(utf8), text.BadTrail);
  AddTally(report, kNul.In(utf8), text.Nul);
  AddTally(report, kLoneCr.In(utf8), text.LoneCr);
  if (text.BytesAfterEnd != 0) {
    report.Lines.push_back(
        Format(kEndOfData.In(utf8), {Number(text.EndOfDataLine), Number(text.BytesAfterEnd)}));
  }
  if (text.ReadsAsUtf8) report.Lines.emplace_back(kTextUtf8.In(utf8));
  if (parameters.Utf8Bom) report.Lines.emplace_back(kParameterBom.In(utf8));
  if (parameters.Utf8Text) report.Lines.emplace_back(kParameterUtf8.In(utf8));
  report.Found = !report.Lines.empty();
  if (!report.Found) report.Lines.push_back(Format(kNothingFound.In(utf8), {Number(text.Records)}));
  return report;
}

}  // namespace tabulon::check
