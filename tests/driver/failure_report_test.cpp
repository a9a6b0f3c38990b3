#include "driver/failure_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "base/messages.h"
#include "textio/io_codes.h"

namespace tabulon {
namespace {

// " がモジュール " and " の " and " で発生しました。" CR LF
const std::string kModulePiece(messages::kReportModule.Cp932);
const std::string kAtPiece(messages::kReportAt.Cp932);
const std::string kOccurred = std::string(messages::kReportOccurred.Cp932) + "\r\n";

// "I/O エラー (" code ")"
std::string IoErrorText(int code) {
  return std::string(messages::kIoErrorHead.Cp932) + std::to_string(code) +
         std::string(messages::kIoErrorTail.Cp932);
}

const std::string kNoMemory(messages::kOutOfMemory.Cp932);

std::string FirstLine(const std::string& kind, const std::string& module, const std::string& hex) {
  return kind + kModulePiece + module + kAtPiece + hex + kOccurred;
}

std::string Format(const Report& report, TextForm form = TextForm::Cp932) {
  char buffer[kReportBufferSize];
  std::size_t size = FormatReport(buffer, report, form);
  if (form == TextForm::Cp932) {
    EXPECT_LE(size, kReportLimit);
  }
  return std::string(buffer, size);
}

std::string Format(std::string_view kind, std::string_view module, std::uint32_t location,
                   std::string_view message) {
  Report report;
  report.KindName = kind;
  report.Module = module;
  report.Location = location;
  report.Parameter = message;
  return Format(report);
}

TEST(FormatReport, AppendsAFullStopOnlyWhenTheLastByteIsNotOne) {
  struct Case {
    std::string Message;
    std::string SecondLine;
  };
  const Case cases[] = {
      {IoErrorText(32), IoErrorText(32) + ".\r\n"},
      {"ends in a stop.", "ends in a stop.\r\n"},
      {"..", "..\r\n"},
      {"", "\r\n"},
      // "メモリが足りません": the last byte is a trail byte, so it gets the '.'.
      {kNoMemory, kNoMemory + ".\r\n"},
      // The full-width stop "。" is not '.'.
      {"\x81\x42", "\x81\x42.\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format("EInOutError", "tabulon", 0x1A2B3, c.Message),
              FirstLine("EInOutError", "tabulon", "0001A2B3") + c.SecondLine)
        << c.Message;
  }
}

TEST(FormatReport, ShowsTheLocationAsEightUpperCaseHexDigits) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {0, "00000000"}, {0xabcdef, "00ABCDEF"}, {0xFFFFFFFF, "FFFFFFFF"}, {0x10, "00000010"}};
  for (const auto& [location, hex] : cases) {
    EXPECT_EQ(Format("EConvertError", "m", location, "x"),
              FirstLine("EConvertError", "m", hex) + "x.\r\n");
  }
}

TEST(FormatReport, CutsTheWholeTextAfterTheLimit) {
  std::string head = FirstLine("EConvertError", "tabulon", "00000000");
  // Message lengths around the limit: the '.' and the final CR LF count.
  const std::size_t fits = kReportLimit - head.size() - 3;  // message + '.' + CR LF == limit
  for (std::size_t length : {fits - 1, fits, fits + 1, fits + 2, fits + 3, std::size_t{2000}}) {
    std::string message(length, 'A');
    std::string full = head + message + ".\r\n";
    std::string got = Format("EConvertError", "tabulon", 0, message);
    EXPECT_EQ(got, full.substr(0, kReportLimit)) << length;
  }
  // A long kind name or module name is cut as well, never overrun.
  EXPECT_EQ(Format(std::string(3000, 'K'), "m", 0, "x"), std::string(kReportLimit, 'K'));
}

TEST(FormatReport, Utf8FormTranslatesTheTextsOnlyAndCutsWhereCodePage932Does) {
  // "EFOpenError がモジュール tabulon の 00000000 で発生しました。" CR LF
  const std::string first_line_utf8 = "EFOpenError" + std::string(messages::kReportModule.Utf8) +
                                      "tabulon" + std::string(messages::kReportAt.Utf8) +
                                      "00000000" + std::string(messages::kReportOccurred.Utf8) +
                                      "\r\n";
  Report report;
  report.KindName = "EFOpenError";
  report.Module = "tabulon";
  report.Head = &messages::kCannotOpenHead;
  report.Parameter = "\x83\x65.txt";  // a file name: never translated
  report.Tail = &messages::kCannotOpenTail;
  EXPECT_EQ(Format(report, TextForm::Utf8),
            first_line_utf8 + std::string(messages::kCannotOpenHead.Utf8) + "\x83\x65.txt" +
                std::string(messages::kCannotOpenTail.Utf8) + ".\r\n");

  // A name long enough that the limit falls inside "開" of " は開けません":
  // the code page 932 form keeps its first byte, the UTF-8 form drops it.
  std::size_t first_line = FirstLine("EFOpenError", "tabulon", "00000000").size();
  std::string name(kReportLimit - first_line - messages::kCannotOpenHead.Cp932.size() - 4, 'n');
  report.Parameter = name;
  std::string cp932 = Format(report);
  ASSERT_EQ(cp932.size(), kReportLimit);
  EXPECT_EQ(cp932.substr(kReportLimit - 4), messages::kCannotOpenTail.Cp932.substr(0, 4));
  EXPECT_EQ(Format(report, TextForm::Utf8),
            first_line_utf8 + std::string(messages::kCannotOpenHead.Utf8) + name +
                std::string(messages::kCannotOpenTail.Utf8.substr(0, 4)));  // " は"
}

TEST(FormatLastResort, PutsTheNumberEndingAtByte17AndTheAddressAtByte29) {
  const std::tuple<int, std::uint32_t, std::string> cases[] = {
      {217, 0x1234ABCD, "Runtime error 217 at 1234ABCD"},
      {5, 0, "Runtime error   5 at 00000000"},
      {42, 0xbeef, "Runtime error  42 at 0000BEEF"},
      {0, 0xFFFFFFFF, "Runtime error   0 at FFFFFFFF"},
  };
  for (const auto& [number, address, want] : cases) {
    char line[kLastResortSize];
    FormatLastResort(line, number, address);
    EXPECT_EQ(std::string(line, sizeof line), want);
  }
}

TEST(TypeBaseName, TakesTheClassNameWithoutNamespacesOrArguments) {
  const std::pair<const char*, std::string_view> cases[] = {
      {"St9bad_alloc", "bad_alloc"},
      {"N7tabulon11EInOutErrorE", "EInOutError"},
      {"NSt8ios_base7failureB5cxx11E", "failure"},
      {"NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE", "basic_string"},
      {"*N12_GLOBAL__N_15LocalE", "Local"},
      {"3Foo", "Foo"},
      {"i", ""},
      {"", ""},
      {"12Truncated", ""},
  };
  for (const auto& [mangled, want] : cases) EXPECT_EQ(TypeBaseName(mangled), want) << mangled;
  EXPECT_EQ(TypeBaseName(typeid(std::out_of_range).name()), "out_of_range");
}

// Two checks at different places in the code; the pending codes differ so
// that the two functions cannot be folded into one.
template <typename Error, typename Raise>
const void* LocationOf(Raise raise) {
  try {
    raise();
  } catch (const Error& error) {
    return error.Location();
  }
  ADD_FAILURE() << "nothing was raised";
  return nullptr;
}
[[gnu::noinline]] void FirstCheck() {
  PendingIoCode = 5;
  CheckIo();
}
[[gnu::noinline]] void SecondCheck() {
  PendingIoCode = 6;
  CheckIo();
}

TEST(RaiseSites, EachRecordsWhereItRaised) {
  const void* first = LocationOf<EInOutError>(FirstCheck);
  const void* second = LocationOf<EInOutError>(SecondCheck);
  const void* convert = LocationOf<EConvertError>([] { RaiseConvertError("1x"); });
  const void* open = LocationOf<EFOpenError>([] { RaiseFOpenError("p.txt"); });
  for (const void* location : {first, second, convert, open}) EXPECT_NE(location, nullptr);
  // Every check has a location of its own, also in an unoptimised build, and
  // the same check always gives the same one.
  EXPECT_NE(first, second);
  EXPECT_EQ(first, LocationOf<EInOutError>(FirstCheck));
  EXPECT_NE(convert, open);
}

// A file for a child's standard output, one per test: tests may run in
// parallel processes.
std::string StdoutFile() {
  return testing::TempDir() + "failure_report_test_" +
         testing::UnitTest::GetInstance()->current_test_info()->name();
}

// Runs `raise` in a child process whose standard output goes to a file,
// reports whatever it raises, and returns what the child wrote.
template <typename Raise>
std::string ReportOf(Raise raise, int want_status) {
  std::string path = StdoutFile();
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        if (!std::freopen(path.c_str(), "wb", stdout)) std::_Exit(99);
        try {
          raise();
        } catch (...) {
          std::_Exit(ReportCurrentError());
        }
        std::_Exit(98);
      },
      testing::ExitedWithCode(want_status), "");
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::remove(path.c_str());
  return text.str();
}

// The module name and location are the running test's own; compare the rest.
std::string Masked(const std::string& report) {
  std::size_t module = report.find(kModulePiece);
  std::size_t at = report.find(kAtPiece, module == std::string::npos ? 0 : module);
  if (module == std::string::npos || at == std::string::npos || report.size() < at + 12) {
    return report;
  }
  return report.substr(0, module + kModulePiece.size()) + "M" + kAtPiece + "L" +
         report.substr(at + kAtPiece.size() + 8);
}

std::string MaskedReport(const std::string& kind, const std::string& message) {
  return kind + kModulePiece + "M" + kAtPiece + "L" + kOccurred + message + "\r\n\r\n";
}

TEST(ReportCurrentError, ReportsEveryKindOnStandardOutputWithStatus1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string no_memory = kNoMemory + ".";
  EXPECT_EQ(
      Masked(ReportOf([] { RaiseConvertError("1x"); }, 1)),
      MaskedReport("EConvertError", std::string(messages::kNotAnIntegerHead.Cp932) + "1x" +
                                        std::string(messages::kNotAnIntegerTail.Cp932) + "."));
  EXPECT_EQ(Masked(ReportOf([] { throw std::bad_alloc(); }, 1)),
            MaskedReport("EOutOfMemory", no_memory));
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer refuses such a request itself
  // A real exhaustion goes through operator new and the pre-made error.
  EXPECT_EQ(Masked(ReportOf(
                [] {
                  std::size_t huge = static_cast<std::size_t>(-1) / 4;
                  volatile char* p = new char[huge];
                  p[0] = 0;
                },
                1)),
            MaskedReport("EOutOfMemory", no_memory));
#endif
  EXPECT_EQ(Masked(ReportOf([] { throw std::out_of_range("past the end"); }, 1)),
            MaskedReport("out_of_range", "past the end."));
  EXPECT_EQ(Masked(ReportOf([] { throw 42; }, 1)), MaskedReport("Exception", ""));
}

#if defined(__ELF__) && !defined(__SANITIZE_ADDRESS__)
// The pre-made error notes where memory ran out: the report shows a location.
TEST(RaiseSites, RunningOutOfMemoryRecordsWhereInTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string report = ReportOf(
      [] {
        volatile char* p = new char[static_cast<std::size_t>(-1) / 4];
        p[0] = 0;
      },
      1);
  std::size_t at = report.find(kAtPiece);
  ASSERT_TRUE(report.starts_with("EOutOfMemory") && at != std::string::npos) << report;
  EXPECT_NE(report.substr(at + kAtPiece.size(), 8), "00000000");
}
#endif

TEST(ReportCurrentError, AFailedCloseReplacesTheUnwindingError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string report = ReportOf(
      [] {
        PendingIoCode = 112;
        CheckIoWhileUnwinding();
        RaiseConvertError("1x");
      },
      1);
  EXPECT_EQ(Masked(report), MaskedReport("EInOutError", IoErrorText(112) + "."));
}

TEST(LastResortReport, ATerminateEndsWithRuntimeError217) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The handler is installed at start-up: this test binary never runs the driver.
  std::string path = StdoutFile();
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        if (!std::freopen(path.c_str(), "wb", stdout)) std::_Exit(99);
        std::terminate();
      },
      testing::ExitedWithCode(217), "");
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  in.close();
  std::remove(path.c_str());
  ASSERT_EQ(line.size(), kLastResortSize + 1);
  EXPECT_EQ(line.substr(0, 21), "Runtime error 217 at ");
  EXPECT_EQ(line.back(), '\r');
}

}  // namespace
}  // namespace tabulon
