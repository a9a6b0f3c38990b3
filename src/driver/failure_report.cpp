#include "driver/failure_report.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace tabulon {
namespace {

// "%s がモジュール %s の %p で発生しました。", cut into its pieces.
constexpr std::string_view kModulePiece =
    "\x20\x82\xaa\x83\x82\x83\x57\x83\x85\x81\x5b\x83\x8b\x20";
constexpr std::string_view kAtPiece = "\x20\x82\xcc\x20";
constexpr std::string_view kOccurredPiece =
    "\x20\x82\xc5\x94\xad\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";
constexpr std::string_view kLineEnd = "\r\n";

const EOutOfMemory out_of_memory(nullptr);

// Appends to a fixed buffer, silently cutting at its end.
class FixedText {
 public:
  FixedText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  void Append(std::string_view piece) {
    std::size_t n = piece.size() < capacity_ - size_ ? piece.size() : capacity_ - size_;
    std::memcpy(buffer_ + size_, piece.data(), n);
    size_ += n;
  }
  std::size_t Size() const { return size_; }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

void Hex8(char* out, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i, value >>= 4) out[i] = kDigits[value & 0xF];
}

std::uint32_t LocationOf(const void* address) {
  return address ? static_cast<std::uint32_t>(platform::CodeOffset(address)) : 0;
}

}  // namespace

std::size_t FormatReport(char* buffer, std::string_view kind_name, std::string_view module,
                         std::uint32_t location, std::string_view message) {
  char hex[8];
  Hex8(hex, location);
  FixedText text(buffer, kReportLimit);
  text.Append(kind_name);
  text.Append(kModulePiece);
  text.Append(module);
  text.Append(kAtPiece);
  text.Append(std::string_view(hex, sizeof hex));
  text.Append(kOccurredPiece);
  text.Append(kLineEnd);
  text.Append(message);
  if (!message.empty() && message.back() != '.') text.Append(".");
  text.Append(kLineEnd);
  return text.Size();
}

void ReportFailure(const Exception& error) {
  char buffer[kReportLimit];
  std::size_t size = FormatReport(buffer, error.KindName(), platform::ModuleName(),
                                  LocationOf(error.Location()), error.Message());
  platform::Handle out = platform::StandardOutput();
  // The results are ignored: with standard output gone, the report is lost
  // and the status is still 1.
  platform::Write(out, buffer, size);
  platform::Write(out, kLineEnd.data(), kLineEnd.size());
  platform::ExitProcess(1);
}

void FormatLastResort(char (&line)[kLastResortSize], int number, std::uint32_t address) {
  std::memcpy(line, "Runtime error     at 00000000", kLastResortSize);
  // The number's last digit is byte 17, the address's last digit byte 29.
  unsigned value = static_cast<unsigned>(number) % 1000;
  std::size_t at = 16;
  do {
    line[at--] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Hex8(line + 21, address);
}

void LastResortReport(int number, const void* address) {
  char line[kLastResortSize];
  FormatLastResort(line, number, LocationOf(address));
  platform::Handle out = platform::StandardOutput();
  platform::Write(out, line, sizeof line);
  platform::Write(out, kLineEnd.data(), kLineEnd.size());
  std::_Exit(number);
}

const EOutOfMemory& OutOfMemoryError() {
  return out_of_memory;
}

}  // namespace tabulon
