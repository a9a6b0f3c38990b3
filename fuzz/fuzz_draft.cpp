// Fuzz target: the draft of arbitrary bytes. The bytes are read as the draft
// reads a text file (its sample), and the sample turned into the draft's
// parameter file text; when there is a draft, the conversion's parameter
// reader must take it without a diagnostic, and the layout check on the same
// bytes must find no boundary inside a double-byte character of any record
// the draft read (the layout's end included).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "check/draft.h"
#include "check/header_row.h"
#include "check/layout_check.h"
#include "check/record_kinds.h"
#include "fuzz_support.h"
#include "params/field_table.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

// Reads the draft's sample of the file `name`; true when it holds the whole file.
bool ReadSample(const std::string& name, check::SampleRecords& records, const Text*& refusal) {
  LineFile text;
  check::BindTextFile(text, name);
  OpenForReading(text);
  FUZZ_CHECK(PendingIoCode == 0);
  bool whole_file = false;
  refusal = check::ReadDraftSample(text, records, whole_file);
  CloseLineFile(text);
  FUZZ_CHECK(PendingIoCode == 0);
  return whole_file;
}

}  // namespace
}  // namespace tabulon

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  static fuzz::MemoryFile text_file("draft-text");
  static fuzz::MemoryFile parameter_file("draft-params");
  text_file.Store({reinterpret_cast<const char*>(data), size});

  check::SampleRecords records;
  const Text* refusal = nullptr;
  const bool whole_file = ReadSample(text_file.Name(), records, refusal);
  std::string draft;
  if (check::DraftSampleText(records, whole_file, refusal, draft) != nullptr) return 0;

  parameter_file.Store(draft);
  FieldTable table;
  check::ParameterFindings parameters =
      check::CheckParameterFile(parameter_file.Name(), table, TextForm::Cp932);
  FUZZ_CHECK(parameters.Diagnostic.empty());
  check::CheckLayout layout = check::MakeCheckLayout(table);
  FUZZ_CHECK(layout.Present);
  check::TextFindings findings = check::CheckTextFile(text_file.Name(), layout);
  if (!whole_file) return 0;  // the records after the sample were never drafted
  // A file of several kinds gets the most common kind's layout first; the
  // check cuts only that kind's records with it, and the others are drafted
  // in their own blocks. The kinds are those of the records after a row of
  // names; the row itself never splits a character at the layout's
  // boundaries.
  std::vector<std::string_view> all = records.Records();
  if (check::FirstIsNamesRow(all)) all.erase(all.begin());
  if (check::FindKinds(all, whole_file).Found()) return 0;
  for (const check::Tally& split : findings.SplitFields) FUZZ_CHECK(split.Count == 0);
  return 0;
}
