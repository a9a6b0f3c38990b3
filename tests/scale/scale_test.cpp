// Scale checks of the converter binary. Each check runs the program on a
// large input once and on one a tenth of its size ten times, and compares
// what the two cost in measures that do not depend on the machine's load:
// the read and write calls made and the bytes they moved (the kernel's
// count, /proc/PID/io), which a linear program makes no more of for the
// large input than for the ten small ones, and the peak memory, bounded by a
// small constant where the program streams and by a small multiple of the
// line where one line must be held whole. The instructions a run executes
// (valgrind's count, when valgrind is there) show that its CPU cost grows
// no faster than its input. (Their CPU time per byte is timed by
// bench/run.sh scale, away from the test suite.)
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/temp_dir.h"

namespace {

constexpr bool kSanitized = TABULON_SCALE_SANITIZED;
// The sanitizers make every byte cost several times more, and their
// allocator keeps freed memory in quarantine: smaller inputs, looser bounds.
constexpr std::int64_t kScale = kSanitized ? 2 : 1;
constexpr std::int64_t kMiB = 1024 * 1024;
// The large input is this many times the small one.
constexpr int kSizeRatio = 10;
// Calls a run may make, and bytes it may move, besides those of its input
// and output bytes (the opening reads, the last piece of each file; the
// small runs' outputs are not exactly a tenth).
constexpr std::int64_t kCallsPerRun = 16;
constexpr std::int64_t kBytesPerRun = 4096;

struct RunResult {
  int Status = -1;             // exit status, or -1 when the child did not exit normally
  std::int64_t PeakBytes = 0;  // peak resident memory in bytes
  std::int64_t ReadCalls = 0;  // the kernel's counts of the child's reads and writes
  std::int64_t WriteCalls = 0;
  std::int64_t BytesRead = 0;
  std::int64_t BytesWritten = 0;
};

// The child's counts in /proc/PID/io, read while it is a zombie.
void ReadIoCounts(pid_t pid, RunResult& result) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  std::int64_t value = 0;
  while (io >> key >> value) {
    if (key == "syscr:") result.ReadCalls = value;
    if (key == "syscw:") result.WriteCalls = value;
    if (key == "rchar:") result.BytesRead = value;
    if (key == "wchar:") result.BytesWritten = value;
  }
}

// Runs the converter (or `binary`) with `args`, its standard streams on /dev/null.
RunResult RunConverter(const std::vector<std::string>& args, std::string binary = TABULON_BINARY) {
  std::vector<char*> argv;
  argv.push_back(binary.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "r", stdin);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  RunResult result;
  int status = 0;
  struct rusage usage {};
  siginfo_t exited{};
  if (pid < 0 || ::waitid(P_PID, static_cast<id_t>(pid), &exited, WEXITED | WNOWAIT) != 0) {
    return result;
  }
  ReadIoCounts(pid, result);
  if (::wait4(pid, &status, 0, &usage) != pid) return result;
  if (WIFEXITED(status)) result.Status = WEXITSTATUS(status);
  result.PeakBytes = static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
  return result;
}

class ScaleTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return Dir.Path(name); }

  // Writes `count` copies of `piece`, then `tail`, in large blocks.
  std::string Write(const char* name, const std::string& piece, std::int64_t count,
                    const std::string& tail = "") {
    std::string path = Path(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::string block;
    std::int64_t per_block = std::max<std::int64_t>(
        1,
        static_cast<std::int64_t>((std::size_t{1} << 20) / std::max<std::size_t>(1, piece.size())));
    for (std::int64_t i = 0; i < per_block; ++i) block += piece;
    for (std::int64_t done = 0; done < count; done += per_block) {
      std::int64_t n = std::min(per_block, count - done);
      std::fwrite(block.data(), piece.size(), static_cast<std::size_t>(n), f);
    }
    std::fwrite(tail.data(), 1, tail.size(), f);
    std::fclose(f);
    return path;
  }

  std::int64_t SizeOf(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return -1;
    std::fseek(f, 0, SEEK_END);
    std::int64_t size = std::ftell(f);
    std::fclose(f);
    return size;
  }

  // Converts and checks the exit status and the output size.
  RunResult Convert(const std::string& params, const std::string& text,
                    std::int64_t expected_output) {
    std::string out = Path("out.csv");
    RunResult r = RunConverter({"-f", params, text, out});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(SizeOf(out), expected_output);
    ::unlink(out.c_str());
    return r;
  }

  // The small input converted ten times: as many bytes as the large input.
  RunResult ConvertSmall(const std::string& params, const std::string& text,
                         std::int64_t expected_output) {
    RunResult total;
    for (int i = 0; i < kSizeRatio; ++i) {
      RunResult r = Convert(params, text, expected_output);
      total.Status = r.Status;
      total.PeakBytes = std::max(total.PeakBytes, r.PeakBytes);
      total.ReadCalls += r.ReadCalls;
      total.WriteCalls += r.WriteCalls;
      total.BytesRead += r.BytesRead;
      total.BytesWritten += r.BytesWritten;
    }
    return total;
  }

  tabulon::test::TempDir Dir;
};

// Linear growth: the large input takes no more calls, and moves no more
// bytes, than the small one does (`small` is ten runs of it, as many bytes
// as the large one): every byte is read and written once, in pieces that do
// not shrink as the input grows.
void ExpectLinear(const RunResult& small, const RunResult& large) {
  std::printf(
      "calls for equal bytes: small %lld reads, %lld writes; large %lld, %lld; "
      "bytes read %lld -> %lld, written %lld -> %lld; peak %.1f MiB -> %.1f MiB\n",
      static_cast<long long>(small.ReadCalls), static_cast<long long>(small.WriteCalls),
      static_cast<long long>(large.ReadCalls), static_cast<long long>(large.WriteCalls),
      static_cast<long long>(small.BytesRead), static_cast<long long>(large.BytesRead),
      static_cast<long long>(small.BytesWritten), static_cast<long long>(large.BytesWritten),
      static_cast<double>(small.PeakBytes) / kMiB, static_cast<double>(large.PeakBytes) / kMiB);
  EXPECT_LE(large.ReadCalls, small.ReadCalls + kCallsPerRun);
  EXPECT_LE(large.WriteCalls, small.WriteCalls + kCallsPerRun);
  EXPECT_LE(large.BytesRead, small.BytesRead + kBytesPerRun);
  EXPECT_LE(large.BytesWritten, small.BytesWritten + kBytesPerRun);
}

TEST_F(ScaleTest, OneHundredMegabyteLine) {
  const std::int64_t size = 100 * kMiB / kScale;
  std::string params = Write("p.txt", "", 0, "N," + std::to_string(size) + "\r\n");
  std::string small_text = Write("small.txt", "0123456789", size / 100, "\r\n");
  std::string text = Write("in.txt", "0123456789", size / 10, "\r\n");
  RunResult small = ConvertSmall(params, small_text, size / 10 + 2);
  RunResult large = Convert(params, text, size + 2);
  ExpectLinear(small, large);
  // The line is held whole once while it is read; the output streams.
  EXPECT_LT(large.PeakBytes, (kSanitized ? 6 : 3) * size) << "peak bytes " << large.PeakBytes;
}

TEST_F(ScaleTest, OneHundredThousandFields) {
  const std::int64_t fields = 100000;
  const std::int64_t records = 200 / kScale;
  // Quoted one-byte fields: each writes three bytes and a separator.
  std::string params = Write("p.txt", "X,1\r\n", fields);
  std::string small_params = Write("small.txt", "X,1\r\n", fields / 10);
  std::string text = Write("in.txt", std::string(fields, 'a') + "\r\n", records);
  RunResult small = ConvertSmall(small_params, text, records * (fields / 10 * 4 + 1));
  RunResult large = Convert(params, text, records * (fields * 4 + 1));
  ExpectLinear(small, large);
  EXPECT_LT(large.PeakBytes, 64 * kMiB * kScale) << "peak bytes " << large.PeakBytes;
}

TEST_F(ScaleTest, OneHundredThousandLineParameterFile) {
  const std::int64_t lines = 100000;
  // Comment lines, field lines with all four items, and TAB-separated ones.
  std::string piece = "# comment\r\nE,2,T,\"Code, part\"\r\nn\t$1\tz\r\n";
  std::string params = Write("p.txt", piece, lines / 3);
  std::string small_params = Write("small.txt", piece, lines / 30);
  std::string text = Write("in.txt", std::string(lines, '0') + "\r\n", 1);
  // Per pair of fields: ="00", a separator, 0 stripped to nothing, a separator
  // (the last one dropped), then the line end.
  RunResult small = ConvertSmall(small_params, text, lines / 30 * 7 - 1 + 2);
  RunResult large = Convert(params, text, lines / 3 * 7 - 1 + 2);
  ExpectLinear(small, large);
  EXPECT_LT(large.PeakBytes, 64 * kMiB * kScale) << "peak bytes " << large.PeakBytes;
}

// The parameter file's memory budget admits the largest real layouts: a
// million field lines, each with a header name of 200 bytes.
TEST_F(ScaleTest, MillionFieldLinesWithLongNamesLoad) {
  const std::int64_t lines = 1000000 / kScale;
  std::string params = Write("p.txt", "X,1,,\"" + std::string(200, 'n') + "\"\r\n", lines);
  std::string text = Write("in.txt", "", 0);
  RunResult r = Convert(params, text, 0);
  std::printf("peak %.1f MiB\n", static_cast<double>(r.PeakBytes) / kMiB);
}

TEST_F(ScaleTest, TenMillionEmptyLines) {
  const std::int64_t lines = 10000000 / kScale;
  std::string params = Write("p.txt", "", 0, "X,5\r\n");
  std::string small_text = Write("small.txt", "\r\n", lines / 10);
  std::string text = Write("in.txt", "\r\n", lines);
  // Every empty record gives "" and a line end.
  RunResult small = ConvertSmall(params, small_text, lines / 10 * 4);
  RunResult large = Convert(params, text, lines * 4);
  ExpectLinear(small, large);
  // Streaming: the peak does not grow with the number of lines.
  EXPECT_LT(large.PeakBytes, small.PeakBytes + 8 * kMiB)
      << "peak bytes: small " << small.PeakBytes << ", large " << large.PeakBytes;
}

// The instructions a run of the converter executes, as valgrind counts them
// (the same on a busy machine as on a quiet one); -1 without valgrind.
std::int64_t CountInstructions(const tabulon::test::TempDir& dir,
                               const std::vector<std::string>& args) {
  if (std::system("valgrind --version >/dev/null 2>&1") != 0) return -1;
  const std::string log = dir.Path("valgrind.txt");
  std::string command = "valgrind --tool=callgrind --callgrind-out-file=/dev/null " TABULON_BINARY;
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >/dev/null 2>'" + log + "'";
  if (std::system(command.c_str()) != 0) return 0;
  std::ifstream text(log);
  std::string line;
  while (std::getline(text, line)) {
    const std::size_t at = line.find("Collected : ");
    if (at != std::string::npos) return std::stoll(line.substr(at + 12));
  }
  return 0;
}

// Linear CPU cost: ten times the input takes no more instructions than ten
// runs of the small input (which pay the start-up ten times), within a
// tenth. A cost that grows with what came before (a line scanned again from
// its start at every read, a table copied at every entry) fails it.
TEST_F(ScaleTest, InstructionsGrowLinearly) {
  if (kSanitized) GTEST_SKIP() << "valgrind does not run a sanitized program";
  struct Case {
    const char* Name;
    std::string Params, SmallParams, Text, SmallText;
  };
  const std::int64_t line = 4 * kMiB;
  const std::string piece = "E,2,T,\"Code\"\r\nn\t$1\tz\r\n";
  const Case cases[] = {
      {"a line held whole", Write("lp.txt", "", 0, "N," + std::to_string(line) + "\r\n"), "",
       Write("l.txt", "0123456789", line / 10, "\r\n"),
       Write("ls.txt", "0123456789", line / 100, "\r\n")},
      {"a long parameter file", Write("pp.txt", piece, 50000), Write("pps.txt", piece, 5000),
       Write("p.txt", std::string(100000, '0') + "\r\n", 1), ""},
  };
  for (const Case& c : cases) {
    const std::string& small_params = c.SmallParams.empty() ? c.Params : c.SmallParams;
    const std::string& small_text = c.SmallText.empty() ? c.Text : c.SmallText;
    const std::int64_t large = CountInstructions(Dir, {"-f", c.Params, c.Text, Path("o.csv")});
    if (large < 0) GTEST_SKIP() << "valgrind is not installed";
    const std::int64_t small =
        CountInstructions(Dir, {"-f", small_params, small_text, Path("o.csv")});
    std::printf("%s: %lld instructions, a tenth of it: %lld\n", c.Name,
                static_cast<long long>(large), static_cast<long long>(small));
    ASSERT_GT(small, 0) << c.Name;
    EXPECT_LE(large, kSizeRatio * small + kSizeRatio * small / 10) << c.Name;
  }
}

// The peak memory of a large text converted in blocks, with the shape of a
// machine of 1, 2, 8 and 64 CPUs (a thread per converter), stays below the
// 16 MiB the manual page promises. The layout's output is four times its
// text, quotes doubled: the output blocks are as large as they get.
class BlockMemoryTest : public ScaleTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlockMemoryTest, PeakStaysBelowSixteenMebibytes) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' own memory would count in the peak bounded here";
  const std::string record = [] {
    std::string r;
    for (int i = 0; r.size() < 200; ++i) r += "a\",b\x82\xa0"[i % 6];
    return r;
  }();
  std::int64_t line_output = 2 - 1;
  for (char c : record) line_output += (c == '"' ? 4 : 3) + 1;
  const std::int64_t records = 160000;  // 32 MB
  std::string params = Write("p.txt", "X,1\r\n", 200);
  std::string text = Write("in.txt", record + "\r\n", records);
  std::string out = Path("out.csv");
  RunResult r = RunConverter({params, text, out, std::to_string(GetParam())}, CPU_SHAPE_PROBE);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(SizeOf(out), records * line_output);
  std::printf("%d CPUs: peak %.1f MiB\n", GetParam(), static_cast<double>(r.PeakBytes) / kMiB);
  EXPECT_LT(r.PeakBytes, 16 * kMiB) << GetParam() << " CPUs";
}

INSTANTIATE_TEST_SUITE_P(Cpus, BlockMemoryTest, ::testing::Values(1, 2, 8, 64));

}  // namespace
