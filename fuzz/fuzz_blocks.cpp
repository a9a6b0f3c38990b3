// Fuzz target: the text converted in blocks on several threads against the
// same text converted line by line, with the same read or write-out failing
// at the same byte: the output file's bytes, the error's code and its
// location must be the same.
//
// Input layout: eight bytes of shape (read size, output buffer size, block
// size, output block room, converters and jobs, bytes before the blocks,
// copies of the text, failure), one byte of mode bits (TAB mode, field
// count), three bytes per field (type code, width, trim code), then the
// text, repeated the chosen number of times so that it spans many blocks.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "convert/convert_file.h"
#include "convert/field_plan.h"
#include "convert/pipeline.h"
#include "fuzz_support.h"
#include "params/field_table.h"
#include "textio/io_codes.h"
#include "textio/line_file.h"

namespace tabulon {
namespace {

constexpr std::int32_t kFailCode = 1117;

// A transfer of the failing file fails once the bytes it has moved would
// pass FailAt (reads: the bytes read; write-outs: the bytes written).
LineFileAction real_transfer = nullptr;
std::size_t moved = 0;
std::size_t fail_at = 0;
bool fail_reads = false;

std::int32_t FailingTransfer(LineFile& file) {
  if (fail_reads) {
    std::int32_t code = real_transfer(file);
    if (code != 0) return code;
    moved += FilledBytes(file);
    if (moved <= fail_at) return 0;
    SetFilled(file, 0);
    return kFailCode;
  }
  if (moved + WaitingBytes(file) > fail_at) {
    TakeWaiting(file);
    return kFailCode;
  }
  moved += WaitingBytes(file);
  return real_transfer(file);
}

struct Setup {
  std::uint32_t ReadSize = 1;
  std::uint32_t OutSize = 1;
  BlockShape Shape;
  std::size_t BlocksAfter = 0;
  bool Failing = false;
  bool FailReads = false;
  std::size_t FailAt = 0;
  FieldTable Table;
  char Separator = ',';
};

constexpr char kTypes[] = {'E', 'X', 'N', 'E', 'X', 'E'};
constexpr char kTrims[] = {'L', 'R', 'T', 'Z', ' ', 'T'};

Setup MakeSetup(fuzz::InputReader& input, std::size_t& copies) {
  Setup s;
  s.ReadSize = 1 + input.Byte() % 80u;
  s.OutSize = 1 + input.Byte() % 80u;
  s.Shape.BlockBytes = input.Byte() * 4u;
  s.Shape.OutputBytes = input.Byte() * 8u;
  const std::uint8_t threads = input.Byte();
  s.Shape.Converters = 1 + threads % 4u;
  s.Shape.Jobs = 1 + (threads >> 2) % 8u;
  s.BlocksAfter = input.Byte() % 4u == 0 ? 0 : input.Byte() * 16u;
  copies = 1 + input.Byte() % 32u;
  const std::uint8_t failure = input.Byte();
  s.Failing = (failure & 3) != 0;
  s.FailReads = (failure & 3) == 1;
  s.FailAt = (failure >> 2) * 97u + input.Byte();
  const std::uint8_t mode = input.Byte();
  s.Separator = (mode & 1) ? '\t' : ',';
  const std::size_t count = 1 + (mode >> 1) % 12u;
  s.Table.FieldCount = static_cast<std::int32_t>(count);
  for (std::size_t i = 0; i < count; ++i) {
    s.Table.TypeCodes.push_back(static_cast<unsigned char>(kTypes[input.Byte() % 6u]));
    s.Table.Widths.push_back(static_cast<std::int32_t>(input.Byte() % 40u) - 2);
    s.Table.TrimCodes.push_back(static_cast<unsigned char>(kTrims[input.Byte() % 6u]));
    s.Table.HeaderNames.emplace_back();
  }
  return s;
}

struct Outcome {
  std::string Output;
  std::int32_t Code = 0;
  const void* Location = nullptr;
};

Outcome Convert(const Setup& s, const RecordPlan& plan, fuzz::MemoryFile& text_file,
                fuzz::MemoryFile& out_file, bool in_blocks) {
  auto text = std::make_unique<LineFile>();
  auto out = std::make_unique<LineFile>();
  BindName(*text, text_file.Name(), s.ReadSize);
  BindName(*out, out_file.Name(), s.OutSize);
  FUZZ_CHECK(OpenForReading(*text) == 0);
  FUZZ_CHECK(OpenForWriting(*out) == 0);
  LineFile& failing = s.FailReads ? *text : *out;
  real_transfer = ReplaceTransferAction(failing, FailingTransfer);
  if (!s.Failing) ReplaceTransferAction(failing, real_transfer);
  moved = 0;
  fail_at = s.FailAt;
  fail_reads = s.FailReads;
  Outcome outcome;
  try {
    if (in_blocks) {
      ConvertLines(*text, *out, plan, s.Separator, s.Shape, s.BlocksAfter);
    } else {
      ConvertLines(*text, *out, plan, s.Separator, 1);
    }
  } catch (const EInOutError& e) {
    outcome.Code = e.Code();
    outcome.Location = e.Location();
  } catch (const Exception&) {
    fuzz::Fail("a conversion raised something else than an I/O error");
  }
  ReplaceTransferAction(failing, real_transfer);
  CloseLineFile(*out);
  CloseLineFile(*text);
  PendingIoCode = 0;
  outcome.Output = out_file.Load();
  return outcome;
}

}  // namespace
}  // namespace tabulon

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  static fuzz::MemoryFile text_file("blocks-text");
  static fuzz::MemoryFile out_file("blocks-out");
  fuzz::InputReader input(data, size);
  std::size_t copies = 1;
  const Setup s = MakeSetup(input, copies);
  const RecordPlan plan = MakePlan(s.Table);
  std::string text;
  for (std::size_t i = 0; i < copies; ++i) text += input.Rest();
  text_file.Store(text);

  const Outcome by_line = Convert(s, plan, text_file, out_file, false);
  const Outcome in_blocks = Convert(s, plan, text_file, out_file, true);
  FUZZ_CHECK(in_blocks.Output == by_line.Output);
  FUZZ_CHECK(in_blocks.Code == by_line.Code);
  FUZZ_CHECK(in_blocks.Location == by_line.Location);
  return 0;
}
