#pragma once

// Glob patterns over entry names.

#include <cstdint>
#include <string_view>
#include <vector>

namespace tre {

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
class Pattern {
public:
    explicit Pattern(std::string_view text);

    [[nodiscard]] bool matches(std::string_view name) const;
    // The fewest bytes a matching name has: the items that are not `*`.
    [[nodiscard]] std::size_t minimumLength() const { return minimumLength_; }

private:
    enum class Kind : std::uint8_t { literal, anyByte, set, star };
    struct Item {
        Kind kind;
        std::uint8_t byte;   // literal: the byte
        std::uint32_t setAt; // set: its first word in sets_
    };

    [[nodiscard]] bool itemMatches(const Item& item, unsigned char byte) const;
    [[nodiscard]] bool matchesFrom(std::size_t first, std::size_t last, std::string_view name) const;

    std::vector<Item> items_;
    // each set as 256 bits, in 8 words
    std::vector<std::uint32_t> sets_;
    std::size_t minimumLength_ = 0;
    // literal items before the first `*` and after the last one, checked
    // first: most names fail or pass there
    std::size_t prefixItems_ = 0;
    std::size_t suffixItems_ = 0;
    bool hasStar_ = false;
    // nothing but `*` between the head and the tail (`*.txt`, `a*b`)
    bool starBetween_ = false;
};

// Compiles and matches in one step, for a single name.
bool matchesPattern(std::string_view pattern, std::string_view name);

} // namespace tre
