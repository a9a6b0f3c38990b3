#include "check/draft.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "base/cp932.h"
#include "base/errors.h"
#include "base/messages.h"
#include "check/check_options.h"
#include "check/header_row.h"
#include "check/layout_check.h"
#include "check/parameter_text.h"
#include "check/run_check.h"
#include "platform/platform.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/line_pieces.h"

namespace tabulon::check {
namespace {

// Records examined below this many give a draft of low confidence.
constexpr std::size_t kFewRecords = 20;
constexpr std::size_t kEnoughRecords = 100;

// Raised while a record is read, when it passes kLongestRecord: reading stops
// there, so that a file without line ends is not read to its end.
struct RecordTooLong {};

// Appends the next record to the sample.
void ReadRecord(LineFile& text, SampleRecords& sample) {
  const std::size_t begin = sample.Bytes.size();
  std::string_view line;
  if (TakeBufferedLine(text, line)) {
    sample.Bytes.append(line.substr(0, kLongestRecord + 1));
    if (line.size() > kLongestRecord) throw RecordTooLong{};
  } else {
    auto piece = [&](const char* data, std::size_t size) {
      sample.Bytes.append(data, size);
      if (sample.Bytes.size() - begin > kLongestRecord) throw RecordTooLong{};
    };
    LastPiece last = ReadLinePieces(text, piece, [] {});
    CheckIo();
    if (last.Size != 0) piece(last.Data, last.Size);
  }
  sample.Ends.push_back(sample.Bytes.size());
}

// A file of bytes that are no text: NUL bytes, or more than one byte in a
// hundred that is a control byte or no code page 932 character.
bool LooksBinary(const SampleRecords& sample) {
  std::string_view bytes = sample.Bytes;
  if (bytes.find('\0') != std::string_view::npos) return true;
  std::size_t bad = 0;
  for (std::size_t i = 0; i < sample.Ends.size(); ++i) {
    std::string_view r = sample.Record(i);
    for (std::size_t c = 0; c < r.size(); c += CharLength(r, c)) {
      const unsigned char b = static_cast<unsigned char>(r[c]);
      const bool control = (b < 0x20 && b != '\t' && b != '\f') || b == 0x7F;
      const bool no_character = IsNoCharacterByte(b) || (IsLeadByte(b) && c + 1 == r.size());
      const bool bad_pair =
          IsLeadByte(b) && c + 1 < r.size() && !IsTrailByte(static_cast<unsigned char>(r[c + 1]));
      if (control || no_character || bad_pair) ++bad;
    }
  }
  return bad * 100 > bytes.size();
}

bool SampleReadsAsUtf8(const SampleRecords& sample) {
  Utf8Reader reader;
  for (std::size_t i = 0; i < sample.Ends.size() && reader.Valid; ++i) {
    for (char c : sample.Record(i)) reader.Step(static_cast<unsigned char>(c));
    reader.EndOfText();
  }
  return reader.Valid && reader.Multibyte;
}

// How many records differ from each other, counted up to kFewRecords.
std::size_t DistinctRecords(const std::vector<std::string_view>& records) {
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < records.size() && seen.size() < kFewRecords; ++i)
    seen.insert(records[i]);
  return seen.size();
}

void AppendCp932(std::string& out, const Text& text) {
  out += text.Cp932;
}

char TypeCode(draft::FieldKind kind) {
  switch (kind) {
    case draft::FieldKind::ZeroDigits:
      return 'E';
    case draft::FieldKind::Digits:
    case draft::FieldKind::Number:
      return 'N';
    default:
      return 'X';
  }
}

// The trim code; '\0' for none.
char TrimCode(const draft::DraftField& field) {
  switch (field.Kind) {
    case draft::FieldKind::Blank:
      return 'T';
    case draft::FieldKind::Number:
      return 'L';
    default:
      if (field.PadLeft && field.PadRight) return 'T';
      if (field.PadLeft) return 'L';
      if (field.PadRight) return 'R';
      return '\0';
  }
}

const Text& Confidence(const draft::DraftLayout& layout, const DraftSample& sample) {
  if (sample.Distinct < kFewRecords || sample.AtCommonLength * 100 < sample.Records * 99) {
    return messages::kDraftSureLow;
  }
  const bool guessed = std::any_of(layout.Fields.begin(), layout.Fields.end(),
                                   [](const draft::DraftField& f) { return f.Guessed; });
  if (guessed || sample.Records < kEnoughRecords) return messages::kDraftSureMedium;
  return messages::kDraftSureHigh;
}

}  // namespace

const Text* ReadDraftSample(LineFile& text, SampleRecords& sample, bool& whole_file) {
  sample.Bytes.reserve(kSampleBytes + kLongestRecord);
  sample.Ends.reserve(kSampleRecords);
  while (sample.Bytes.size() < kSampleBytes && sample.Ends.size() < kSampleRecords) {
    const bool ended = AtEndOfData(text);
    CheckIo();
    if (ended) {
      whole_file = true;
      break;
    }
    try {
      ReadRecord(text, sample);
    } catch (const RecordTooLong&) {
      sample.Ends.push_back(sample.Bytes.size());  // its first bytes, to tell binary data
      return &messages::kDraftTooLong;
    }
  }
  if (!whole_file) {
    whole_file = AtEndOfData(text);
    CheckIo();
  }
  return nullptr;
}

std::string DraftText(const draft::DraftLayout& layout, const DraftSample& sample,
                      const std::vector<std::string>& names, const std::vector<bool>& quoted) {
  std::string out;
  AppendCp932(out, messages::kDraftTitle);
  EndLine(out);
  AppendCp932(out, messages::kDraftExamined);
  out += std::to_string(sample.Records);
  AppendCp932(out, sample.WholeFile ? messages::kDraftWholeFile : messages::kDraftPartOfFile);
  EndLine(out);
  AppendCp932(out, messages::kDraftLength);
  out += std::to_string(sample.CommonLength);
  AppendCp932(out, messages::kDraftLengthShare);
  out += std::to_string(sample.Records);
  AppendCp932(out, messages::kDraftLengthOf);
  out += std::to_string(sample.AtCommonLength);
  AppendCp932(out, messages::kDraftLengthTail);
  EndLine(out);
  AppendCp932(out, messages::kDraftSure);
  AppendCp932(out, Confidence(layout, sample));
  EndLine(out);
  AppendCp932(out, messages::kDraftItems);
  EndLine(out);
  for (std::size_t i = 0; i < layout.Fields.size(); ++i) {
    const draft::DraftField& field = layout.Fields[i];
    const bool last = i + 1 == layout.Fields.size();
    if (field.Guessed) {
      AppendCp932(out, messages::kDraftGuessed);
      EndLine(out);
    }
    if (last && i > 0 && field.Kind == draft::FieldKind::Blank) {
      AppendCp932(out, messages::kDraftTrailing);
      EndLine(out);
    }
    std::string name(messages::kCheckField.Cp932);
    name += std::to_string(i + 1);
    if (i < names.size() && !names[i].empty()) name = names[i];
    char type = TypeCode(field.Kind);
    if (type == 'N' && i < quoted.size() && quoted[i]) type = 'X';
    AppendFieldLine(out, type, field.Width, TrimCode(field), name);
  }
  return out;
}

namespace {

// The fields some record of which holds a comma, a TAB or a double quote:
// written without quotes, they would break the output's columns.
std::vector<bool> FieldsHoldingSeparators(const std::vector<std::string_view>& records,
                                          const draft::DraftLayout& layout) {
  std::vector<std::size_t> field_at(layout.RecordLength);
  std::size_t at = 0;
  for (std::size_t i = 0; i < layout.Fields.size(); ++i) {
    for (std::size_t w = 0; w < layout.Fields[i].Width && at < field_at.size(); ++w)
      field_at[at++] = i;
  }
  std::vector<bool> holding(layout.Fields.size(), false);
  for (std::string_view r : records) {
    for (std::size_t c = 0; c < r.size() && c < field_at.size(); ++c) {
      if (IsSeparatorByte(static_cast<unsigned char>(r[c]))) holding[field_at[c]] = true;
    }
  }
  return holding;
}

}  // namespace

const Text* DraftOf(const std::vector<std::string_view>& records, bool whole_file, std::string& out,
                    const std::vector<std::size_t>& cuts, std::string_view names_row) {
  draft::DraftLayout layout = draft::DraftFromSample(records, cuts);
  if (layout.RecordLength == 0) return &messages::kDraftEmpty;
  DraftSample sample;
  sample.Records = records.size();
  sample.CommonLength = layout.RecordLength;
  sample.AtCommonLength = static_cast<std::size_t>(
      std::count_if(records.begin(), records.end(),
                    [&](std::string_view r) { return r.size() == layout.RecordLength; }));
  sample.WholeFile = whole_file;
  sample.Distinct = DistinctRecords(records);
  std::vector<std::string> names;
  if (!names_row.empty()) {
    std::vector<std::size_t> widths;
    for (const draft::DraftField& f : layout.Fields) widths.push_back(f.Width);
    names = NamesOfRow(names_row, widths);
  }
  out += DraftText(layout, sample, names, FieldsHoldingSeparators(records, layout));
  return nullptr;
}

const Text* DraftSampleText(const SampleRecords& records, bool whole_file, const Text* refusal,
                            std::string& out, const KindKey* only) {
  // Binary data without line ends reads as one long record.
  if (refusal == &messages::kDraftTooLong && LooksBinary(records))
    refusal = &messages::kDraftBinary;
  if (refusal) return refusal;
  const std::vector<std::string_view> all = records.Records();
  if (draft::LayoutLength(all) == 0) return &messages::kDraftEmpty;
  // UTF-8 text reads as bytes that are no code page 932 characters: that
  // reason first, since it says what to do.
  if (SampleReadsAsUtf8(records)) return &messages::kDraftTextUtf8;
  if (LooksBinary(records)) return &messages::kDraftBinary;
  out.clear();
  // A row of names on line 1 names the fields and is no record.
  if (!FirstIsNamesRow(all)) return DraftKinds(all, whole_file, only, out);
  const std::vector<std::string_view> body(all.begin() + 1, all.end());
  refusal = DraftKinds(body, whole_file, only, out, all.front());
  if (refusal) return refusal;
  std::string said(messages::kDraftNamesRow.Cp932);
  EndLine(said);
  said += messages::kDraftNamesRowHowTo.Cp932;
  EndLine(said);
  out.insert(out.find("\r\n") + 2, said);  // after the title
  return nullptr;
}

int RunDraft(std::string_view text_name, const KindKey* only) {
  if (text_name != kStandardInputName &&
      !platform::PassesExistenceTest(std::string(text_name).c_str())) {
    WriteError(messages::kTextFileNotFound);
    return kStatusCouldNotRun;
  }
  LineFile text;
  BindTextFile(text, text_name);
  OpenForReading(text);
  CheckIo();
  CloseOnUnwind closer(text);

  SampleRecords records;
  bool whole_file = false;
  const Text* refusal = ReadDraftSample(text, records, whole_file);
  // The text file is one of the run's own files: the draft never goes into it.
  if (!refusal && platform::IsRunFile(platform::StandardOutput()))
    refusal = &messages::kDraftIntoInput;
  closer.Close();
  std::string out;
  refusal = DraftSampleText(records, whole_file, refusal, out, only);
  if (refusal) {
    WriteError(*refusal);
    return kStatusCouldNotRun;
  }
  if (platform::WriteOutsideRunFiles(platform::StandardOutput(), out) != 0)
    return kStatusCouldNotRun;
  return kStatusNothingFound;
}

}  // namespace tabulon::check
