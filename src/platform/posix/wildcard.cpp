#include "platform/posix/wildcard.h"

namespace tabulon::platform {
namespace {

bool IsSeparator(char c) {
  return c == '/';
}

std::size_t ComponentStart(std::string_view path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return i;
}

}  // namespace

std::string_view LastComponent(std::string_view path) {
  return path.substr(ComponentStart(path));
}

std::string_view DirectoryPart(std::string_view path) {
  return path.substr(0, ComponentStart(path));
}

bool HasWildcard(std::string_view component) {
  return component.find_first_of("*?") != std::string_view::npos;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Greedy match with one back-tracking point: linear in practice, and never
  // recursive, so a hostile pattern cannot exhaust the stack.
  std::size_t p = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace tabulon::platform
