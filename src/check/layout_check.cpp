#include "check/layout_check.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#include "convert/record.h"
#include "params/parameter_file.h"
#include "platform/platform.h"
#include "textio/cp932.h"
#include "textio/errors.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/line_pieces.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tabulon::check {
namespace {

constexpr std::size_t kNoBoundary = std::numeric_limits<std::size_t>::max();

// A byte that may follow a lead byte in code page 932.
constexpr bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The number of bytes from `p` (at most `end - p`, which is 8 or more) that
// are plain ASCII, 0x01 to 0x7F: the bytes the lead-byte reading passes over.
inline std::size_t PlainRun(const unsigned char* p, const unsigned char* end) {
  const unsigned char* const start = p;
  auto run_to = [&](int k) { return static_cast<std::size_t>(p - start + k); };
#if defined(__SSE2__) || defined(_M_X64)
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned plain =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_setzero_si128())));
    if (plain != 0xFFFF) return run_to(std::countr_one(plain));
    p += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    while (end - p >= 8) {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      // High bytes, and zero bytes (exact up to the first one: a borrow
      // flags only bytes above a true zero byte).
      std::uint64_t other = (v | ((v - kOnes) & ~v)) & kHighs;
      if (other != 0) return run_to(std::countr_zero(other) >> 3);
      p += 8;
    }
  }
  while (p < end && *p != 0 && *p < 0x80) ++p;
  return run_to(0);
}

}  // namespace

void Utf8Reader::Step(unsigned char b) {
  if (!Valid) return;
  if (Needed != 0) {
    if (b < Low || b > High) {
      Valid = false;
      return;
    }
    --Needed;
    Low = 0x80;
    High = 0xBF;
    return;
  }
  if (b < 0x80) return;
  Multibyte = true;
  if (b >= 0xC2 && b <= 0xDF) {
    Needed = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    Needed = 2;
    if (b == 0xE0) Low = 0xA0;   // no overlong form
    if (b == 0xED) High = 0x9F;  // no surrogate
  } else if (b >= 0xF0 && b <= 0xF4) {
    Needed = 3;
    if (b == 0xF0) Low = 0x90;
    if (b == 0xF4) High = 0x8F;  // nothing above U+10FFFF
  } else {
    Valid = false;
  }
}

bool ReadsAsUtf8(std::string_view text) {
  Utf8Reader reader;
  for (char c : text) reader.Step(static_cast<unsigned char>(c));
  reader.EndOfText();
  return reader.Valid && reader.Multibyte;
}

CheckLayout MakeCheckLayout(const FieldTable& table) {
  CheckLayout layout;
  layout.Present = true;
  std::vector<FieldPlan> plan = MakePlan(table);
  layout.Width = plan.front().Reach;
  layout.Fields = plan.size();
  // (boundary, field) pairs: a field of no bytes cuts nothing.
  std::vector<std::pair<std::size_t, std::uint32_t>> cuts;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].Length == 0) continue;
    std::uint32_t field = static_cast<std::uint32_t>(i);
    if (plan[i].Offset > 0) cuts.emplace_back(plan[i].Offset, field);
    cuts.emplace_back(plan[i].Offset + plan[i].Length, field);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  for (const auto& [at, field] : cuts) {
    if (layout.Boundaries.empty() || layout.Boundaries.back() != at) {
      layout.Boundaries.push_back(at);
      layout.FirstField.push_back(layout.FieldsAt.size());
    }
    layout.FieldsAt.push_back(field);
  }
  layout.FirstField.push_back(layout.FieldsAt.size());
  return layout;
}

RecordScanner::RecordScanner(const CheckLayout& layout, TextFindings& findings)
    : layout_(layout), findings_(findings), counted_line_(layout.Fields, 0) {
  findings_.SplitFields.assign(layout.Fields, Tally{});
}

void RecordScanner::Begin(std::uint64_t line) {
  line_ = line;
  size_ = 0;
  boundary_ = 0;
  next_split_ = layout_.Boundaries.empty() ? kNoBoundary : layout_.Boundaries[0];
  pending_lead_ = bad_trail_ = nul_ = lone_cr_ = false;
}

// The second byte of a double-byte character, at `at` in the record: the
// boundary there (if any) falls inside the character.
inline void RecordScanner::Trail(unsigned char byte, std::size_t at) {
  utf8_.Step(byte);
  if (!IsTrailByte(byte)) {
    bad_trail_ = true;
    if (byte == 0) nul_ = true;
  }
  if (at >= next_split_) SplitAt(at);
}

void RecordScanner::SplitAt(std::size_t at) {
  const std::vector<std::size_t>& boundaries = layout_.Boundaries;
  while (boundary_ < boundaries.size() && boundaries[boundary_] < at) ++boundary_;
  if (boundary_ < boundaries.size() && boundaries[boundary_] == at) {
    for (std::size_t k = layout_.FirstField[boundary_]; k < layout_.FirstField[boundary_ + 1];
         ++k) {
      std::uint32_t field = layout_.FieldsAt[k];
      if (counted_line_[field] == line_) continue;  // a record counts once per field
      counted_line_[field] = line_;
      findings_.SplitFields[field].Add(line_);
    }
    ++boundary_;
  }
  next_split_ = boundary_ < boundaries.size() ? boundaries[boundary_] : kNoBoundary;
}

void RecordScanner::Piece(const char* data, std::size_t size) {
  const unsigned char* const first = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* p = first;
  const unsigned char* const end = first + size;
  const std::size_t base = size_;  // the record offset of `first`
  size_ += size;
  if (pending_lead_ && p < end) {
    pending_lead_ = false;
    Trail(*p, base);
    ++p;
  }
  while (p < end) {
    unsigned char b = *p;
    if (b >= 0x80) {
      utf8_.Step(b);
      if (!IsLeadByte(b)) {
        ++p;
      } else if (end - p >= 2) {
        Trail(p[1], base + static_cast<std::size_t>(p + 1 - first));
        p += 2;
      } else {
        pending_lead_ = true;  // its second byte, if any, comes with the next piece
        ++p;
      }
      continue;
    }
    if (b == 0) {
      nul_ = true;
      utf8_.Step(b);
      ++p;
      continue;
    }
    if (utf8_.Needed != 0) utf8_.Step(b);  // an ASCII byte cuts a sequence short
    p += end - p >= 8 ? PlainRun(p, end) : 1;
  }
}

void RecordScanner::End() {
  const std::uint64_t line = line_;
  findings_.Records = line;
  utf8_.EndOfText();
  if (pending_lead_) findings_.LeadAtEnd.Add(line);
  if (bad_trail_) findings_.BadTrail.Add(line);
  if (nul_) findings_.Nul.Add(line);
  if (lone_cr_) findings_.LoneCr.Add(line);
  if (layout_.Present) {
    if (size_ < layout_.Width) findings_.Shorter.Add(line);
    if (size_ > layout_.Width) findings_.Longer.Add(line);
  }
  findings_.ReadsAsUtf8 = utf8_.Valid && utf8_.Multibyte;
}

namespace {

// After the data ended at a Ctrl-Z (not consumed): the number of bytes that
// follow it in the file. The end of the file also shows as a Ctrl-Z (put in
// the buffer by the reader), which nothing follows.
std::uint64_t BytesAfterEndOfData(LineFile& text) {
  if (text.Position >= text.FillCount) return 0;
  std::uint64_t after = text.FillCount - text.Position - 1;
  for (;;) {
    SetPendingIoCode(text.TransferAction(text));
    CheckIo();
    if (text.FillCount == 0) return after;
    after += text.FillCount;
  }
}

}  // namespace

TextFindings CheckTextFile(std::string_view name, const CheckLayout& layout) {
  TextFindings findings;
  LineFile text;
  BindName(text, name);
  OpenForReading(text);
  CheckIo();
  CloseOnUnwind closer(text);

  RecordScanner scanner(layout, findings);
  auto piece = [&](const char* data, std::size_t size) { scanner.Piece(data, size); };
  auto dropped_cr = [&] { scanner.DroppedCr(); };
  std::uint64_t line = 0;
  bool line_ended = true;  // the last line read ended in LF or CR LF
  for (;;) {
    bool ended = AtEndOfData(text);
    CheckIo();
    if (ended) break;
    scanner.Begin(++line);
    std::string_view record;
    if (TakeBufferedLine(text, record)) {
      scanner.Piece(record.data(), record.size());
      line_ended = true;
    } else {
      LastPiece last = ReadLinePieces(text, piece, dropped_cr);
      CheckIo();
      scanner.Piece(last.Data, last.Size);
      line_ended = last.LineEnd;
    }
    scanner.End();
  }
  findings.BytesAfterEnd = BytesAfterEndOfData(text);
  if (findings.BytesAfterEnd != 0) findings.EndOfDataLine = line_ended ? line + 1 : line;
  closer.Close();
  return findings;
}

ParameterFindings CheckParameterFile(std::string_view name, FieldTable& table) {
  ParameterFindings findings;
  std::string path(name);
  std::string text;
  if (!platform::ReadWholeFile(path.c_str(), text)) RaiseFOpenError(name);
  try {
    findings.Diagnostic = LoadParameterText(text, table);
  } catch (const EConvertError& error) {
    findings.Diagnostic = error.Message();  // the conversion stops with this message
  }
  findings.Utf8Bom = text.starts_with("\xEF\xBB\xBF");
  findings.Utf8Text = !findings.Utf8Bom && ReadsAsUtf8(text);
  return findings;
}

}  // namespace tabulon::check
