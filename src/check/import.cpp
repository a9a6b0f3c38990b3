#include "check/import.h"

#include "base/errors.h"
#include "check/check_options.h"
#include "check/copybook.h"
#include "check/layout_check.h"
#include "check/parameter_text.h"
#include "check/run_check.h"
#include "check/schema.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/line_pieces.h"

namespace tabulon::check {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Reads the document whole, each line's cost spent as it comes in.
SourceLines ReadSource(LineFile& text, ReadBudget& budget) {
  SourceLines lines;
  auto piece = [&](const char* data, std::size_t size) {
    budget.Spend(2 * size);
    lines.Bytes.append(data, size);
  };
  for (;;) {
    const bool ended = AtEndOfData(text);
    CheckIo();
    if (ended) break;
    budget.Spend(kLineCost);
    std::string_view line;
    if (TakeBufferedLine(text, line)) {
      piece(line.data(), line.size());
    } else {
      LastPiece last = ReadLinePieces(text, piece, [] {});
      CheckIo();
      if (last.Size != 0) piece(last.Data, last.Size);
    }
    lines.Ends.push_back(lines.Bytes.size());
  }
  return lines;
}

// A document of bytes that are no text (NUL and other control bytes but TAB
// and form feed), or of UTF-8 text, whose names would not be code page 932.
std::optional<Refusal> CheckDocument(const std::vector<std::string_view>& lines,
                                     std::string_view whole) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (char c : lines[i]) {
      const auto b = static_cast<unsigned char>(c);
      if ((b < 0x20 && b != '\t' && b != '\f') || b == 0x7F) {
        return Refusal{i + 1, {}, &messages::kImportNotText, {}};
      }
    }
  }
  if (ReadsAsUtf8(whole)) return Refusal{0, {}, &messages::kImportUtf8, {}};
  return std::nullopt;
}

// The source's name for a comment line: standard input by its word, control
// bytes (which would end the line) as '?'.
std::string SourceName(std::string_view name) {
  if (name == kStandardInputName) return std::string(messages::kImportStandardInput.Cp932);
  std::string out(name);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return out;
}

void AppendInForm(std::string& out, std::string_view bytes, TextForm form) {
  if (form == TextForm::Utf8) {
    AppendUtf8Form(bytes, out);
  } else {
    out += bytes;
  }
}

}  // namespace

void ReadBudget::Spend(std::size_t bytes) {
  Cost += bytes;
  if (Cost > kParameterBudget) FailAsOutOfMemory();
}

SourceLines SplitSourceLines(std::string_view bytes) {
  SourceLines lines;
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::size_t i = 0;
  while (i < bytes.size()) {
    while (i < bytes.size() && bytes[i] != '\n') {
      if (bytes[i] != '\r') lines.Bytes += bytes[i];
      ++i;
    }
    lines.Ends.push_back(lines.Bytes.size());
    ++i;
  }
  return lines;
}

std::optional<Refusal> Import(SourceKind kind, std::string_view source_name,
                              const SourceLines& source, std::string& text) {
  std::vector<std::string_view> lines;
  lines.reserve(source.Count());
  for (std::size_t i = 0; i < source.Count(); ++i) lines.push_back(source.Line(i));
  std::string_view whole = source.Bytes;
  if (!lines.empty() && lines[0].starts_with(kUtf8Bom)) {
    lines[0].remove_prefix(kUtf8Bom.size());
    whole.remove_prefix(kUtf8Bom.size());
  }
  if (std::optional<Refusal> refused = CheckDocument(lines, whole)) return refused;

  ReadBudget budget{2 * source.Bytes.size() + source.Count() * kLineCost};
  ImportedLayout layout =
      kind == SourceKind::Copybook ? ReadCopybook(lines, budget) : ReadSchema(lines, budget);
  if (layout.Refused) return layout.Refused;
  if (layout.FieldCount == 0) return Refusal{0, {}, &messages::kImportNoFields, {}};

  text.clear();
  text += kind == SourceKind::Copybook ? messages::kFromCopybookTitle.Cp932
                                       : messages::kFromSchemaTitle.Cp932;
  EndLine(text);
  text += messages::kImportSource.Cp932;
  text += SourceName(source_name);
  EndLine(text);
  text += messages::kDraftLength.Cp932;
  text += std::to_string(layout.RecordLength);
  text += messages::kImportLengthTail.Cp932;
  text += std::to_string(layout.FieldCount);
  text += messages::kImportCountTail.Cp932;
  EndLine(text);
  text += layout.Notes;
  text += messages::kDraftItems.Cp932;
  EndLine(text);
  text += layout.Body;
  // The conversion must be able to read what is written.
  if (ParameterReadCost(text) > kParameterBudget) {
    text.clear();
    return Refusal{0, {}, &messages::kImportTooManyFields, {}};
  }
  return std::nullopt;
}

std::string RefusalMessage(SourceKind kind, const Refusal& refusal, TextForm form) {
  std::string out(
      In(kind == SourceKind::Copybook ? messages::kImportCopybook : messages::kImportSchema, form));
  if (refusal.Line != 0) {
    out += In(messages::kImportLineOf, form);
    out += std::to_string(refusal.Line);
    out += In(messages::kImportLineTail, form);
  }
  if (!refusal.Item.empty()) {
    out += '(';
    AppendInForm(out, refusal.Item, form);
    out += ')';
  }
  out += ": ";
  out += In(*refusal.Reason, form);
  AppendInForm(out, refusal.Detail, form);
  return out;
}

int RunImport(SourceKind kind, std::string_view name) {
  if (name != kStandardInputName && !platform::PassesExistenceTest(std::string(name).c_str())) {
    WriteError(kind == SourceKind::Copybook ? messages::kImportCopybookNotFound
                                            : messages::kImportSchemaNotFound);
    return kStatusCouldNotRun;
  }
  LineFile file;
  BindTextFile(file, name);
  OpenForReading(file);
  CheckIo();
  CloseOnUnwind closer(file);
  ReadBudget read_budget;
  SourceLines lines = ReadSource(file, read_budget);
  // The document is one of the run's own files: the parameter file never
  // goes into it.
  const bool into_input = platform::IsRunFile(platform::StandardOutput());
  closer.Close();
  if (into_input) {
    WriteError(messages::kImportIntoInput);
    return kStatusCouldNotRun;
  }
  std::string text;
  if (std::optional<Refusal> refused = Import(kind, name, lines, text)) {
    WriteError(
        RefusalMessage(kind, *refused, platform::TerminalTextForm(platform::StandardError())));
    return kStatusCouldNotRun;
  }
  if (platform::Write(platform::StandardOutput(), text.data(), text.size()) != 0)
    return kStatusCouldNotRun;
  return kStatusNothingFound;
}

}  // namespace tabulon::check
