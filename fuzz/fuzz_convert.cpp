// Fuzz target: the whole conversion of arbitrary text with a small, arbitrary
// field table, in comma and TAB mode, compared byte for byte with the simple
// reference model of the conversion rules.
//
// Input layout: one byte of mode bits (TAB mode, header line, field count,
// spare slots), three bytes per slot (type code, width, trim code, header
// name chosen from these), then the text file's bytes. The same table also
// converts the rest of the input as one raw record (CR, LF and Ctrl-Z
// included) straight through AppendRecord.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "convert/convert_file.h"
#include "convert/record.h"
#include "convert/reference_model.h"
#include "fuzz_support.h"
#include "support/memory_device.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

constexpr std::int32_t kWidths[] = {
    0x7FFFFFFF, -0x7FFFFFFF - 1, 0x7FFFFFF0, -0x7FFFFFF0, 1000000, -1000000, 255, 256,
};

std::int32_t WidthOf(std::uint8_t b) {
  if (b >= 0xF8) return kWidths[b - 0xF8];
  return static_cast<std::int32_t>(b % 206) - 5;  // -5 to 200
}

unsigned char CodeOf(std::uint8_t b, std::string_view codes) {
  if (b < 0xC0) return static_cast<unsigned char>(codes[b % codes.size()]);
  return static_cast<unsigned char>(b & 0xDF);  // any byte folded as the loader stores it
}

const char* const kNames[] = {
    "", "Name", "a\"b", "\"", "x,y", "tab\there", "\x83\x81", "\x81", "\x81\"", "\x82\xa0\x81\x40",
};

struct Case {
  FieldTable Table;
  reference::Table Model;
  char Separator = ',';
  bool Header = false;
};

Case MakeCase(fuzz::InputReader& input) {
  Case c;
  std::uint8_t mode = input.Byte();
  c.Separator = (mode & 1) ? '\t' : ',';
  c.Header = (mode & 2) != 0;
  std::size_t count = (mode >> 2) & 7;
  std::size_t slots = count + ((mode >> 5) & 3);
  c.Table.FieldCount = static_cast<std::int32_t>(count);
  c.Model.FieldCount = c.Table.FieldCount;
  c.Table.TypeCodes.assign(slots, 0);
  c.Table.Widths.assign(slots, 0);
  c.Table.TrimCodes.assign(slots, 0);
  c.Table.HeaderNames.assign(slots, std::string());
  c.Model.Slots.assign(slots, reference::Field{});
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t type = input.Byte();
    std::uint8_t width = input.Byte();
    std::uint8_t trim = input.Byte();
    reference::Field& f = c.Model.Slots[i];
    f.TypeCode = CodeOf(type, "EXEXN\x19");
    f.Width = WidthOf(width);
    f.TrimCode = CodeOf(trim, std::string_view("LRTZ  \0", 7));
    f.HeaderName = kNames[(type ^ trim) % (sizeof kNames / sizeof kNames[0])];
    c.Table.TypeCodes[i] = f.TypeCode;
    c.Table.Widths[i] = f.Width;
    c.Table.TrimCodes[i] = f.TrimCode;
    c.Table.HeaderNames[i] = f.HeaderName;
  }
  return c;
}

// Separators outside double quotes in one output line.
std::size_t SeparatorsOutsideQuotes(std::string_view line, char separator) {
  std::size_t count = 0;
  bool quoted = false;
  for (char c : line) {
    if (c == '"')
      quoted = !quoted;
    else if (c == separator && !quoted)
      ++count;
  }
  return count;
}

// When every field is quoted, each line (header too) has count-1 separators
// outside the quotes, whatever the data holds.
void CheckShape(const std::string& output, const Case& c) {
  std::size_t count = c.Table.FieldCount > 0 ? static_cast<std::size_t>(c.Table.FieldCount) : 1;
  bool all_quoted = true;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char type = i < c.Table.SlotCount() ? c.Table.TypeCodes[i] : 0;
    if (type != 'E' && type != 'X') all_quoted = false;
  }
  std::size_t at = 0;
  bool first = true;
  while (at < output.size()) {
    std::size_t end = output.find("\r\n", at);
    FUZZ_CHECK(end != std::string::npos);
    std::string_view line(output.data() + at, end - at);
    if (all_quoted || (first && c.Header)) {
      FUZZ_CHECK(SeparatorsOutsideQuotes(line, c.Separator) == count - 1);
    }
    first = false;
    at = end + 2;
  }
}

}  // namespace
}  // namespace tabulon

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  static fuzz::MemoryFile text_file("convert-text");
  static fuzz::MemoryFile out_file("convert-out");
  static LineFile out;
  fuzz::InputReader input(data, size);
  Case c = MakeCase(input);
  std::string text(input.Rest());

  // End to end: the text file through the line reader into the output file.
  text_file.Store(text);
  try {
    ConvertFile(text_file.Name(), out_file.Name(), c.Table, c.Separator, c.Header ? 'y' : 'n');
  } catch (const Exception&) {
    fuzz::Fail("ConvertFile raised");
  }
  std::string output = out_file.Load();
  FUZZ_CHECK(output == reference::ConvertText(text, c.Model, c.Separator, c.Header));
  CheckShape(output, c);

  // The raw bytes as one record, whatever they hold.
  static MemoryDevice device;
  OpenMemoryWriter(out, device);
  BeginText(out);
  // Followed by bytes that the masked path may read and must not count.
  const std::size_t tail = text.size() % 2 == 0 ? kMaskedTail : 0;
  const std::string padded = text + std::string(tail, '\x81');
  AppendRecord(out, std::string_view(padded.data(), text.size()), MakePlan(c.Table), c.Separator,
               tail);
  WriteLineEnd(out);
  FUZZ_CHECK(PendingIoCode == 0);
  FUZZ_CHECK(WrittenSoFar(out, device) ==
             reference::ConvertRecord(text, c.Model, c.Separator) + "\r\n");
  return 0;
}
