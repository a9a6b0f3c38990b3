#include "check/layout_check.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "base/cp932.h"
#include "base/errors.h"
#include "base/report_text.h"
#include "base/simd.h"
#include "check/check_options.h"
#include "convert/field_plan.h"
#include "params/parameter_file.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"
#include "textio/line_pieces.h"

#if TABULON_SSE2
#include <emmintrin.h>
#endif

namespace tabulon::check {
namespace {

// Byte classes of up to 16 bytes, one bit per byte (bit i for p[i]).
struct BlockMasks {
  std::uint32_t Lead = 0;      // lead bytes
  std::uint32_t NotTrail = 0;  // bytes that cannot follow a lead byte
  std::uint32_t Nul = 0;
  std::uint32_t High = 0;  // above 0x7F
};

inline BlockMasks ClassifyBytes(const unsigned char* p, std::size_t n) {
  BlockMasks m;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = p[i];
    std::uint32_t bit = 1u << i;
    if (IsLeadByte(b)) m.Lead |= bit;
    if (!IsTrailByte(b)) m.NotTrail |= bit;
    if (b == 0) m.Nul |= bit;
    if (b >= 0x80) m.High |= bit;
  }
  return m;
}

#if TABULON_SSE2
inline std::uint32_t Bits(__m128i v) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
}

// The same for 16 bytes. Bytes are compared as signed values after flipping
// their top bit, so that byte ranges become signed ranges.
inline BlockMasks ClassifyBlock(const unsigned char* p) {
  __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i x = _mm_xor_si128(raw, _mm_set1_epi8(static_cast<char>(0x80)));
  auto above = [&](int c) { return _mm_cmpgt_epi8(x, _mm_set1_epi8(static_cast<char>(c ^ 0x80))); };
  auto below = [&](int c) { return _mm_cmplt_epi8(x, _mm_set1_epi8(static_cast<char>(c ^ 0x80))); };
  auto outside = [&](ByteRange range) {
    return _mm_or_si128(below(range.First), above(range.Last));
  };
  __m128i not_lead = _mm_and_si128(outside(kLeadLow), outside(kLeadHigh));
  __m128i not_trail = _mm_and_si128(outside(kTrailLow), outside(kTrailHigh));
  BlockMasks m;
  m.Lead = Bits(not_lead) ^ 0xFFFFu;
  m.NotTrail = Bits(not_trail);
  m.Nul = Bits(_mm_cmpeq_epi8(raw, _mm_setzero_si128()));
  m.High = Bits(raw);
  return m;
}
#else
inline BlockMasks ClassifyBlock(const unsigned char* p) {
  return ClassifyBytes(p, 16);
}
#endif

// Whether p[t] starts a character, reading the piece p[0 ..] whose first
// character starts at `phase` (0, or 1 when p[0] ends a character begun in
// the piece before).
inline bool StartsCharacterAt(const unsigned char* p, std::size_t t, std::size_t phase) {
  const char* text = reinterpret_cast<const char*>(p);
  return t >= phase && StartsCharacter(text + phase, text + t);
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
  const RecordPlan record_plan = MakePlan(table);
  const std::vector<FieldPlan>& plan = record_plan.Fields;
  layout.Width = record_plan.BytesReached;
  layout.Fields = plan.size();
  std::size_t named = std::min(plan.size(), static_cast<std::size_t>(table.FieldCount));
  layout.HeaderNames.assign(table.HeaderNames.begin(),
                            table.HeaderNames.begin() + static_cast<std::ptrdiff_t>(named));
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
    : Layout(layout), Findings(findings), CountedLine(layout.Fields, 0) {
  Findings.SplitFields.assign(layout.Fields, Tally{});
}

void RecordScanner::Begin(std::uint64_t line) {
  Line = line;
  RecordSize = 0;
  Boundary = 0;
  PendingLead = SawBadTrail = SawNul = SawLoneCr = false;
}

void RecordScanner::MarkSplit(std::size_t boundary) {
  for (std::size_t k = Layout.FirstField[boundary]; k < Layout.FirstField[boundary + 1]; ++k) {
    std::uint32_t field = Layout.FieldsAt[k];
    if (CountedLine[field] == Line) continue;  // a record counts once per field
    CountedLine[field] = Line;
    Findings.SplitFields[field].Add(Line);
  }
}

// The boundaries that fall in this piece (record offsets `first` to
// `first + size`): those inside a double-byte character.
void RecordScanner::CheckBoundaries(const unsigned char* piece, std::size_t size,
                                    std::size_t first) {
  const std::vector<std::size_t>& boundaries = Layout.Boundaries;
  std::size_t phase = PendingLead ? 1 : 0;
  for (; Boundary < boundaries.size() && boundaries[Boundary] < first + size; ++Boundary) {
    if (!StartsCharacterAt(piece, boundaries[Boundary] - first, phase)) MarkSplit(Boundary);
  }
}

void RecordScanner::Piece(const char* data, std::size_t size) {
  if (size == 0) return;
  const unsigned char* const p = reinterpret_cast<const unsigned char*>(data);
  const std::size_t first = RecordSize;  // the record offset of p[0]
  RecordSize += size;
  const std::size_t phase = PendingLead ? 1 : 0;
  CheckBoundaries(p, size, first);
  if (PendingLead && !IsTrailByte(p[0])) SawBadTrail = true;

  // Block by block: NUL bytes, high bytes, and each byte that cannot follow
  // a lead byte but follows one (a bad pair when that lead byte starts a
  // character).
  std::uint32_t any_high = 0;
  std::uint32_t lead_before = 0;  // the last byte of the block before is a lead byte
  for (std::size_t at = 0; at < size; at += 16) {
    std::size_t n = std::min<std::size_t>(16, size - at);
    BlockMasks m = n == 16 ? ClassifyBlock(p + at) : ClassifyBytes(p + at, n);
    if (m.Nul != 0) SawNul = true;
    any_high |= m.High;
    std::uint32_t pairs = m.NotTrail & ((m.Lead << 1) | lead_before);
    while (pairs != 0 && !SawBadTrail) {
      std::size_t j = at + static_cast<std::size_t>(std::countr_zero(pairs));
      if (StartsCharacterAt(p, j - 1, phase)) SawBadTrail = true;
      pairs &= pairs - 1;
    }
    lead_before = (m.Lead >> (n - 1)) & 1u;
  }
  PendingLead = lead_before != 0 && StartsCharacterAt(p, size - 1, phase);

  if (Utf8.Valid && (any_high != 0 || Utf8.Needed != 0)) {
    for (std::size_t i = 0; i < size && Utf8.Valid; ++i) Utf8.Step(p[i]);
  }
}

void RecordScanner::End() {
  const std::uint64_t line = Line;
  Findings.Records = line;
  Utf8.EndOfText();
  if (PendingLead) Findings.LeadAtEnd.Add(line);
  if (SawBadTrail) Findings.BadTrail.Add(line);
  if (SawNul) Findings.Nul.Add(line);
  if (SawLoneCr) Findings.LoneCr.Add(line);
  if (Layout.Present) {
    if (RecordSize < Layout.Width) Findings.Shorter.Add(line);
    if (RecordSize > Layout.Width) Findings.Longer.Add(line);
  }
  Findings.ReadsAsUtf8 = Utf8.Valid && Utf8.Multibyte;
}

void BindTextFile(LineFile& text, std::string_view name, std::uint32_t capacity) {
  if (name == kStandardInputName) {
    BindStandardInput(text, capacity);
  } else {
    BindName(text, name, capacity);
  }
}

TextFindings CheckTextFile(std::string_view name, const CheckLayout& layout,
                           std::uint32_t capacity) {
  TextFindings findings;
  LineFile text;
  BindTextFile(text, name, capacity);
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
  CheckIo();
  if (findings.BytesAfterEnd != 0) findings.EndOfDataLine = line_ended ? line + 1 : line;
  closer.Close();
  return findings;
}

namespace {

// The converter's name in its failure report, and so in where the report is
// cut.
#ifdef _WIN32
constexpr std::string_view kConverterModule = "Tabulon.exe";
#else
constexpr std::string_view kConverterModule = "tabulon";
#endif

// The message of an error that stops the conversion, as the second line of
// the converter's failure report shows it: cut where the report is cut
// (kReportLimit bytes from the start of its first line). A message the report
// holds whole is shown without the full stop the report appends.
std::string AsTheConverterShows(const Exception& error, TextForm form) {
  const ErrorMessage& message = error.Parts();
  Report report{.KindName = error.KindName(),
                .Module = kConverterModule,
                .Head = message.Head,
                .Parameter = message.Parameter,
                .Tail = message.Tail};
  char buffer[kReportBufferSize];
  std::string_view text(buffer, FormatReport(buffer, report, form));
  std::string_view line = text.substr(text.find("\r\n") + 2);
  return line.ends_with("\r\n") ? message.In(form) : std::string(line);
}

}  // namespace

ParameterFindings CheckParameterFile(std::string_view name, FieldTable& table, TextForm form) {
  ParameterFindings findings;
  std::string text = ReadParameterFile(name);
  try {
    findings.Diagnostic = LoadParameterText(text, table, form);
  } catch (const EConvertError& error) {
    findings.Diagnostic = AsTheConverterShows(error, form);  // the conversion stops here
  }
  findings.Utf8Bom = text.starts_with("\xEF\xBB\xBF");
  findings.Utf8Text = !findings.Utf8Bom && ReadsAsUtf8(text);
  return findings;
}

}  // namespace tabulon::check
