// The message catalogue: every text the program writes, in code page 932 and
// in UTF-8. The texts themselves are listed in base/messages.inc.
//
// Code page 932 is the form every program and file receives. The UTF-8 form
// is written instead only where a person reads it on a terminal that shows
// UTF-8 (see TextForm); bytes from outside the program (a file name, an item
// of the parameter file) are never part of a text and never translated.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tabulon {

struct Text {
  std::string_view Cp932;
  std::string_view Utf8;
};

// The form in which a channel receives the program's own texts.
enum class TextForm : unsigned char { Cp932, Utf8 };

constexpr std::string_view In(const Text& text, TextForm form) {
  return form == TextForm::Utf8 ? text.Utf8 : text.Cp932;
}

// True when a locale name (LANG=ja_JP.UTF-8, LC_ALL=C.utf8) names the UTF-8
// character set: it holds "UTF-8" or "UTF8" in any case.
bool NamesUtf8(std::string_view locale_name);

// The forms in which the program's own texts are written on the message
// channel (standard error) and in the failure report (standard output).
// Chosen once at start-up (ChooseTextForms); code page 932 until then.
struct TextForms {
  TextForm MessageChannel = TextForm::Cp932;
  TextForm FailureReport = TextForm::Cp932;
};
extern constinit TextForms ChosenTextForms;

// The UTF-8 form of the first `cp932_size` bytes of a text's code page 932
// form: whole characters only, so a double-byte character cut in two is left
// out. Lengths and cuts are always decided on the code page 932 form.
std::string_view Utf8Prefix(const Text& text, std::size_t cp932_size);

// Appends bytes from a file (a header name of the parameter file) in UTF-8, as
// a terminal that shows UTF-8 needs them beside the program's texts: each code
// page 932 character converted, and each byte that is no character there (0x80,
// 0xA0, 0xFD to 0xFF, a lead byte without a valid trail byte) or a control
// byte (which would drive the terminal) written as \xHH.
void AppendUtf8Form(std::string_view cp932, std::string& out);

namespace messages {

#define TABULON_TEXT(name, utf8_form, cp932_form) inline constexpr Text name{cp932_form, utf8_form};
#include "base/messages.inc"
#undef TABULON_TEXT

// Every text above, for the checks that keep the two forms together.
inline constexpr const Text* kAll[] = {
#define TABULON_TEXT(name, utf8_form, cp932_form) &name,
#include "base/messages.inc"
#undef TABULON_TEXT
};

}  // namespace messages
}  // namespace tabulon
