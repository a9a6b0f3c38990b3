#include "check/copybook.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "check/parameter_text.h"
#include "params/parameter_file.h"

namespace tabulon::check {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kSequenceArea = 6;   // columns 1-6
constexpr std::size_t kIndicator = 6;      // column 7, from 0
constexpr std::size_t kFixedEnd = 72;      // text past column 72 is ignored
constexpr std::size_t kFixedContent = 65;  // columns 8-72
// The bytes of a field line besides its name, at least: "X,1,,", CR LF.
constexpr std::uint64_t kLeastFieldLine = 7;

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// `token` is `word` (upper case) in any case.
bool Is(std::string_view token, std::string_view word) {
  return token.size() == word.size() && std::equal(token.begin(), token.end(), word.begin(),
                                                   [](char a, char b) { return Upper(a) == b; });
}

bool StartsWith(std::string_view token, std::string_view prefix) {
  return token.size() > prefix.size() && Is(token.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\f';
}

bool IsQuote(char c) {
  return c == '\'' || c == '"';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// ---- Source format -------------------------------------------------------

// Fixed format when every line that is not blank has an indicator in column 7
// and, when shorter, only a sequence number.
bool IsFixedFormat(const std::vector<std::string_view>& lines) {
  for (std::string_view line : lines) {
    if (TrimLeft(line).empty()) continue;
    if (line.size() <= kIndicator) {
      if (!std::all_of(line.begin(), line.end(),
                       [](char c) { return IsBlank(c) || (c >= '0' && c <= '9'); }))
        return false;
      continue;
    }
    const char indicator = line[kIndicator];
    if (!IsBlank(indicator) && std::string_view("*/-Dd").find(indicator) == std::string_view::npos)
      return false;
  }
  return true;
}

// The description's text as one stream: the content of each line after a
// line end, continuation lines joined to the line before, comments left out.
// Remembers where each line starts, for the line numbers of refusals.
struct SourceText {
  std::string Text;
  std::vector<std::pair<std::size_t, std::size_t>> Starts;  // offset, line number

  std::size_t LineAt(std::size_t offset) const {
    auto after = std::upper_bound(Starts.begin(), Starts.end(), std::make_pair(offset, kNone));
    return after == Starts.begin() ? 1 : std::prev(after)->second;
  }
};

class SourceBuilder {
 public:
  SourceBuilder(SourceText& source, ReadBudget& budget) : Source(source), Budget(budget) {}

  // Adds one line's content; a refusal when a continuation cannot continue.
  std::optional<Refusal> Add(std::string_view content, std::size_t line, bool continuation,
                             std::size_t previous_size) {
    std::string& text = Source.Text;
    if (continuation && InLiteral) {
      // The literal runs to column 72, then on after the continuation's quote.
      if (previous_size < kFixedContent) text.append(kFixedContent - previous_size, ' ');
      content = TrimLeft(content);
      if (content.empty() || !IsQuote(content.front()))
        return Refusal{line, {}, &messages::kCopybookBadContinuation, {}};
      content.remove_prefix(1);
    } else if (continuation) {
      while (!text.empty() && IsBlank(text.back())) text.pop_back();
      content = TrimLeft(content);
    } else {
      if (InLiteral) return Refusal{LiteralLine, {}, &messages::kImportOpenQuote, {}};
      text += '\n';
    }
    Budget.Spend(content.size() + sizeof(Source.Starts[0]) + 1);
    Source.Starts.emplace_back(text.size(), line);
    Append(content, line);
    return std::nullopt;
  }

  std::optional<Refusal> Finish() const {
    if (InLiteral) return Refusal{LiteralLine, {}, &messages::kImportOpenQuote, {}};
    return std::nullopt;
  }

 private:
  // Appends up to a "*>" comment outside literals, following the quotes.
  void Append(std::string_view content, std::size_t line) {
    for (std::size_t i = 0; i < content.size(); ++i) {
      const char c = content[i];
      if (InLiteral) {
        InLiteral = c != Quote;
      } else if (IsQuote(c)) {
        InLiteral = true;
        Quote = c;
        LiteralLine = line;
      } else if (c == '*' && i + 1 < content.size() && content[i + 1] == '>') {
        break;
      }
      Source.Text += c;
    }
  }

  SourceText& Source;
  ReadBudget& Budget;
  bool InLiteral = false;
  char Quote = '\0';
  std::size_t LiteralLine = 0;
};

std::optional<Refusal> BuildSource(const std::vector<std::string_view>& lines, ReadBudget& budget,
                                   SourceText& source) {
  const bool fixed = IsFixedFormat(lines);
  SourceBuilder builder(source, budget);
  std::size_t previous_size = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view content = lines[i];
    bool continuation = false;
    if (fixed) {
      content = content.substr(0, kFixedEnd);
      const char indicator = content.size() > kIndicator ? content[kIndicator] : ' ';
      if (std::string_view("*/Dd").find(indicator) != std::string_view::npos) continue;
      continuation = indicator == '-';
      content = content.size() > kSequenceArea + 1 ? content.substr(kSequenceArea + 1) : "";
    }
    if (TrimLeft(content).starts_with(">>")) continue;  // a compiler directive
    if (std::optional<Refusal> refused = builder.Add(content, i + 1, continuation, previous_size))
      return refused;
    previous_size = content.size();
  }
  return builder.Finish();
}

// ---- Tokens ----------------------------------------------------------------

struct Token {
  enum Kind : unsigned char { Word, Literal, Period };
  std::string_view Text;
  std::size_t Line = 0;
  Kind Type = Word;
};

// A period, comma or semicolon that ends a word: one followed by a blank or
// the end of the text.
bool EndsWord(std::string_view text, std::size_t i) {
  const char c = text[i];
  if (c != '.' && c != ',' && c != ';') return false;
  return i + 1 == text.size() || IsBlank(text[i + 1]) || text[i + 1] == '\n';
}

// The text's words, literals (with a prefix such as X'...') and periods.
std::vector<Token> Tokenize(const SourceText& source, ReadBudget& budget) {
  std::vector<Token> tokens;
  std::string_view text = source.Text;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsBlank(c) || c == '\n' || ((c == ',' || c == ';') && EndsWord(text, i))) {
      ++i;
      continue;
    }
    budget.Spend(sizeof(Token));
    const std::size_t start = i;
    Token token{{}, source.LineAt(start), Token::Word};
    if (c == '.' && EndsWord(text, i)) {
      token.Type = Token::Period;
      ++i;
    } else {
      while (i < text.size() && !IsBlank(text[i]) && text[i] != '\n' && !EndsWord(text, i)) {
        if (!IsQuote(text[i])) {
          ++i;
          continue;
        }
        // A literal: to its closing quote (a doubled quote stands for one).
        token.Type = Token::Literal;
        const char quote = text[i++];
        while (i < text.size()) {
          if (text[i++] != quote) continue;
          if (i < text.size() && text[i] == quote) {
            ++i;
            continue;
          }
          break;
        }
      }
    }
    token.Text = text.substr(start, i - start);
    tokens.push_back(token);
  }
  return tokens;
}

// ---- Entries ---------------------------------------------------------------

struct Entry {
  int Level = 0;
  std::size_t Line = 0;
  std::string_view Name;  // empty: FILLER or unnamed
  std::string_view Picture;
  std::string_view Usage;
  std::string_view Variable;  // the word that makes OCCURS vary
  std::string_view Redefines;
  std::uint64_t Occurs = 0;  // 0: no OCCURS
  bool SignGiven = false;
  bool SignSeparate = false;
  bool JustRight = false;
  std::size_t FirstChild = kNone;
  std::size_t LastChild = kNone;
  std::size_t Next = kNone;  // the next item under the same parent
  PictureField Field;
  std::uint64_t Fields = 0;  // in one of its repetitions, from Measure
};

bool IsUsageWord(std::string_view w) {
  for (std::string_view usage :
       {"DISPLAY", "DISPLAY-1", "COMP", "COMPUTATIONAL", "BINARY", "PACKED-DECIMAL", "POINTER",
        "INDEX", "NATIONAL", "FUNCTION-POINTER", "PROCEDURE-POINTER", "UTF-8"}) {
    if (Is(w, usage)) return true;
  }
  return StartsWith(w, "COMP-") || StartsWith(w, "COMPUTATIONAL-") || StartsWith(w, "BINARY-") ||
         StartsWith(w, "FLOAT-");
}

// A word that begins a clause of a data description entry.
bool IsClauseWord(std::string_view w) {
  for (std::string_view clause :
       {"PIC",     "PICTURE",      "USAGE",   "VALUE",    "VALUES",    "OCCURS",     "REDEFINES",
        "RENAMES", "SIGN",         "LEADING", "TRAILING", "JUSTIFIED", "JUST",       "BLANK",
        "SYNC",    "SYNCHRONIZED", "GLOBAL",  "EXTERNAL", "ASCENDING", "DESCENDING", "INDEXED"}) {
    if (Is(w, clause)) return true;
  }
  return IsUsageWord(w);
}

// The clauses of one entry, tokens[at, end) after its level number.
class EntryParser {
 public:
  EntryParser(const std::vector<Token>& tokens, std::size_t at, std::size_t end, Entry& entry)
      : Tokens(tokens), At(at), End(end), Item(entry) {}

  std::optional<Refusal> Parse() {
    if (At < End && Tokens[At].Type == Token::Word && !IsClauseWord(Tokens[At].Text)) {
      if (!Is(Tokens[At].Text, "FILLER")) Item.Name = Tokens[At].Text;
      ++At;
    }
    while (At < End) {
      if (std::optional<Refusal> refused = Clause()) return refused;
    }
    return std::nullopt;
  }

 private:
  bool Next(std::string_view word) {
    if (At < End && Is(Tokens[At].Text, word)) {
      ++At;
      return true;
    }
    return false;
  }

  std::string_view Take() { return At < End ? Tokens[At++].Text : std::string_view(); }

  // Names or values up to the next clause.
  void SkipToClause() {
    while (At < End && !(Tokens[At].Type == Token::Word && IsClauseWord(Tokens[At].Text))) ++At;
  }

  Refusal Refuse(const Text& reason, std::string_view detail) const {
    const std::size_t line = At < End ? Tokens[At].Line : Tokens[End - 1].Line;
    return Refusal{line, std::string(Item.Name.empty() ? "FILLER" : Item.Name), &reason,
                   std::string(detail)};
  }

  std::optional<Refusal> Occurs() {
    std::string_view count = Take();
    if (!ParseNumber(count, kLongestImportedRecord, Item.Occurs) || Item.Occurs == 0) {
      if (Is(count, "UNBOUNDED")) {
        Item.Variable = count;
        return std::nullopt;
      }
      --At;
      return Refuse(messages::kCopybookBadNumber, count);
    }
    // A range (m TO n) or DEPENDING ON; the rest (TIMES, keys) changes nothing.
    while (At < End && !(Tokens[At].Type == Token::Word && IsClauseWord(Tokens[At].Text))) {
      const std::string_view word = Tokens[At++].Text;
      if (Is(word, "DEPENDING") || (Is(word, "TO") && Item.Variable.empty())) Item.Variable = word;
    }
    return std::nullopt;
  }

  std::optional<Refusal> Clause() {
    const Token& token = Tokens[At++];
    const std::string_view w = token.Text;
    if (token.Type != Token::Word) {
      --At;
      return Refuse(messages::kCopybookNotEntry, w);
    }
    if (Is(w, "PIC") || Is(w, "PICTURE")) {
      Next("IS");
      Item.Picture = Take();
    } else if (Is(w, "USAGE")) {
      Next("IS");
      Item.Usage = Take();
    } else if (IsUsageWord(w)) {
      Item.Usage = w;
    } else if (Is(w, "OCCURS")) {
      return Occurs();
    } else if (Is(w, "REDEFINES")) {
      Item.Redefines = Take();
    } else if (Is(w, "SIGN")) {
      Next("IS");
    } else if (Is(w, "LEADING") || Is(w, "TRAILING")) {
      Item.SignGiven = true;
      Item.SignSeparate = Next("SEPARATE");
      Next("CHARACTER");
    } else if (Is(w, "JUSTIFIED") || Is(w, "JUST")) {
      Next("RIGHT");
      Item.JustRight = true;
    } else if (Is(w, "BLANK")) {
      Next("WHEN");
      if (!Next("ZERO") && !Next("ZEROS") && !Next("ZEROES"))
        return Refuse(messages::kCopybookNotEntry, Take());
    } else if (Is(w, "SYNC") || Is(w, "SYNCHRONIZED")) {
      if (!Next("LEFT")) Next("RIGHT");
    } else if (Is(w, "VALUE") || Is(w, "VALUES") || Is(w, "ASCENDING") || Is(w, "DESCENDING") ||
               Is(w, "INDEXED")) {
      SkipToClause();  // values, keys and index names change no byte
    } else if (!Is(w, "GLOBAL") && !Is(w, "EXTERNAL")) {
      --At;
      return Refuse(messages::kCopybookNotEntry, w);
    }
    return std::nullopt;
  }

  const std::vector<Token>& Tokens;
  std::size_t At;
  std::size_t End;
  Entry& Item;
};

// ---- The record ------------------------------------------------------------

struct Description {
  std::vector<Entry> Entries;
  std::vector<std::size_t> Roots;  // the items without a parent, and 66 entries
};

bool IsListingWord(std::string_view w) {
  return Is(w, "EJECT") || Is(w, "SKIP1") || Is(w, "SKIP2") || Is(w, "SKIP3");
}

// Puts the entry under the item its level number makes it part of.
std::optional<Refusal> Place(Description& d, std::vector<std::size_t>& stack, std::size_t index) {
  Entry& entry = d.Entries[index];
  int popped = 0;
  if (entry.Level == 1 || entry.Level == 77 || entry.Level == 66) stack.clear();
  while (!stack.empty() && d.Entries[stack.back()].Level >= entry.Level) {
    popped = d.Entries[stack.back()].Level;
    stack.pop_back();
  }
  if (popped != 0 && popped != entry.Level) {
    return Refusal{entry.Line, std::string(entry.Name), &messages::kCopybookBadLevel,
                   std::to_string(entry.Level)};
  }
  if (stack.empty()) {
    d.Roots.push_back(index);
  } else {
    Entry& parent = d.Entries[stack.back()];
    if (parent.LastChild == kNone) {
      parent.FirstChild = index;
    } else {
      d.Entries[parent.LastChild].Next = index;
    }
    parent.LastChild = index;
  }
  if (entry.Level != 66 && entry.Level != 77) stack.push_back(index);
  return std::nullopt;
}

std::optional<Refusal> ParseEntries(const std::vector<Token>& tokens, ReadBudget& budget,
                                    Description& d) {
  std::vector<std::size_t> stack;
  std::size_t at = 0;
  while (at < tokens.size()) {
    std::size_t end = at;
    while (end < tokens.size() && tokens[end].Type != Token::Period) ++end;
    while (at < end && IsListingWord(tokens[at].Text)) ++at;
    if (at == end) {
      at = end + 1;
      continue;
    }
    if (end == tokens.size()) return Refusal{tokens[at].Line, {}, &messages::kCopybookNoPeriod, {}};
    const Token& first = tokens[at];
    std::uint64_t level = 0;
    if (first.Type != Token::Word || first.Text.size() > 2 || !ParseNumber(first.Text, 99, level))
      return Refusal{first.Line, {}, &messages::kCopybookNotEntry, std::string(first.Text)};
    if (level == 0 || (level > 49 && level != 66 && level != 77 && level != 88))
      return Refusal{first.Line, {}, &messages::kCopybookBadLevel, std::string(first.Text)};
    if (level != 88) {  // condition names: values only
      budget.Spend(sizeof(Entry));
      Entry entry;
      entry.Level = static_cast<int>(level);
      entry.Line = first.Line;
      if (level == 66) {
        if (at + 1 < end) entry.Name = tokens[at + 1].Text;
      } else if (std::optional<Refusal> refused = EntryParser(tokens, at + 1, end, entry).Parse()) {
        return refused;
      }
      d.Entries.push_back(entry);
      if (std::optional<Refusal> refused = Place(d, stack, d.Entries.size() - 1)) return refused;
    }
    at = end + 1;
  }
  return std::nullopt;
}

// Bytes and fields of an item, and the least its field lines cost a reader
// of the parameter file; saturating.
struct Extent {
  std::uint64_t Bytes = 0;
  std::uint64_t Fields = 0;
  std::uint64_t Cost = 0;
};

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::string ItemName(const Entry& entry) {
  return std::string(entry.Name.empty() ? std::string_view("FILLER") : entry.Name);
}

class RecordWriter {
 public:
  RecordWriter(Description& d, ReadBudget& budget, ImportedLayout& layout)
      : D(d), Budget(budget), Layout(layout) {}

  // Checks the item and what it holds, and works out their fields.
  std::optional<Refusal> Measure(std::size_t index, bool sign_separate, Extent& extent) {
    Entry& e = D.Entries[index];
    extent = {};
    if (!e.Redefines.empty()) return std::nullopt;
    auto refuse = [&](const Text& reason, std::string_view detail = {}) {
      return Refusal{e.Line, ItemName(e), &reason, std::string(detail)};
    };
    if (!e.Usage.empty() && !Is(e.Usage, "DISPLAY") && !Is(e.Usage, "DISPLAY-1"))
      return refuse(messages::kCopybookUsage, e.Usage);
    if (!e.Variable.empty()) return refuse(messages::kCopybookVariable, e.Variable);
    if (e.SignGiven) sign_separate = e.SignSeparate;
    if (e.FirstChild != kNone) {
      if (!e.Picture.empty()) return refuse(messages::kCopybookPictureAndItems);
      for (std::size_t c = e.FirstChild; c != kNone; c = D.Entries[c].Next) {
        Extent child;
        if (std::optional<Refusal> refused = Measure(c, sign_separate, child)) return refused;
        extent.Bytes = SaturatingAdd(extent.Bytes, child.Bytes);
        extent.Fields = SaturatingAdd(extent.Fields, child.Fields);
        extent.Cost = SaturatingAdd(extent.Cost, child.Cost);
      }
    } else {
      if (e.Picture.empty()) return refuse(messages::kCopybookNoPicture);
      if (!ParsePicture(e.Picture, sign_separate, e.JustRight, e.Field))
        return refuse(messages::kCopybookBadPicture, e.Picture);
      if (!IsWritableName(e.Name)) return refuse(messages::kImportBadName);
      extent = {e.Field.Width, 1, kLineCost + 2 * (kLeastFieldLine + e.Name.size())};
    }
    e.Fields = extent.Fields;
    if (e.Occurs != 0) {
      extent.Bytes = SaturatingMultiply(extent.Bytes, e.Occurs);
      extent.Fields = SaturatingMultiply(extent.Fields, e.Occurs);
      extent.Cost = SaturatingMultiply(extent.Cost, e.Occurs);
    }
    if (extent.Bytes > kLongestImportedRecord) return refuse(messages::kImportTooLong);
    if (extent.Cost > kParameterBudget) return refuse(messages::kImportTooManyFields);
    return std::nullopt;
  }

  // Writes the item's fields; comments only in the first of its repetitions.
  void Write(std::size_t index, bool first) {
    const Entry& e = D.Entries[index];
    if (!e.Redefines.empty()) {
      if (first) {
        std::string what = ItemName(e);
        what += " REDEFINES ";
        what += e.Redefines;
        Comment(messages::kImportRedefined, e.Line, what);
      }
      return;
    }
    // A group of left-out items only: its comments, once.
    const std::uint64_t times = e.Occurs == 0 || e.Fields == 0 ? 1 : e.Occurs;
    for (std::uint64_t k = 1; k <= times; ++k) {
      if (e.Occurs != 0) Subscripts.push_back(k);
      if (e.FirstChild == kNone) {
        Field(e);
      } else {
        for (std::size_t c = e.FirstChild; c != kNone; c = D.Entries[c].Next) {
          Write(c, first && k == 1);
        }
      }
      if (e.Occurs != 0) Subscripts.pop_back();
    }
  }

  void Comment(const Text& text, std::size_t line, std::string_view what) {
    std::string& out = Layout.Body;
    const std::size_t before = out.size();
    out += text.Cp932;
    out += std::to_string(line);
    out += messages::kLineNumberTail.Cp932;
    out += ": ";
    out += what;
    EndLine(out);
    Budget.Spend(out.size() - before);
  }

 private:
  void Field(const Entry& e) {
    Name.assign(ItemName(e));
    if (!e.Name.empty() && !Subscripts.empty()) {
      for (std::size_t i = 0; i < Subscripts.size(); ++i) {
        Name += i == 0 ? '(' : ',';
        Name += std::to_string(Subscripts[i]);
      }
      Name += ')';
    }
    const std::size_t before = Layout.Body.size();
    AppendFieldLine(Layout.Body, e.Field.Type, e.Field.Width, e.Field.Trim, Name);
    Budget.Spend(Layout.Body.size() - before);
    ++Layout.FieldCount;
  }

  Description& D;
  ReadBudget& Budget;
  ImportedLayout& Layout;
  std::vector<std::uint64_t> Subscripts;
  std::string Name;
};

// The record: the first item without a parent, with those that follow it
// unless it is an 01 or 77 entry; then the items after it are other records.
void WriteRecord(Description& d, RecordWriter& writer, ImportedLayout& layout,
                 std::optional<Refusal>& refused) {
  bool closed = false;
  bool any = false;
  Extent total;
  std::vector<std::size_t> others;
  std::vector<std::size_t> record;
  for (std::size_t root : d.Roots) {
    const Entry& e = d.Entries[root];
    const bool record_level = e.Level == 1 || e.Level == 77;
    if (e.Level == 66 || closed || (any && record_level)) {
      others.push_back(root);
      closed = closed || e.Level != 66;
      continue;
    }
    Extent extent;
    if ((refused = writer.Measure(root, false, extent))) return;
    total.Bytes = SaturatingAdd(total.Bytes, extent.Bytes);
    total.Cost = SaturatingAdd(total.Cost, extent.Cost);
    if (total.Bytes > kLongestImportedRecord || total.Cost > kParameterBudget) {
      refused = Refusal{e.Line,
                        ItemName(e),
                        total.Cost > kParameterBudget ? &messages::kImportTooManyFields
                                                      : &messages::kImportTooLong,
                        {}};
      return;
    }
    record.push_back(root);
    any = true;
    closed = record_level;
  }
  for (std::size_t root : record) writer.Write(root, true);
  for (std::size_t root : others) {
    const Entry& e = d.Entries[root];
    writer.Comment(e.Level == 66 ? messages::kImportRenames : messages::kImportOtherRecord, e.Line,
                   ItemName(e));
  }
  layout.RecordLength = total.Bytes;
}

}  // namespace

bool ParsePicture(std::string_view picture, bool sign_separate, bool just_right,
                  PictureField& field) {
  std::uint64_t width = 0;
  bool text = false, digits = false, national = false, editing = false, inserted = false,
       comma = false;
  int signs = 0, points = 0, scaled = 0;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = Upper(picture[i]);
    const char next = i + 1 < picture.size() ? Upper(picture[i + 1]) : '\0';
    std::uint64_t bytes = 1;
    std::size_t length = 1;
    if ((c == 'C' && next == 'R') || (c == 'D' && next == 'B')) {
      bytes = length = 2;
      editing = true;
    } else if (c == 'X' || c == 'A') {
      text = true;
    } else if (c == '9') {
      digits = true;
    } else if (c == 'N' || c == 'G') {
      national = true;
      bytes = 2;
    } else if (std::string_view("Z*+-,.$").find(c) != std::string_view::npos) {
      editing = true;
      comma = comma || c == ',';
    } else if (c == 'B' || c == '0' || c == '/') {
      inserted = true;
    } else if (c == 'S' && i == 0) {
      ++signs;
      bytes = 0;
    } else if (c == 'V' || c == 'P') {
      ++(c == 'V' ? points : scaled);
      bytes = 0;
    } else {
      return false;
    }
    i += length;
    std::uint64_t count = 1;
    if (i < picture.size() && picture[i] == '(') {
      const std::size_t close = picture.find(')', i);
      if (close == std::string_view::npos ||
          !ParseNumber(picture.substr(i + 1, close - i - 1), kLongestImportedRecord, count) ||
          count == 0 || ((c == 'S' || c == 'V') && count != 1))
        return false;
      i = close + 1;
    }
    width += bytes * count;
    if (width > kLongestImportedRecord) return false;
  }
  if (points > 1) return false;
  if (national || text) {
    if ((national && (text || digits)) || editing || signs || points || scaled) return false;
    field = {width, 'X', just_right ? 'L' : 'R'};
  } else if (editing || (digits && inserted)) {
    if (signs) return false;
    field = {width, comma ? 'X' : 'N', 'L'};
  } else if (digits) {
    if (signs && sign_separate) ++width;
    field = {width, signs || points || scaled ? 'N' : 'E', '\0'};
  } else {
    return false;
  }
  return width != 0;
}

ImportedLayout ReadCopybook(const std::vector<std::string_view>& lines, ReadBudget& budget) {
  ImportedLayout layout;
  SourceText source;
  if ((layout.Refused = BuildSource(lines, budget, source))) return layout;
  const std::vector<Token> tokens = Tokenize(source, budget);
  Description d;
  if ((layout.Refused = ParseEntries(tokens, budget, d))) return layout;
  RecordWriter writer(d, budget, layout);
  WriteRecord(d, writer, layout, layout.Refused);
  return layout;
}

}  // namespace tabulon::check
