// The failure report's text: its two lines, cut after kReportLimit bytes,
// formatted without allocating. The converter writes it; the layout check
// shows its second line, the message, as the converter would cut it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/messages.h"

namespace tabulon {

// The report text is cut after this many bytes of its code page 932 form.
inline constexpr std::size_t kReportLimit = 1024;
// Room for the report in either form: a code page 932 byte of the program's
// texts becomes at most three bytes of UTF-8.
inline constexpr std::size_t kReportBufferSize = 3 * kReportLimit;

// What a report shows. The message is a text of the program, a parameter
// shown as it is (a name, an item, a number), and a text after it.
struct Report {
  std::string_view KindName;
  std::string_view Module;
  std::uint32_t Location = 0;
  const Text* Head = nullptr;
  std::string_view Parameter;
  const Text* Tail = nullptr;
};

// Formats the report into `buffer`:
// "<kind> がモジュール <module> の <location> で発生しました。" CR LF, then the
// message with a '.' appended when it is not empty and its last byte is not
// '.', CR LF. Everything after the first kReportLimit bytes of the code page
// 932 form is cut; in the UTF-8 form, the program's texts within what is kept
// are written in UTF-8 and everything else as it is. Returns the number of
// bytes.
std::size_t FormatReport(char (&buffer)[kReportBufferSize], const Report& report, TextForm form);

// Writes `value` as eight upper-case hexadecimal digits.
void Hex8(char* out, std::uint32_t value);

}  // namespace tabulon
