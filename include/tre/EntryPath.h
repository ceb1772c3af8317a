#pragma once

// Which entry names may become paths, and as what.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "tre/Api.h"

namespace tre {

// Which platform's rules an entry name must pass to become a path.
enum class PathRules { posix, windows };

#if defined(_WIN32)
inline constexpr PathRules platformPathRules = PathRules::windows;
#else
inline constexpr PathRules platformPathRules = PathRules::posix;
#endif

// The path components of an entry name, or none when the name is unsafe to
// write under a folder. Both `/` and `\` separate components on every
// platform, so the tree is the same everywhere and a `\` cannot smuggle a
// separator onto Windows; empty and `.` components are dropped. A name is
// unsafe when nothing is left, when it starts with a separator or a drive
// (an ASCII letter and `:`), or when a component is `..`. Under Windows'
// rules it is also unsafe when it is not valid UTF-8, or a component holds
// `:` `<` `>` `"` `|` `?` `*` or a byte below 0x20, ends in `.` or a space,
// or is a reserved device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9,
// CONIN$, CONOUT$; any case, with or without an extension). The components
// are views into `name`.
[[nodiscard]] TRE_API std::optional<std::vector<std::string_view>> entryPathComponents(std::string_view name,
                                                                                       PathRules rules);

// The length of the valid UTF-8 sequence that `text` starts with (shortest
// form, no surrogates, at most U+10FFFF): 1 to 4, or 0 when the first bytes
// are not one (or `text` is empty). Names are bytes, and this tells which
// of them are text.
[[nodiscard]] TRE_API std::size_t utf8SequenceLength(std::string_view text);

} // namespace tre
