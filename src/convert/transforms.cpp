#include "convert/transforms.h"

#include "textio/cp932.h"

namespace tabulon {
namespace {

bool IsWideBlank(std::string_view v, std::size_t i) {
  return static_cast<unsigned char>(v[i]) == kWideBlankLead &&
         static_cast<unsigned char>(v[i + 1]) == kWideBlankTrail;
}

// True when the byte at `i` starts a character of `v` read from its start by
// the lead-byte rule. Walking back over the run of lead-range bytes before
// `i` is enough: the byte before that run ends a character (it is a single
// byte or a second byte), so the run pairs up from its first byte.
bool StartsCharacter(std::string_view v, std::size_t i) {
  std::size_t run = 0;
  while (run < i && IsLeadByte(static_cast<unsigned char>(v[i - run - 1]))) ++run;
  return run % 2 == 0;
}

}  // namespace

std::string_view CopyBytes(std::string_view value, std::int32_t start, std::int32_t count) {
  if (value.empty()) return {};
  std::int64_t from = start < 1 ? 1 : start;
  if (from > static_cast<std::int64_t>(value.size()) || count <= 0) return {};
  std::size_t offset = static_cast<std::size_t>(from - 1);
  return value.substr(offset, static_cast<std::size_t>(count));
}

std::string_view TrimLeftBlanks(std::string_view value) {
  std::size_t n = value.size();
  std::size_t p = 0;
  // The last byte is never tested on its own: a trailing single blank stays.
  while (p + 1 < n) {
    if (value[p] == kBlank) {
      ++p;
    } else if (IsWideBlank(value, p)) {
      p += 2;
    } else {
      break;
    }
  }
  return p < n ? value.substr(p) : std::string_view();
}

std::string_view TrimRightBlanks(std::string_view value) {
  std::size_t q = value.size();  // bytes kept
  // The first byte is never tested on its own: a leading single blank stays.
  while (q > 1) {
    if (value[q - 1] == kBlank) {
      --q;
    } else if (IsWideBlank(value, q - 2) && StartsCharacter(value, q - 2)) {
      q -= 2;
    } else {
      break;
    }
  }
  return value.substr(0, q);
}

std::string_view TrimBothBlanks(std::string_view value) {
  return TrimRightBlanks(TrimLeftBlanks(value));
}

std::string_view StripLeadingLow(std::string_view value) {
  std::size_t p = 0;
  while (p < value.size() && static_cast<unsigned char>(value[p]) <= 0x30) ++p;
  return value.substr(p);
}

std::string_view TrimByCode(std::string_view value, unsigned char trim_code) {
  switch (trim_code) {
    case 'L':
      return TrimLeftBlanks(value);
    case 'R':
      return TrimRightBlanks(value);
    case 'T':
      return TrimBothBlanks(value);
    case 'Z':
      return StripLeadingLow(TrimLeftBlanks(value));
    default:
      return value;
  }
}

std::string_view ApplyTrim(const FieldTable& table, std::string_view value, std::size_t index) {
  unsigned char code = index < table.TrimCodes.size() ? table.TrimCodes[index] : 0;
  return TrimByCode(value, code);
}

std::string QuoteField(std::string_view value) {
  std::string quoted;
  quoted.reserve(value.size() + 2);
  AppendQuoted(value, [&](const char* data, std::size_t size) { quoted.append(data, size); });
  return quoted;
}

}  // namespace tabulon
