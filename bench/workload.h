// The benchmark workload: deterministic records of three layouts, as the
// data generator writes them to files and the micro-benchmarks convert them
// in memory. The same seed always gives the same bytes.
//
//   mixed   12 fields, 118 bytes per record: the type codes X, E and plain,
//           the trim codes L, R, T, Z and none, code page 932 double-byte
//           text padded with full-width blanks, zero-padded and signed
//           numbers, and now and then a comma or a double quote.
//   narrow  100 fields of 4 bytes, the codes cycling through all kinds.
//   wide    4 fields of 100 bytes of mixed single- and double-byte text.
//   quoted  200 one-byte X fields of letters, digits and blanks, now and then
//           a comma or a double quote: text that grows fourfold and more.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace workload {

struct Rng {
  std::uint64_t State;
  std::uint64_t Next() {  // splitmix64
    std::uint64_t z = (State += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
};

enum class Content {
  Digits,  // zero-padded number, sometimes signed or with a decimal point
  Ascii,   // letters and blanks, sometimes a comma or a double quote
  Kanji,   // code page 932 double-byte text, padded with full-width blanks
  Mixed,   // single- and double-byte text, padded with blanks
  Code,    // short upper-case code
};

enum class Pad { Left, Right, Both, None };

struct Field {
  char TypeCode;  // 'X', 'E' or 'N' (plain)
  int Width;
  char TrimCode;  // 'L', 'R', 'T', 'Z' or 0
  Content Kind;
  Pad Padding;
};

// One double-byte character: hiragana, katakana (including ME, 0x83 0x81,
// whose second byte is a lead byte) or a common kanji.
inline void AppendWide(std::string& out, Rng& rng) {
  switch (rng.Below(4)) {
    case 0:
      out += static_cast<char>(0x82);
      out += static_cast<char>(0x9F + rng.Below(0x53));
      break;
    case 1:
      out += static_cast<char>(0x83);
      out += static_cast<char>(0x40 + rng.Below(0x3F));
      break;
    case 2:
      out += static_cast<char>(0x83);
      out += static_cast<char>(0x80 + rng.Below(0x17));
      break;
    default:
      out += static_cast<char>(0x88 + rng.Below(8));
      out += static_cast<char>(0x9F + rng.Below(0x5E));
      break;
  }
}

inline void AppendAscii(std::string& out, Rng& rng, int count) {
  for (int i = 0; i < count; ++i) {
    std::uint32_t r = rng.Below(64);
    if (r < 52) {
      out += static_cast<char>(r < 26 ? 'A' + r : 'a' + (r - 26));
    } else if (r < 60) {
      out += ' ';
    } else if (r < 62 && rng.OneIn(4)) {
      out += ',';
    } else if (r < 64 && rng.OneIn(4)) {
      out += '"';
    } else {
      out += static_cast<char>('0' + rng.Below(10));
    }
  }
}

// The value's own bytes, at most `width` long, without padding.
inline std::string Body(const Field& f, Rng& rng) {
  std::string body;
  switch (f.Kind) {
    case Content::Digits: {
      int digits = f.Width - 1 - static_cast<int>(rng.Below(3));
      if (digits < 1) digits = 1;
      if (rng.OneIn(5)) body += '-';
      for (int i = static_cast<int>(body.size()); i < digits; ++i) {
        body += i < digits / 2 ? '0' : static_cast<char>('0' + rng.Below(10));
      }
      if (f.Width >= 6 && rng.OneIn(4)) body[body.size() - 3] = '.';
      if (f.Width >= 6 && f.TypeCode == 'E' && rng.OneIn(6)) body[body.size() / 2] = ',';
      break;
    }
    case Content::Ascii:
      AppendAscii(body, rng, 1 + static_cast<int>(rng.Below(static_cast<std::uint32_t>(f.Width))));
      break;
    case Content::Kanji: {
      int chars = 1 + static_cast<int>(rng.Below(static_cast<std::uint32_t>(f.Width / 2)));
      for (int i = 0; i < chars; ++i) {
        if (i > 0 && rng.OneIn(8)) {
          body += "\x81\x40";  // a full-width blank inside the text
        } else {
          AppendWide(body, rng);
        }
      }
      if (rng.OneIn(16) && static_cast<int>(body.size()) < f.Width) body += '@';
      break;
    }
    case Content::Mixed:
      while (static_cast<int>(body.size()) + 2 <= f.Width * 3 / 4) {
        if (rng.OneIn(3)) {
          AppendWide(body, rng);
        } else {
          AppendAscii(body, rng, 1 + static_cast<int>(rng.Below(4)));
        }
      }
      break;
    case Content::Code:
      for (int i = 0; i < f.Width; ++i) body += static_cast<char>('A' + rng.Below(26));
      if (rng.OneIn(3)) body.resize(static_cast<std::size_t>(f.Width / 2));
      break;
  }
  if (static_cast<int>(body.size()) > f.Width) body.resize(static_cast<std::size_t>(f.Width));
  return body;
}

// Pads `body` to exactly `width` bytes with blanks; double-byte text is
// padded with full-width blanks where two bytes remain.
inline void AppendField(std::string& record, const Field& f, Rng& rng) {
  std::string body = Body(f, rng);
  int room = f.Width - static_cast<int>(body.size());
  bool wide = f.Kind == Content::Kanji;
  auto pad = [&](int n) {
    while (n >= 2 && wide) {
      record += "\x81\x40";
      n -= 2;
    }
    record.append(static_cast<std::size_t>(n), ' ');
  };
  int left = 0;
  switch (f.Padding) {
    case Pad::Left:
      left = room;
      break;
    case Pad::Both:
      left = room / 2;
      break;
    case Pad::Right:
    case Pad::None:
      break;
  }
  pad(left);
  record += body;
  pad(room - left);
}

inline std::vector<Field> Layout(std::string_view shape) {
  if (shape == "mixed") {
    return {
        {'E', 6, 'Z', Content::Digits, Pad::None},  {'X', 20, 'R', Content::Kanji, Pad::Right},
        {'E', 8, 'T', Content::Digits, Pad::Both},  {'N', 10, 'Z', Content::Digits, Pad::Left},
        {'X', 16, 'L', Content::Ascii, Pad::Left},  {'N', 4, 0, Content::Code, Pad::Right},
        {'X', 12, 'T', Content::Ascii, Pad::Both},  {'E', 8, 0, Content::Digits, Pad::None},
        {'N', 10, 'R', Content::Ascii, Pad::Right}, {'X', 14, 'T', Content::Kanji, Pad::Both},
        {'E', 6, 'L', Content::Digits, Pad::Left},  {'N', 4, 0, Content::Code, Pad::None},
    };
  }
  std::vector<Field> fields;
  if (shape == "narrow") {
    static constexpr char kTypes[] = {'X', 'E', 'N'};
    static constexpr char kTrims[] = {'L', 'R', 'T', 'Z', 0};
    static constexpr Content kContents[] = {Content::Digits, Content::Ascii, Content::Code,
                                            Content::Kanji};
    for (int i = 0; i < 100; ++i) {
      fields.push_back(
          {kTypes[i % 3], 4, kTrims[i % 5], kContents[i % 4], i % 2 == 0 ? Pad::Left : Pad::Right});
    }
    return fields;
  }
  if (shape == "quoted") {
    fields.assign(200, {'X', 1, 0, Content::Ascii, Pad::None});
    return fields;
  }
  if (shape == "wide") {
    return {
        {'X', 100, 'T', Content::Mixed, Pad::Right},
        {'N', 100, 'R', Content::Kanji, Pad::Right},
        {'E', 100, 'L', Content::Mixed, Pad::Left},
        {'X', 100, 0, Content::Ascii, Pad::Both},
    };
  }
  return fields;
}

// The text of one record of the layout (without its line end).
inline void AppendRecord(std::string& record, const std::vector<Field>& fields, Rng& rng) {
  for (const Field& f : fields) AppendField(record, f, rng);
}

}  // namespace workload
