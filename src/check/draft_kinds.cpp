// The draft of a file whose records fall into kinds: one block per kind.
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "check/draft.h"
#include "check/record_kinds.h"

namespace tabulon::check {
namespace {

constexpr TextForm kDraftForm = TextForm::Cp932;  // the parameter file's bytes

void EndLine(std::string& out) {
  out += "\r\n";
}

// A draft's lines after its title.
std::string_view WithoutTitle(std::string_view draft) {
  const std::size_t end = draft.find("\r\n");
  return end == std::string_view::npos ? std::string_view{} : draft.substr(end + 2);
}

// The lines of `text` with every field line commented out.
void AppendCommentedOut(std::string_view text, std::string& out) {
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    std::string_view line = end == std::string_view::npos ? text : text.substr(0, end + 2);
    if (!line.starts_with('#')) out += '#';
    out += line;
    text.remove_prefix(line.size());
  }
}

// "n件(2-1001行目)"
void AppendCountAndLines(std::uint64_t count, const LineRanges& lines, std::string& out) {
  out += std::to_string(count);
  out += messages::kKindCountOpen.Cp932;
  out += LinesText(lines, kDraftForm);
  out += ')';
}

// "1" or "1-2": the bytes of the key, counted from 1.
std::string KeyColumns(const RecordKinds& kinds) {
  std::string out = std::to_string(kinds.KeyPosition + 1);
  if (kinds.KeySize == 2) out += '-' + std::to_string(kinds.KeyPosition + 2);
  return out;
}

const Text* DraftOnly(const std::vector<std::string_view>& records, bool whole_file,
                      const KindKey& only, std::string& out, std::string_view names_row) {
  const std::uint64_t first_line = names_row.empty() ? 1 : 2;
  std::vector<std::string_view> mine;
  LineRanges lines;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!HasKey(records[i], only)) continue;
    mine.push_back(records[i]);
    lines.Add(i + first_line);
  }
  if (mine.empty()) return &messages::kDraftKindNoRecords;
  std::string draft;
  const std::vector<std::size_t> cuts{only.Position, only.Position + only.Value.size()};
  if (const Text* refusal = DraftOf(mine, whole_file, draft, cuts, names_row)) return refusal;
  out += messages::kDraftTitle.Cp932;
  EndLine(out);
  out += messages::kDraftOnlyKind.Cp932;
  out += std::to_string(only.Position + 1) + ':' + only.Value + ' ';
  AppendCountAndLines(mine.size(), lines, out);
  EndLine(out);
  out += WithoutTitle(draft);
  return nullptr;
}

}  // namespace

const Text* DraftKinds(const std::vector<std::string_view>& records, bool whole_file,
                       const KindKey* only, std::string& out, std::string_view names_row) {
  if (only != nullptr) return DraftOnly(records, whole_file, *only, out, names_row);
  const RecordKinds kinds = FindKinds(records, whole_file);
  if (!kinds.Found()) return DraftOf(records, whole_file, out, {}, names_row);
  const std::uint64_t first_line = names_row.empty() ? 1 : 2;
  const std::size_t n = kinds.Kinds.size();
  std::vector<std::vector<std::string_view>> of(n);
  std::vector<LineRanges> lines(n);
  const std::uint64_t last_line = whole_file ? records.size() : 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::size_t k = kinds.KindOf(records[i], i + 1, last_line);
    if (k == kNoKind) continue;
    of[k].push_back(records[i]);
    lines[k].Add(i + first_line);
  }
  std::vector<std::size_t> cuts;
  if (kinds.KeySize != 0) cuts = {kinds.KeyPosition, kinds.KeyPosition + kinds.KeySize};
  out += messages::kDraftTitle.Cp932;
  EndLine(out);
  out += messages::kDraftKindsIntro.Cp932;
  out += std::to_string(n);
  out += messages::kKindsCount.Cp932;
  if (kinds.KeySize != 0) {
    out += KeyColumns(kinds);
    out += messages::kKindsByKey.Cp932;
  } else {
    out += messages::kKindsByPlace.Cp932;
  }
  EndLine(out);
  out += messages::kDraftKindsHowTo.Cp932;
  EndLine(out);
  for (std::size_t k = 0; k < n; ++k) {
    out += messages::kDraftKindBlock.Cp932;
    out += KindName(kinds.Kinds[k], kDraftForm);
    out += ": ";
    AppendCountAndLines(of[k].size(), lines[k], out);
    EndLine(out);
    std::string draft;
    const Text* refusal =
        DraftOf(of[k], whole_file, draft, cuts, k == 0 ? names_row : std::string_view{});
    // The most common kind's layout is the file's: without it, no draft.
    if (refusal && k == 0) return refusal;
    if (refusal) {
      out += messages::kDraftKindNone.Cp932;
      out += refusal->Cp932;
      EndLine(out);
    } else if (k == 0) {
      out += WithoutTitle(draft);
    } else {
      AppendCommentedOut(WithoutTitle(draft), out);
    }
  }
  return nullptr;
}

}  // namespace tabulon::check
