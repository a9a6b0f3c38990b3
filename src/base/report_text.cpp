#include "base/report_text.h"

#include <cstring>

namespace tabulon {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Builds the report in a fixed buffer. Its length is counted on the code page
// 932 form, which is cut after kReportLimit bytes. In the UTF-8 form the
// program's texts are written in UTF-8 (as many whole characters as the cut
// keeps of them); every other byte is written as it is.
class ReportText {
 public:
  ReportText(char (&buffer)[kReportBufferSize], TextForm form) : Buffer(buffer), Form(form) {}
  void Append(std::string_view bytes) { Put(bytes.substr(0, Take(bytes.size()))); }
  void Append(const Text* text) {
    if (text == nullptr) return;
    std::size_t kept = Take(text->Cp932.size());
    Put(Form == TextForm::Utf8 ? Utf8Prefix(*text, kept) : text->Cp932.substr(0, kept));
  }
  std::size_t Size() const { return Used; }

 private:
  // Counts up to `size` more code page 932 bytes against the limit.
  std::size_t Take(std::size_t size) {
    std::size_t kept = size < kReportLimit - Counted ? size : kReportLimit - Counted;
    Counted += kept;
    return kept;
  }
  void Put(std::string_view bytes) {
    std::memcpy(Buffer + Used, bytes.data(), bytes.size());
    Used += bytes.size();
  }

  char* Buffer;
  TextForm Form;
  std::size_t Counted = 0;
  std::size_t Used = 0;
};

// A '.' follows the message when it is not empty and the last byte of its
// code page 932 form is not one.
bool NeedsFullStop(const Report& report) {
  for (std::string_view part :
       {report.Tail ? report.Tail->Cp932 : std::string_view(), report.Parameter,
        report.Head ? report.Head->Cp932 : std::string_view()}) {
    if (!part.empty()) return part.back() != '.';
  }
  return false;
}

}  // namespace

void Hex8(char* out, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
}

std::size_t FormatReport(char (&buffer)[kReportBufferSize], const Report& report, TextForm form) {
  char hex[8];
  Hex8(hex, report.Location);
  ReportText text(buffer, form);
  text.Append(report.KindName);
  text.Append(&messages::kReportModule);
  text.Append(report.Module);
  text.Append(&messages::kReportAt);
  text.Append(std::string_view(hex, sizeof hex));
  text.Append(&messages::kReportOccurred);
  text.Append(kLineEnd);
  text.Append(report.Head);
  text.Append(report.Parameter);
  text.Append(report.Tail);
  if (NeedsFullStop(report)) text.Append(".");
  text.Append(kLineEnd);
  return text.Size();
}

}  // namespace tabulon
