// tabulon-check --from-copybook and --from-schema: a parameter file made from
// a document that already describes the record (a COBOL record description,
// a column,start,length table), exactly, instead of drafted from the data.
//
// The document is read whole, through the conversion's line rules, within
// the parameter file's memory budget: its bytes and everything made from
// them count against kParameterBudget, and a document past it (an endless
// stream) fails as exhausted memory does. The result is a parameter file
// that the conversion and the check read as they are: code page 932, CR LF,
// a comment block naming the source and the record length, one line per
// field. A document that cannot be mapped exactly is refused, naming the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"

namespace tabulon::check {

enum class SourceKind { Copybook, Schema };

// The lines of a document: their bytes one after another, and where each ends.
struct SourceLines {
  std::string Bytes;
  std::vector<std::size_t> Ends;
  std::size_t Count() const { return Ends.size(); }
  std::string_view Line(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : Ends[i - 1];
    return std::string_view(Bytes).substr(begin, Ends[i] - begin);
  }
};

// The lines of `bytes` by the line rules (LF or CR LF ends a line, another CR
// is dropped, a Ctrl-Z ends the data), as the document's file gives them.
SourceLines SplitSourceLines(std::string_view bytes);

// What a reader keeps, counted against kParameterBudget with the document's
// own bytes; past it, Spend fails as exhausted memory does.
struct ReadBudget {
  std::size_t Cost = 0;
  void Spend(std::size_t bytes);
};

// Why a document cannot be mapped: its line (from 1; 0 for the whole
// document), the item it concerns (may be empty), the reason, and the bytes
// of the document the reason names (may be empty).
struct Refusal {
  std::size_t Line = 0;
  std::string Item;
  const Text* Reason = nullptr;
  std::string Detail;
};

// What a reader made of a document.
struct ImportedLayout {
  std::string Notes;  // comment lines for the head, after the record length
  std::string Body;   // the field lines and the comments among them
  std::uint64_t RecordLength = 0;
  std::size_t FieldCount = 0;
  std::optional<Refusal> Refused;
};

// The record's limit: the widths add up to at most this many bytes.
inline constexpr std::uint64_t kLongestImportedRecord = 0x7FFFFFFF;

// Maps the document: the whole parameter file in `text`, or the refusal.
// `source_name` is named in the head ("-": standard input).
std::optional<Refusal> Import(SourceKind kind, std::string_view source_name,
                              const SourceLines& lines, std::string& text);

// The refusal as one message line, in `form`.
std::string RefusalMessage(SourceKind kind, const Refusal& refusal, TextForm form);

// Reads the document `name` ("-": standard input), maps it and writes the
// parameter file to standard output. Returns the exit status: 0 with the
// parameter file, 2 with the reason on standard error and nothing on
// standard output. Errors of the file operations propagate to the caller.
int RunImport(SourceKind kind, std::string_view name);

}  // namespace tabulon::check
