// Record kinds: files whose records are of several layouts.
//
// Many exports put records of several kinds in one file: a key of one or two
// bytes at a fixed position (most often the first byte) says which layout a
// record has (a header, data records, a trailer with the totals, an end
// record), or one header record and one trailer record of another layout sit
// around the data. The kinds are found from a sample of records: a key is a
// position whose few values split the records into groups whose columns hold
// different kinds of bytes (digits where the others have blanks, kana where
// they have digits) or whose lengths differ; a lone first or last record is
// a kind of its own when it differs from the body in the same way, and more
// than any record of the body does.
//
// The work is bounded: key positions in the first kKeyPositions bytes only,
// at most kMaxKinds values, and the first kProfileColumns bytes of each
// record compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/messages.h"

namespace tabulon::check {

// The records of a sample: their bytes one after another, and where each
// ends.
struct SampleRecords {
  std::string Bytes;
  std::vector<std::size_t> Ends;
  std::string_view Record(std::size_t i) const {
    std::size_t begin = i == 0 ? 0 : Ends[i - 1];
    return std::string_view(Bytes).substr(begin, Ends[i] - begin);
  }
  // Every record, in order.
  std::vector<std::string_view> Records() const {
    std::vector<std::string_view> all(Ends.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = Record(i);
    return all;
  }
};

inline constexpr std::size_t kKeyPositions = 16;
inline constexpr std::size_t kMaxKinds = 8;
inline constexpr std::size_t kProfileColumns = 512;

// A key value at a position: the records of one kind. Position is counted
// from 0; Value holds one or two bytes.
struct KindKey {
  std::size_t Position = 0;
  std::string Value;
};

// The key of `record`, the bytes past its end read as blanks (a record that
// lost its trailing blanks keeps its kind).
bool HasKey(std::string_view record, std::size_t position, std::string_view value);
inline bool HasKey(std::string_view record, const KindKey& key) {
  return HasKey(record, key.Position, key.Value);
}

// Reads --kind's argument "POS:VALUE" (POS from 1, VALUE one or two bytes).
// Returns the reason it is malformed, or nullptr.
const Text* ParseKindOption(std::string_view argument, KindKey& key);

enum class KindPlace : unsigned char {
  Keyed,  // the records whose key holds Value
  Body,   // the records between a lone first and a lone last record
  First,  // the first record alone
  Last,   // the last record alone
};

struct RecordKind {
  KindPlace Place = KindPlace::Keyed;
  std::string Value;        // Keyed: the key's bytes
  std::uint64_t Count = 0;  // records of this kind in the records examined
};

struct RecordKinds {
  std::size_t KeyPosition = 0;    // from 0
  std::size_t KeySize = 0;        // 0: no key (the kinds are Body, First, Last)
  std::vector<RecordKind> Kinds;  // the most common first; empty: one kind only

  bool Found() const { return !Kinds.empty(); }
  // The index of the kind of record `line` (from 1) of `last_line` (0: not
  // known yet), or kNoKind when its key is none of the kinds' values.
  std::size_t KindOf(std::string_view record, std::uint64_t line, std::uint64_t last_line) const;
};
inline constexpr std::size_t kNoKind = static_cast<std::size_t>(-1);

// Finds the kinds of `records` (lines 1 to records.size()); `whole_file`:
// they are all the file's records, so the last one may be a trailer.
RecordKinds FindKinds(const std::vector<std::string_view>& records, bool whole_file);

// Line numbers as ranges "a-b", the first kShownRanges kept, the rest counted.
struct LineRanges {
  static constexpr std::size_t kShownRanges = 4;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Shown;
  std::uint64_t MoreRanges = 0;
  std::uint64_t LastLine = 0;
  void Add(std::uint64_t line);
};

// "2-1001, 1003行目" (ほかn箇所 when ranges were left out), in `form`.
std::string LinesText(const LineRanges& lines, TextForm form);

// How a kind is shown: 「2」 for a key value (its bytes as they are, in UTF-8
// where the texts are), the first record, the last, the body.
std::string KindName(const RecordKind& kind, TextForm form);

}  // namespace tabulon::check
