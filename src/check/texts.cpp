#include "check/texts.h"

namespace tabulon::check {

std::string Format(std::string_view text, const std::vector<std::string_view>& values) {
  std::string out;
  auto value = values.begin();
  std::size_t i = 0;
  for (std::size_t mark; (mark = text.find("%s", i)) != std::string_view::npos; i = mark + 2) {
    out.append(text.substr(i, mark - i));
    if (value != values.end()) out.append(*value++);
  }
  out.append(text.substr(i));
  return out;
}

std::string DiagnosticForUtf8(std::string_view diagnostic) {
  // "項目定義が足りません(" n "行目)" and its kin: a stored text, the number, a stored text.
  for (const Text* before : {&kTooFewItems, &kItem1Missing, &kItem2Missing, &kTooManyItems}) {
    if (diagnostic.starts_with(before->Cp932) && diagnostic.ends_with(kLineSuffix.Cp932)) {
      std::string_view number =
          diagnostic.substr(before->Cp932.size(),
                            diagnostic.size() - before->Cp932.size() - kLineSuffix.Cp932.size());
      return std::string(before->Utf8) + std::string(number) + std::string(kLineSuffix.Utf8);
    }
  }
  // "'%s' は整数ではありません": the item is the user's.
  if (diagnostic.ends_with(kNotAnInteger.Cp932)) {
    return std::string(diagnostic.substr(0, diagnostic.size() - kNotAnInteger.Cp932.size())) +
           std::string(kNotAnInteger.Utf8);
  }
  return std::string(diagnostic);
}

}  // namespace tabulon::check
