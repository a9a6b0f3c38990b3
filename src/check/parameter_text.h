// The text of a parameter file as the check writes it: code page 932 bytes,
// each line ended by CR LF, field lines "type,width,trim,name" that the
// conversion's reader reads back exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tabulon::check {

// Ends the line with CR LF.
void EndLine(std::string& out);

// One field line. A trim code of '\0' writes none. The name is written in
// double quotes (its quotes doubled) when it holds a blank, a control byte, a
// comma or a quote, so that it stays one item; it must hold no CR or LF.
void AppendFieldLine(std::string& out, char type, std::uint64_t width, char trim,
                     std::string_view name);

// True when `name` can stand as a header name: no control byte, and every
// lead byte followed by a byte that may follow one.
bool IsWritableName(std::string_view name);

// What reading `text` as a parameter file costs against kParameterBudget:
// each byte twice and kLineCost for each line.
std::size_t ParameterReadCost(std::string_view text);

// Reads the decimal digits `s` (at least one, nothing else) into `value`;
// false when they are not that or exceed `limit`.
bool ParseNumber(std::string_view s, std::uint64_t limit, std::uint64_t& value);

}  // namespace tabulon::check
