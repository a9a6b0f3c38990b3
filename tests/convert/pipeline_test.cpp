// Failures met while converting in blocks leave exactly what converting line
// by line leaves: a write-out that fails at any point of the output, a read
// that fails at any point of the text. Small buffers put the failing
// transfer everywhere: inside a field, on the CR or the LF of a line end,
// inside a line longer than a block, in lines a converter had no room for.
#include "convert/pipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "convert/convert_file.h"
#include "convert/record.h"
#include "params/parameter_file.h"
#include "platform/temp_dir.h"

namespace tabulon {
namespace {

constexpr std::int32_t kFailCode = 1117;

// The transfer action of a file that fails after a number of transfers.
LineFileAction real_transfer = nullptr;
int transfers_left = 0;
std::int32_t FailingTransfer(LineFile& file) {
  if (transfers_left-- > 0) return real_transfer(file);
  SetFilled(file, 0);
  return kFailCode;
}

struct Outcome {
  std::string Output;  // the output file once closed
  std::int32_t Code = 0;
  const void* Location = nullptr;
  bool operator==(const Outcome&) const = default;
};

enum class Failing { Reads, WriteOuts };

Outcome Convert(const test::TempDir& dir, const std::string& parameters, bool in_blocks,
                Failing failing, int transfers, const BlockShape& shape = {2, 12, 3, 240},
                bool full_buffers = false, std::size_t blocks_after = 0) {
  FieldTable table;
  EXPECT_EQ(LoadParameterText(parameters, table), "");
  const RecordPlan plan = MakePlan(table);
  auto text = std::make_unique<LineFile>();
  auto out = std::make_unique<LineFile>();
  BindName(*text, dir.Path("in.txt"), full_buffers ? kFileCapacity : 5);
  BindName(*out, dir.Path("out.csv"), full_buffers ? kFileCapacity : 7);
  EXPECT_EQ(OpenForReading(*text), 0);
  EXPECT_EQ(OpenForWriting(*out), 0);
  LineFile& failing_file = failing == Failing::Reads ? *text : *out;
  real_transfer = ReplaceTransferAction(failing_file, FailingTransfer);
  transfers_left = transfers;
  Outcome outcome;
  try {
    if (in_blocks) {
      ConvertLines(*text, *out, plan, ',', shape, blocks_after);
    } else {
      ConvertLines(*text, *out, plan, ',', 1);
    }
  } catch (const EInOutError& e) {
    outcome.Code = e.Code();
    outcome.Location = e.Location();
  }
  ReplaceTransferAction(failing_file, real_transfer);
  CloseLineFile(*out);
  CloseLineFile(*text);
  PendingIoCode = 0;
  outcome.Output = test::TempDir::Read(dir.Path("out.csv"));
  return outcome;
}

TEST(ConvertInBlocks, FailuresLeaveWhatTheLineByLineLoopLeaves) {
  test::TempDir dir;
  // Short and empty lines, LF and CR LF, a lone CR, quotes to double, a line
  // longer than a block, and more lines than a 240-byte output block has room for.
  std::string text;
  for (int i = 0; i < 40; ++i) {
    text += std::to_string(i * 7919) + (i % 3 ? " \"q\" ab" : "") + (i % 5 ? "\r\n" : "\n");
    if (i % 9 == 4) text += "x\ry" + std::string(static_cast<std::size_t>(i), '"') + "\r\n";
    if (i == 17) text += std::string(100, 'L') + "\r\n";
  }
  text += "tail";
  dir.Write("in.txt", text);
  const std::string parameters = "X,3,T\r\nE,4,L\r\nN,5\r\nX,30\r\n";
  const Outcome whole = Convert(dir, parameters, false, Failing::Reads, 1 << 30);
  ASSERT_EQ(whole.Code, 0);
  ASSERT_EQ(Convert(dir, parameters, true, Failing::Reads, 1 << 30), whole);
  for (Failing failing : {Failing::WriteOuts, Failing::Reads}) {
    // Every transfer fails once, until the run needs no more.
    for (int k = 0;; ++k) {
      const Outcome by_line = Convert(dir, parameters, false, failing, k);
      const Outcome in_blocks = Convert(dir, parameters, true, failing, k);
      ASSERT_EQ(in_blocks.Output, by_line.Output)
          << (failing == Failing::Reads ? "read " : "write-out ") << k;
      ASSERT_EQ(in_blocks.Code, by_line.Code) << k;
      ASSERT_EQ(in_blocks.Location, by_line.Location) << k;
      if (by_line.Code == 0) {
        EXPECT_GT(k, 100);
        break;
      }
    }
  }
}

// Output blocks of every room from none up, filled by records whose text is
// the longest the layout gives (every byte a quote, doubled): a record that
// is converted into a block must fit it with its copy slack and line end.
TEST(ConvertInBlocks, OutputBlocksOfAnyRoomTakeTheLongestRecords) {
  test::TempDir dir;
  std::string text;
  for (std::size_t i = 0; i < 12; ++i)
    text += std::string(30 + i % 4, '"') + (i % 2 ? "\r\n" : "\n");
  dir.Write("in.txt", text);
  const std::string parameters = "E,10\r\nE,10\r\nE,10\r\n";
  const Outcome whole = Convert(dir, parameters, false, Failing::Reads, 1 << 30);
  ASSERT_EQ(whole.Code, 0);
  for (std::size_t room = 0; room < 200; ++room) {
    for (unsigned jobs : {1u, 3u}) {
      const BlockShape shape{2, 40, jobs, room};
      ASSERT_EQ(Convert(dir, parameters, true, Failing::Reads, 1 << 30, shape), whole)
          << "output room " << room << ", jobs " << jobs;
    }
  }
}

#if defined(TABULON_TURN_COUNTS)
// The writing thread only writes. With 200 one-byte quoted fields over
// records full of quotes and commas (the text grows fourfold and more), on
// the shapes of two to eight CPUs, no output byte is converted by a thread
// while it holds the write turn; and the blocks take over where the bytes
// the lines before them may take run out.
TEST(ConvertInBlocks, NothingIsConvertedWithTheWriteTurn) {
  test::TempDir dir;
  std::string record;
  for (int i = 0; i < 200; ++i) record += "a\",b"[i % 4];
  std::string text;
  // Full records, and runs of short ones whose text (mostly empty fields)
  // is a hundred times their size: they fill output blocks.
  for (std::size_t i = 0; i < 8000; ++i)
    text += record.substr(0, i % 1000 < 500 ? 150 + i % 51 : i % 3) + "\r\n";
  dir.Write("in.txt", text);
  std::string parameters;
  for (int i = 0; i < 200; ++i) parameters += "X,1\r\n";
  FieldTable table;
  ASSERT_EQ(LoadParameterText(parameters, table), "");
  const RecordPlan plan = MakePlan(table);
  const Outcome whole = Convert(dir, parameters, false, Failing::Reads, 1 << 30, {}, true);
  for (unsigned cpus : {2u, 4u, 8u}) {
    const BlockShape shape = BlockShapeFor(cpus, plan, kFileCapacity);
    const TurnCounts before = ReadTurnCounts();
    ASSERT_EQ(Convert(dir, parameters, true, Failing::Reads, 1 << 30, shape, true), whole);
    const TurnCounts after = ReadTurnCounts();
    const std::uint64_t converted = after.Converted - before.Converted;
    const std::uint64_t by_writer = after.ConvertedInWriteTurn - before.ConvertedInWriteTurn;
    std::printf("%u CPUs: %llu of %llu output bytes converted with the write turn\n", cpus,
                static_cast<unsigned long long>(by_writer),
                static_cast<unsigned long long>(converted));
    EXPECT_EQ(converted, whole.Output.size()) << cpus << " CPUs";
    EXPECT_EQ(by_writer, 0u) << cpus << " CPUs";
  }
  // Blocks allowed after half the text (most of it buffered lines): about half the output.
  const TurnCounts before = ReadTurnCounts();
  ASSERT_EQ(Convert(dir, parameters, true, Failing::Reads, 1 << 30,
                    BlockShapeFor(2, plan, kFileCapacity), true, text.size() / 2),
            whole);
  const std::uint64_t converted = ReadTurnCounts().Converted - before.Converted;
  EXPECT_GT(converted, whole.Output.size() / 4);
  EXPECT_LT(converted, whole.Output.size() * 3 / 4);
}
#endif

}  // namespace
}  // namespace tabulon
