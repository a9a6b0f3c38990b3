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
  // Text already in the report's form.
  Line& Formed(std::string_view bytes) {
    Bytes += bytes;
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

// "項目n(name): <tail>" or "項目n: <tail>", then the tally, per field.
void AddPerField(Report& report, const CheckLayout& layout, const std::vector<Tally>& tallies,
                 const Text& tail, const Text& named_tail, TextForm form) {
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    if (tallies[i].Count == 0) continue;
    Line line(form);
    line << kCheckField << std::uint64_t{i + 1};
    const std::string* name = i < layout.HeaderNames.size() ? &layout.HeaderNames[i] : nullptr;
    if (name != nullptr && !name->empty()) {
      line << kCheckNameOpen;
      line.Name(*name) << named_tail;
    } else {
      line << tail;
    }
    AddTally(report, line, tallies[i]);
  }
}

// Records that lost their trailing blanks: shorter ones of several lengths,
// none ending in a blank, none longer.
bool LostTrailingBlanks(const TextFindings& text) {
  return text.Shorter.Count != 0 && text.Longer.Count == 0 && text.ShorterEndingInBlank == 0 &&
         text.Shortest < text.LongestShorter;
}

// A last field that runs to the end of the line: longer records, and every
// length within the last field.
bool RestOfLine(const CheckLayout& layout, const TextFindings& text) {
  return text.Longer.Count != 0 && text.Shortest < text.Longest &&
         text.Shortest > layout.LastFieldOffset;
}

void AddLengths(Report& report, const CheckLayout& layout, const TextFindings& text,
                TextForm form) {
  if (RestOfLine(layout, text)) {
    Line line(form);
    line << kCheckRestOfLine << text.Shortest << kCheckRestOfLineTo << text.Longest
         << kCheckRestOfLineTail;
    report.Lines.push_back(line.Take());
    return;
  }
  if (LostTrailingBlanks(text)) return AddTally(report, form, kCheckLostBlanks, text.Shorter);
  for (auto [tally, tail] :
       {std::pair{&text.Shorter, &kCheckShorter}, std::pair{&text.Longer, &kCheckLonger}}) {
    if (tally->Count == 0) continue;
    Line line(form);
    line << kCheckWidth << layout.Width << *tail;
    AddTally(report, line, *tally);
  }
}

void AddFit(Report& report, const CheckLayout& layout, const TextFindings& text, TextForm form) {
  AddLengths(report, layout, text, form);
  AddPerField(report, layout, text.SplitFields, kCheckFieldSplit, kCheckNamedFieldSplit, form);
  AddPerField(report, layout, text.Separators, kCheckFieldSeparator, kCheckNamedFieldSeparator,
              form);
}

// The kinds found: which one the layout was checked against, and one line
// for each of the others.
void AddKinds(Report& report, const TextFindings& text, TextForm form) {
  const RecordKinds& kinds = text.Kinds;
  const std::size_t checked = text.CheckedKind;
  Line intro(form);
  intro << kKindsIntro << std::uint64_t{kinds.Kinds.size()} << kKindsCount;
  if (kinds.KeySize != 0) {
    intro << std::uint64_t{kinds.KeyPosition + 1};
    if (kinds.KeySize == 2) intro.Name("-") << std::uint64_t{kinds.KeyPosition + 2};
    intro << kKindsByKey;
  } else {
    intro << kKindsByPlace;
  }
  intro << kCheckKindChecked;
  intro.Formed(KindName(kinds.Kinds[checked], form)) << kCheckKindCheckedTail;
  intro << text.KindCounts[checked] << kCheckKindCountTail;
  intro.Formed(LinesText(text.KindLines[checked], form)).Name(")");
  report.Lines.push_back(intro.Take());
  for (std::size_t k = 0; k < kinds.Kinds.size(); ++k) {
    if (k == checked || text.KindCounts[k] == 0) continue;
    Line line(form);
    line.Formed(KindName(kinds.Kinds[k], form)).Name(": ");
    line << text.KindCounts[k] << kKindCountOpen;
    line.Formed(LinesText(text.KindLines[k], form));
    if (kinds.Kinds[k].Place == KindPlace::Keyed) {
      line << kCheckOtherKeyed << std::uint64_t{kinds.KeyPosition + 1};
      line.Name(":").Name(kinds.Kinds[k].Value) << kCheckOtherKeyedTail;
    } else {
      line << kCheckOtherPlaced;
    }
    report.Lines.push_back(line.Take());
  }
  AddTally(report, form, kCheckNoKind, text.NoKind);
}

}  // namespace

Report MakeReport(const ParameterFindings& parameters, const CheckLayout& layout,
                  const TextFindings& text, TextForm form) {
  Report report;
  if (!parameters.Diagnostic.empty()) {
    report.Lines.push_back(parameters.Diagnostic);
  }
  if (text.NamesRow) report.Lines.emplace_back(In(kCheckNamesRow, form));
  if (text.OnlyOneKind && text.Records == 0) report.Lines.emplace_back(In(kCheckKindNone, form));
  if (text.Kinds.Found()) AddKinds(report, text, form);
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
