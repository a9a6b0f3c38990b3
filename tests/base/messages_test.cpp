#include "base/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/cp932.h"

#if __has_include(<iconv.h>)
#include <iconv.h>
#define TABULON_HAVE_ICONV 1
#endif

namespace tabulon {
namespace {

#ifdef TABULON_HAVE_ICONV
// The code page 932 bytes of UTF-8 text, converted by the C library.
std::string ToCp932(std::string_view utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "no UTF-8 to CP932 conversion";
    return {};
  }
  std::string in(utf8);
  std::string out(in.size() * 2 + 4, '\0');
  char* from = in.data();
  std::size_t from_left = in.size();
  char* to = out.data();
  std::size_t to_left = out.size();
  std::size_t done = iconv(cd, &from, &from_left, &to, &to_left);
  iconv_close(cd);
  EXPECT_NE(done, static_cast<std::size_t>(-1)) << utf8;
  out.resize(out.size() - to_left);
  return out;
}

TEST(Messages, EachCodePage932FormIsItsUtf8FormConverted) {
  for (const Text* text : messages::kAll) EXPECT_EQ(text->Cp932, ToCp932(text->Utf8)) << text->Utf8;
}

// The C library's UTF-8 form of one code page 932 character; empty when the
// bytes are none.
std::string LibraryUtf8(std::string_view cp932) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "no CP932 to UTF-8 conversion";
  std::string in(cp932);
  char out[8];
  char* from = in.data();
  std::size_t from_left = in.size();
  char* to = out;
  std::size_t to_left = sizeof out;
  std::size_t done = iconv(cd, &from, &from_left, &to, &to_left);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1) || from_left != 0) return {};
  return std::string(out, sizeof out - to_left);
}

// Every double-byte pair and every single byte from 0x80 up, against the C
// library's conversion: a character converts alike, anything else is escaped.
TEST(AppendUtf8Form, AgreesWithTheLibraryOnEveryPair) {
  int differences = 0;
  for (unsigned first = 0x80; first <= 0xFF && differences < 10; ++first) {
    for (unsigned second = IsLeadByte(static_cast<unsigned char>(first)) ? 0x00 : 0x100;
         second <= 0x100 && differences < 10; ++second) {
      std::string bytes(1, static_cast<char>(first));
      if (second < 0x100) bytes += static_cast<char>(second);
      std::string want = LibraryUtf8(bytes);
      if (want.empty()) continue;  // checked by the escape table below
      std::string got;
      AppendUtf8Form(bytes, got);
      if (got != want) {
        ++differences;
        ADD_FAILURE() << std::hex << first << ' ' << second << ": " << got << " != " << want;
      }
    }
  }
}
#endif

TEST(AppendUtf8Form, EscapesWhatIsNoCharacterAndControlBytes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"Code 1", "Code 1"},
      {"\x96\xbc\x91\x4f", "名前"},
      {"\xb1\xdf", "ｱﾟ"},                                     // half-width katakana
      {"\x80\xa0\xfd\xfe\xff", "\\x80\\xA0\\xFD\\xFE\\xFF"},  // no character
      {"A\x96", "A\\x96"},                                    // a lead byte at the end
      {"\x96\x7f", "\\x96\\x7F"},                             // DEL cannot follow a lead byte
      {"\x85\x40Z", "\\x85@Z"},                               // an unassigned pair: its trail stays
      {"\x1b[2J\t", "\\x1B[2J\\x09"},  // control bytes would drive the terminal
      {std::string_view("\0", 1), "\\x00"},
  };
  for (const auto& [bytes, want] : cases) {
    std::string got = "(";
    AppendUtf8Form(bytes, got);
    EXPECT_EQ(got, "(" + std::string(want)) << want;
  }
}

TEST(Messages, EachTextIsWrittenOnce) {
  std::set<std::string_view> seen;
  for (const Text* text : messages::kAll) {
    EXPECT_FALSE(text->Cp932.empty());
    EXPECT_TRUE(seen.insert(text->Cp932).second) << text->Utf8;
  }
}

TEST(NamesUtf8, AnySpellingOfUtf8AnywhereInTheName) {
  for (std::string_view name :
       {"C.UTF-8", "en_US.utf8", "ja_JP.UTF8", "ja_JP.Utf-8", "UTF-8", "de_DE.utf8@euro"}) {
    EXPECT_TRUE(NamesUtf8(name)) << name;
  }
  for (std::string_view name : {"", "C", "POSIX", "ja_JP.SJIS", "ja_JP.eucJP", "en_US.UTF-16",
                                "utf", "UTF-", "ja_JP.UTF_8"}) {
    EXPECT_FALSE(NamesUtf8(name)) << name;
  }
}

TEST(Messages, Utf8PrefixKeepsWholeCharactersOfTheCut) {
  const Text& text = messages::kNameTheTextFile;  // "Text" then double-byte characters
  const std::pair<std::size_t, std::string_view> cases[] = {
      {0, ""},
      {3, "Tex"},
      {4, "Text"},
      {5, "Text"},  // half of "フ"
      {6, "Textフ"},
      {7, "Textフ"},
      {text.Cp932.size() - 1, "Textファイルを指定してくださ"},
      {text.Cp932.size(), text.Utf8},
      {text.Cp932.size() + 10, text.Utf8},
  };
  for (const auto& [size, want] : cases) EXPECT_EQ(Utf8Prefix(text, size), want) << size;
  // Every text's whole code page 932 form gives its whole UTF-8 form: the
  // forms hold the same number of characters.
  for (const Text* t : messages::kAll) EXPECT_EQ(Utf8Prefix(*t, t->Cp932.size()), t->Utf8);
}

}  // namespace
}  // namespace tabulon
