// tabulon-check --draft: a parameter file drafted from a text file's records.
//
// Only a sample from the start of the text file is read (kSampleBytes of
// records at most), through the conversion's line reader, so that the draft
// of a file of any size takes the same time and memory. The draft goes to
// standard output as a parameter file that the conversion and the check read
// as they are: code page 932, CR LF, a comment block, one line per field.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "check/draft_layout.h"
#include "check/record_kinds.h"
#include "textio/line_file.h"

namespace tabulon::check {

// The bytes of records kept for the draft, and the longest record drafted.
inline constexpr std::size_t kSampleBytes = std::size_t{4} << 20;
inline constexpr std::size_t kLongestRecord = 65536;
// The records kept, however short they are.
inline constexpr std::size_t kSampleRecords = std::size_t{1} << 16;

// What the sample showed about the file as a whole.
struct DraftSample {
  std::size_t Records = 0;         // records read
  std::size_t Distinct = 0;        // records that differ, counted up to a few
  std::size_t CommonLength = 0;    // the layout's length
  std::size_t AtCommonLength = 0;  // records of that length
  bool WholeFile = false;          // the sample reached the end of the data
};

// The parameter file of a drafted layout, each line ended by CR LF. A field
// whose `names` entry is missing or empty is named 項目n (field n); a field
// of plain type that `quoted` marks is written quoted (X) instead.
std::string DraftText(const draft::DraftLayout& layout, const DraftSample& sample,
                      const std::vector<std::string>& names = {},
                      const std::vector<bool>& quoted = {});

// Appends the draft of `records` (the sample's, or one kind's, with the ends
// of its key as `cuts`) to `out`, its header names taken from `names_row`
// (check/header_row.h) when that is given; returns why none can be made, or
// nullptr.
const Text* DraftOf(const std::vector<std::string_view>& records, bool whole_file, std::string& out,
                    const std::vector<std::size_t>& cuts = {}, std::string_view names_row = {});

// Appends the draft of the sample's records to `out`: of the records of
// `only` when it is given; otherwise one block per kind when their records
// fall into kinds (check/record_kinds.h), the most common first and the
// others' field lines commented out, so that the whole is that kind's
// parameter file. With a `names_row` (the file's line 1, a row of names),
// `records` are lines 2 on, and the names go to the first block's fields.
// Returns why no draft can be made, or nullptr.
const Text* DraftKinds(const std::vector<std::string_view>& records, bool whole_file,
                       const KindKey* only, std::string& out, std::string_view names_row = {});
// Reads records from the open `text` up to kSampleBytes (the record that
// passes it is the last) or kSampleRecords, whichever comes first; sets
// `whole_file` when they reach the end of the data. Returns why no draft can
// be made from them (a record longer than kLongestRecord), or nullptr.
const Text* ReadDraftSample(LineFile& text, SampleRecords& sample, bool& whole_file);

// The draft of a sample read to its end (`whole_file`: the end of the data)
// into `out`, or why none can be made: `refusal` when reading gave one, the
// sample's own reason otherwise. With `only`, of the records of that key.
const Text* DraftSampleText(const SampleRecords& records, bool whole_file, const Text* refusal,
                            std::string& out, const KindKey* only = nullptr);

// Drafts a layout for the text file `text_name` ("-": standard input), of
// the records of `only` when it is given, and writes it to standard output. Returns the exit
// status: 0 with a draft, 2 when none could be made (the reason on standard error). Errors of the
// file operations propagate to the caller.
int RunDraft(std::string_view text_name, const KindKey* only = nullptr);

}  // namespace tabulon::check
