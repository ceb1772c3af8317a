#pragma once

// Glob patterns over entry names.

#include <cstddef>
#include <memory>
#include <string_view>

#include "tre/Api.h"

namespace tre {

namespace detail {
class CompiledPattern;
}

// A pattern compiled once, to be matched against many names. A name
// matches when the whole of it matches, byte by byte, case-sensitively:
// `*` matches any run of bytes (`/` included), `?` one byte, `[set]` one
// byte of the set (ranges such as `a-z`; `!` or `^` first negates; `]`
// first is a member). An unclosed `[`, and every other byte (`\` too),
// matches itself.
//
// Compiling takes time proportional to the pattern's length; matching a
// name takes at most the name's length times the pattern's items, and a
// pattern that needs more bytes than the name has fails at once. So no
// pattern, however long or hostile, costs more than a few microseconds per
// entry name (65 bytes at most).
class TRE_API Pattern {
public:
    explicit Pattern(std::string_view text);

    [[nodiscard]] bool matches(std::string_view name) const;
    // The fewest bytes a matching name has: the items that are not `*`.
    [[nodiscard]] std::size_t minimumLength() const;

private:
    // compiled once, shared by copies
    std::shared_ptr<const detail::CompiledPattern> compiled_;
};

// Compiles and matches in one step, for a single name.
[[nodiscard]] TRE_API bool matchesPattern(std::string_view pattern, std::string_view name);

} // namespace tre
