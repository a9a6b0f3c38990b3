// Name helpers shared by the platform layers: the last component of a path and
// the Windows-style wildcard match used by the existence test.
#pragma once

#include <string_view>

namespace tabulon::platform {

// The part of `path` after its last directory separator.
std::string_view LastComponent(std::string_view path);

// The part of `path` up to its last directory separator (empty when none).
std::string_view DirectoryPart(std::string_view path);

// True when `component` holds '*' or '?'.
bool HasWildcard(std::string_view component);

// Matches `name` against `pattern`: '*' matches any run of bytes (also an
// empty one), '?' exactly one byte, every other byte itself.
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace tabulon::platform
