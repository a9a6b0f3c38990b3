#include "check/layout_check.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "base/cp932.h"
#include "base/errors.h"
#include "base/report_text.h"
#include "base/simd.h"
#include "check/check_options.h"
#include "check/header_row.h"
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
  std::uint32_t Sep = 0;   // a comma, a TAB or a double quote
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
    if (IsSeparatorByte(b)) m.Sep |= bit;
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
  auto equal = [&](char c) { return _mm_cmpeq_epi8(raw, _mm_set1_epi8(c)); };
  m.Sep = Bits(_mm_or_si128(_mm_or_si128(equal(','), equal('\t')), equal('"')));
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
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const FieldPlan& f = plan[i];
    if (f.Length == 0) continue;
    const std::uint32_t field = static_cast<std::uint32_t>(i);
    if (f.Kind.Text == TextKind::Plain)
      layout.Plain.push_back({f.Offset, f.Offset + f.Length, field});
    if (f.Offset + f.Length == layout.Width && f.Offset >= layout.LastFieldOffset) {
      layout.LastFieldOffset = f.Offset;
      layout.LastField = field;
    }
  }
  std::stable_sort(layout.Plain.begin(), layout.Plain.end(),
                   [](const auto& a, const auto& b) { return a.Offset < b.Offset; });
  std::size_t reach = 0;
  for (const CheckLayout::PlainField& f : layout.Plain) {
    reach = std::max(reach, f.End);
    layout.PlainReach.push_back(reach);
  }
  return layout;
}

RecordScanner::RecordScanner(const CheckLayout& layout, TextFindings& findings)
    : Layout(layout),
      Findings(findings),
      CountedLine(layout.Fields, 0),
      SeparatorLine(layout.Fields, 0) {
  Findings.SplitFields.assign(layout.Fields, Tally{});
  Findings.Separators.assign(layout.Fields, Tally{});
  SplitNow.reserve(layout.Fields);
  SeparatorNow.reserve(layout.Fields);
}

void RecordScanner::Choose(const KindChoice& choice) {
  Choice = choice;
  HeadSize = 0;
  if (choice.Only != nullptr) {
    HeadSize = choice.Only->Position + choice.Only->Value.size();
    Findings.OnlyOneKind = true;
  } else if (choice.Kinds != nullptr) {
    const RecordKinds& kinds = *choice.Kinds;
    HeadSize = kinds.KeyPosition + kinds.KeySize;
    Findings.Kinds = kinds;
    Findings.CheckedKind = choice.Checked;
    Findings.KindCounts.assign(kinds.Kinds.size(), 0);
    Findings.KindLines.assign(kinds.Kinds.size(), LineRanges{});
  }
  Head.reserve(HeadSize);
}

void RecordScanner::AddLastKind(const RecordKinds& kinds, std::uint64_t last_line) {
  if (Choice.Kinds == nullptr) {
    // Every record so far was checked: the body's.
    Findings.CheckedKind = Choice.Checked = 0;
    Findings.KindCounts = {Findings.Records};
    Findings.KindLines.assign(1, LineRanges{});
    if (last_line > 1) {
      Findings.KindLines[0].Shown.emplace_back(1, last_line - 1);
      Findings.KindLines[0].LastLine = last_line - 1;
    }
  }
  Choice.Kinds = &kinds;
  Choice.LastLine = last_line;
  Findings.Kinds = kinds;
  Findings.KindCounts.resize(kinds.Kinds.size(), 0);
  Findings.KindLines.resize(kinds.Kinds.size(), LineRanges{});
}

void RecordScanner::Begin(std::uint64_t line) {
  Line = line;
  RecordSize = 0;
  Boundary = 0;
  PendingLead = SawBadTrail = SawNul = SawLoneCr = false;
  SplitNow.clear();
  SeparatorNow.clear();
  Head.clear();
}

void RecordScanner::MarkSplit(std::size_t boundary) {
  for (std::size_t k = Layout.FirstField[boundary]; k < Layout.FirstField[boundary + 1]; ++k) {
    std::uint32_t field = Layout.FieldsAt[k];
    if (CountedLine[field] == Line) continue;  // a record counts once per field
    CountedLine[field] = Line;
    SplitNow.push_back(field);
  }
}

// The plain fields that hold record offset `offset`.
void RecordScanner::MarkSeparator(std::size_t offset) {
  const auto& plain = Layout.Plain;
  auto after = std::upper_bound(plain.begin(), plain.end(), offset,
                                [](std::size_t o, const auto& f) { return o < f.Offset; });
  for (std::size_t i = static_cast<std::size_t>(after - plain.begin()); i-- > 0;) {
    if (Layout.PlainReach[i] <= offset) break;
    const std::uint32_t field = plain[i].Field;
    if (plain[i].End <= offset || SeparatorLine[field] == Line) continue;
    SeparatorLine[field] = Line;
    SeparatorNow.push_back(field);
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
  LastByte = data[size - 1];
  if (first < HeadSize) Head.append(data, std::min(size, HeadSize - first));
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
    for (std::uint32_t sep = Layout.Plain.empty() ? 0 : m.Sep; sep != 0; sep &= sep - 1) {
      MarkSeparator(first + at + static_cast<std::size_t>(std::countr_zero(sep)));
    }
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

bool RecordScanner::Counts() {
  if (Choice.Only != nullptr) return HasKey(Head, *Choice.Only);
  if (Choice.Kinds == nullptr) return true;
  const std::size_t kind = Choice.Kinds->KindOf(Head, Line + 1 - Choice.FirstLine, Choice.LastLine);
  if (kind == kNoKind) {
    Findings.NoKind.Add(Line);
    return false;
  }
  ++Findings.KindCounts[kind];
  Findings.KindLines[kind].Add(Line);
  return kind == Choice.Checked;
}

void RecordScanner::End() {
  const std::uint64_t line = Line;
  Utf8.EndOfText();
  Findings.ReadsAsUtf8 = Utf8.Valid && Utf8.Multibyte;
  if (!Counts()) return;
  ++Findings.Records;
  for (std::uint32_t field : SplitNow) Findings.SplitFields[field].Add(line);
  for (std::uint32_t field : SeparatorNow) Findings.Separators[field].Add(line);
  Findings.Shortest = std::min(Findings.Shortest, RecordSize);
  Findings.Longest = std::max(Findings.Longest, RecordSize);
  if (PendingLead) Findings.LeadAtEnd.Add(line);
  if (SawBadTrail) Findings.BadTrail.Add(line);
  if (SawNul) Findings.Nul.Add(line);
  if (SawLoneCr) Findings.LoneCr.Add(line);
  if (Layout.Present) {
    if (RecordSize < Layout.Width) Findings.Shorter.Add(line);
    if (RecordSize < Layout.Width && RecordSize != 0 && LastByte == ' ')
      ++Findings.ShorterEndingInBlank;
    if (RecordSize < Layout.Width)
      Findings.LongestShorter = std::max(Findings.LongestShorter, RecordSize);
    if (RecordSize > Layout.Width) Findings.Longer.Add(line);
  }
}

namespace {

// The records of the sample, kept while their kinds are not known yet, and
// which of them lost a lone CR.
struct KeptRecords : SampleRecords {
  std::vector<bool> LoneCr;
};

// The kind whose records fit the layout's width best (the most common on a tie).
std::size_t BestFitting(const RecordKinds& kinds, const std::vector<std::string_view>& kept,
                        const CheckLayout& layout, std::uint64_t last_line) {
  if (!layout.Present) return 0;
  std::vector<std::uint64_t> records(kinds.Kinds.size(), 0);
  std::vector<std::uint64_t> fitting(kinds.Kinds.size(), 0);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    std::string_view r = kept[i];
    const std::size_t k = kinds.KindOf(r, i + 1, last_line);
    if (k == kNoKind) continue;
    ++records[k];
    if (r.size() == layout.Width) ++fitting[k];
  }
  std::size_t best = 0;
  for (std::size_t k = 1; k < records.size(); ++k) {
    // fitting[k] / records[k] > fitting[best] / records[best]
    if (fitting[k] * records[best] > fitting[best] * records[k]) best = k;
  }
  return best;
}

// Hands the records to the scanner; with kinds to find, keeps those of the
// sample first, finds their kinds, then hands them over and the rest after.
class KindedFeed {
 public:
  KindedFeed(RecordScanner& scanner, TextFindings& findings, const CheckLayout& layout,
             const TextCheckOptions& options)
      : Scanner(scanner),
        Findings(findings),
        Layout(layout),
        SampleBytes(options.SampleBytes),
        LongestKept(options.LongestKept) {
    Keeping = options.FindKinds && options.Only == nullptr;
    if (options.Only != nullptr) Scanner.Choose(KindChoice{.Only = options.Only});
  }
  void Begin(std::uint64_t line) {
    if (Keeping && Kept.Bytes.size() >= SampleBytes) HandOver(false);
    Line = line;
    if (Holding) {
      EndHeld();
      Held.Head.clear();
      Held.Size = 0;
    }
    if (!Keeping) return Scanner.Begin(line);
    Start = Kept.Bytes.size();
    CrNow = false;
  }
  void Piece(const char* data, std::size_t size) {
    if (Holding) {
      Held.Head.append(data, std::min(size, kProfileColumns - Held.Head.size()));
      Held.Size += size;
    }
    if (!Keeping) return Scanner.Piece(data, size);
    if (Kept.Bytes.size() - Start + size <= LongestKept) {
      Kept.Bytes.append(data, size);
      return;
    }
    HandOver(false);
    Held.Size = LongestKept + 1;  // its start was not held: it stays the body's
    Scanner.Piece(data, size);
  }
  void DroppedCr() {
    if (Keeping) {
      CrNow = true;
    } else {
      Scanner.DroppedCr();
    }
  }
  void End() {
    if (Holding) {
      Held.Ended = true;
      return;
    }
    if (!Keeping) return Scanner.End();
    Kept.Ends.push_back(Kept.Bytes.size());
    Kept.LoneCr.push_back(CrNow);
  }
  void Finish() {
    if (Keeping) return HandOver(true);
    if (Held.Ended) FindLastKind();
    EndHeld();
  }

 private:
  // Finds the kinds of the kept records and hands them to the scanner, then
  // the part of the record being read, if any.
  void HandOver(bool whole_file) {
    Keeping = false;
    const std::vector<std::string_view> records = Kept.Records();
    // A row of names on line 1 is no record: the kinds are those of the rest.
    const std::size_t skip = NamesRowFirst(records) ? 1 : 0;
    Findings.NamesRow = skip == 1;
    const std::vector<std::string_view> body(records.begin() + static_cast<std::ptrdiff_t>(skip),
                                             records.end());
    Kinds = FindKinds(body, whole_file);
    if (Kinds.Found()) {
      KindChoice choice;
      choice.Kinds = &Kinds;
      choice.LastLine = whole_file ? body.size() : 0;
      choice.FirstLine = 1 + skip;
      choice.Checked = BestFitting(Kinds, body, Layout, choice.LastLine);
      Scanner.Choose(choice);
    }
    for (std::size_t i = skip; i < records.size(); ++i) {
      Scanner.Begin(i + 1);
      if (Kept.LoneCr[i]) Scanner.DroppedCr();
      Scanner.Piece(records[i].data(), records[i].size());
      Scanner.End();
    }
    const std::size_t kept = Kept.Ends.empty() ? 0 : Kept.Ends.back();
    if (Kept.Bytes.size() > kept || (Line > records.size() && !whole_file)) {
      Scanner.Begin(Line);
      if (CrNow) Scanner.DroppedCr();
      Scanner.Piece(Kept.Bytes.data() + kept, Kept.Bytes.size() - kept);
    }
    Holding = !whole_file && Kinds.KeySize == 0;
  }

  void EndHeld() {
    if (Held.Ended) Scanner.End();
    Held.Ended = false;
  }

  // Whether the held record, the file's last, differs from the body (the
  // sample's first kLastKindSample bytes of records) as a lone last record
  // does. The kinds are told from a record's first kProfileColumns bytes and
  // its length: the rest reads as blanks.
  static constexpr std::size_t kLastKindSample = std::size_t{256} << 10;
  void FindLastKind() {
    if (Held.Size > LongestKept) return;
    std::vector<std::string_view> records;
    for (std::size_t i = 0; i < Kept.Ends.size() && Kept.Ends[i] <= kLastKindSample; ++i)
      records.push_back(Kept.Record(i));
    Held.Head.resize(Held.Size, ' ');
    records.push_back(Held.Head);
    const RecordKinds with_last = FindKinds(records, true);
    if (with_last.KeySize != 0 || !with_last.Found() ||
        with_last.Kinds.back().Place != KindPlace::Last)
      return;
    if (!Kinds.Found()) Kinds.Kinds.push_back({KindPlace::Body, {}, records.size() - 1});
    Kinds.Kinds.push_back({KindPlace::Last, {}, 1});
    Scanner.AddLastKind(Kinds, Line);
  }

  // The first record is a row of names over the others, cut by the layout.
  bool NamesRowFirst(const std::vector<std::string_view>& records) const {
    if (!Layout.Present || records.empty()) return false;
    std::vector<std::size_t> widths;
    for (std::size_t at = 0; std::size_t end : Layout.Boundaries) {
      widths.push_back(end - at);
      at = end;
    }
    const std::vector<std::string_view> body(records.begin() + 1, records.end());
    return IsNamesRow(records.front(), body, widths);
  }

  RecordScanner& Scanner;
  TextFindings& Findings;
  const CheckLayout& Layout;
  std::size_t SampleBytes;
  std::size_t LongestKept;
  bool Keeping = false;
  KeptRecords Kept;
  RecordKinds Kinds;
  std::uint64_t Line = 0;
  std::size_t Start = 0;  // where the record being kept begins
  bool CrNow = false;
  // After the sample, each record's end is held until the next record
  // begins, with its first bytes: the last may be a kind of its own.
  bool Holding = false;
  struct {
    std::string Head;
    std::size_t Size = 0;
    bool Ended = false;
  } Held;
};

}  // namespace

void BindTextFile(LineFile& text, std::string_view name, std::uint32_t capacity) {
  if (name == kStandardInputName) {
    BindStandardInput(text, capacity);
  } else {
    BindName(text, name, capacity);
  }
}

TextFindings CheckTextFile(std::string_view name, const CheckLayout& layout,
                           const TextCheckOptions& options) {
  TextFindings findings;
  LineFile text;
  BindTextFile(text, name, options.Capacity);
  OpenForReading(text);
  CheckIo();
  CloseOnUnwind closer(text);

  RecordScanner record_scanner(layout, findings);
  KindedFeed scanner(record_scanner, findings, layout, options);
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
  scanner.Finish();
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
