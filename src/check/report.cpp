#include "check/report.h"

#include <string_view>

namespace tabulon::check {
namespace {

using namespace messages;

// One report line: the program's texts in the report's form, and numbers
// and names from the files between them. A name is shown like the texts
// around it: in UTF-8 where the texts are.
class Line {
 public:
  explicit Line(TextForm form) : Form(form) {}
  Line& operator<<(const Text& text) {
    Bytes += In(text, Form);
    return *this;
  }
  Line& operator<<(std::uint64_t number) {
    Bytes += std::to_string(number);
    return *this;
  }
  Line& Name(std::string_view bytes) {
    if (Form == TextForm::Utf8) {
      AppendUtf8Form(bytes, Bytes);
    } else {
      Bytes += bytes;
    }
    return *this;
  }
  std::string Take() { return std::move(Bytes); }

 private:
  TextForm Form;
  std::string Bytes;
};

// "...: n件(最初はl行目)"
void AddTally(Report& report, Line& line, const Tally& tally) {
  line << tally.Count << kCheckFirstLine << tally.FirstLine << kLineNumberTail;
  report.Lines.push_back(line.Take());
}

void AddTally(Report& report, TextForm form, const Text& text, const Tally& tally) {
  if (tally.Count == 0) return;
  Line line(form);
  line << text;
  AddTally(report, line, tally);
}

void AddFit(Report& report, const CheckLayout& layout, const TextFindings& text, TextForm form) {
  for (auto [tally, tail] :
       {std::pair{&text.Shorter, &kCheckShorter}, std::pair{&text.Longer, &kCheckLonger}}) {
    if (tally->Count == 0) continue;
    Line line(form);
    line << kCheckWidth << layout.Width << *tail;
    AddTally(report, line, *tally);
  }
  for (std::size_t i = 0; i < text.SplitFields.size(); ++i) {
    if (text.SplitFields[i].Count == 0) continue;
    Line line(form);
    line << kCheckField << std::uint64_t{i + 1};
    const std::string* name = i < layout.HeaderNames.size() ? &layout.HeaderNames[i] : nullptr;
    if (name != nullptr && !name->empty()) {
      line << kCheckNameOpen;
      line.Name(*name) << kCheckNamedFieldSplit;
    } else {
      line << kCheckFieldSplit;
    }
    AddTally(report, line, text.SplitFields[i]);
  }
}

}  // namespace

Report MakeReport(const ParameterFindings& parameters, const CheckLayout& layout,
                  const TextFindings& text, TextForm form) {
  Report report;
  if (!parameters.Diagnostic.empty()) {
    report.Lines.push_back(parameters.Diagnostic);
  }
  if (layout.Present) AddFit(report, layout, text, form);
  AddTally(report, form, kCheckLeadAtEnd, text.LeadAtEnd);
  AddTally(report, form, kCheckBadTrail, text.BadTrail);
  AddTally(report, form, kCheckNul, text.Nul);
  AddTally(report, form, kCheckLoneCr, text.LoneCr);
  if (text.BytesAfterEnd != 0) {
    Line line(form);
    line << text.EndOfDataLine << kCheckEndOfData << text.BytesAfterEnd << kCheckNotConverted;
    report.Lines.push_back(line.Take());
  }
  if (text.ReadsAsUtf8) report.Lines.emplace_back(In(kCheckTextUtf8, form));
  if (parameters.Utf8Bom) report.Lines.emplace_back(In(kCheckParameterBom, form));
  if (parameters.Utf8Text) report.Lines.emplace_back(In(kCheckParameterUtf8, form));
  report.Found = !report.Lines.empty();
  if (!report.Found) {
    Line line(form);
    line << kCheckNothingFound << text.Records << kCheckRecords;
    report.Lines.push_back(line.Take());
  }
  return report;
}

}  // namespace tabulon::check
