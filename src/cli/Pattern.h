#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Whether the whole name matches the pattern, byte by byte, case-sensitively:
// `*` matches any run of bytes (`/` included), `?` one byte, `[set]` one byte
// of the set (ranges such as `a-z`; `!` or `^` first negates; `]` first is a
// member). An unclosed `[`, and every other byte (`\` too), matches itself.
// Takes time proportional to the name's length times the pattern's, never
// more, whatever the pattern.
bool matchesPattern(std::string_view pattern, std::string_view name);

// The entries that -m selects: every entry when there is no pattern.
class Selection {
public:
    Selection() = default;
    explicit Selection(std::string pattern) : pattern_(std::move(pattern)) {}

    [[nodiscard]] bool includes(std::string_view name) const { return !pattern_ || matchesPattern(*pattern_, name); }

private:
    std::optional<std::string> pattern_;
};
