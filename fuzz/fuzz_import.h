// The property both document readers of the check must keep, whatever the
// bytes: either a refusal that names a line of the document (and writes
// nothing), or a parameter file that the conversion reads back without a
// diagnostic, whose widths are all positive and add up to the record length
// its head states, every line ended by CR LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "check/import.h"
#include "fuzz_support.h"
#include "params/field_table.h"
#include "params/parameter_file.h"

namespace tabulon::fuzz {

inline std::uint64_t StatedLength(std::string_view text) {
  const std::string_view head = messages::kDraftLength.Cp932;
  const std::size_t at = text.find(head);
  FUZZ_CHECK(at != std::string_view::npos);
  std::uint64_t value = 0;
  for (std::size_t i = at + head.size(); i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  return value;
}

inline void CheckImport(check::SourceKind kind, const std::uint8_t* data, std::size_t size) {
  const check::SourceLines lines =
      check::SplitSourceLines(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string text;
  const auto refused = check::Import(kind, "fuzz", lines, text);
  if (refused) {
    FUZZ_CHECK(refused->Reason != nullptr && refused->Line <= lines.Count());
    FUZZ_CHECK(!check::RefusalMessage(kind, *refused, TextForm::Utf8).empty());
    return;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
    if (text[i] == '\r') FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
  }
  FUZZ_CHECK(text.ends_with("\r\n"));
  FieldTable table;
  FUZZ_CHECK(LoadParameterText(text, table).empty());
  FUZZ_CHECK(table.FieldCount > 0);
  std::uint64_t sum = 0;
  for (std::int32_t i = 0; i < table.FieldCount; ++i) {
    FUZZ_CHECK(table.Widths[static_cast<std::size_t>(i)] > 0);
    sum += static_cast<std::uint64_t>(table.Widths[static_cast<std::size_t>(i)]);
  }
  FUZZ_CHECK(sum == StatedLength(text));
}

}  // namespace tabulon::fuzz
