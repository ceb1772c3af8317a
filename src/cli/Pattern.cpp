#include "cli/Pattern.h"

#include <cstddef>

namespace {

struct SetMatch {
    bool matched;
    std::size_t length; // pattern bytes the set takes, brackets included
};

// The set that opens at pattern[at] == '['; length 0 when it is not closed.
SetMatch matchSet(std::string_view pattern, std::size_t at, unsigned char byte)
{
    std::size_t i = at + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) {
        ++i;
    }
    const std::size_t first = i;
    bool member = false;
    for (; i < pattern.size() && (pattern[i] != ']' || i == first); ++i) {
        const auto low = static_cast<unsigned char>(pattern[i]);
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            const auto high = static_cast<unsigned char>(pattern[i + 2]);
            member = member || (low <= byte && byte <= high);
            i += 2;
        } else {
            member = member || low == byte;
        }
    }
    if (i >= pattern.size()) {
        return {false, 0};
    }
    return {member != negated, i + 1 - at};
}

} // namespace

// Only the last `*` seen ever needs to be retried: every earlier one can
// absorb whatever a later retry would give it. So a mismatch goes back to
// the last `*`, which takes one more byte, and the work stays bounded by
// the name's length times the pattern's.
bool matchesPattern(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starName = n;
            continue;
        }
        if (p < pattern.size()) {
            const auto byte = static_cast<unsigned char>(name[n]);
            if (pattern[p] == '[') {
                const SetMatch set = matchSet(pattern, p, byte);
                if (set.length > 0 && set.matched) {
                    p += set.length;
                    ++n;
                    continue;
                }
                if (set.length == 0 && byte == '[') {
                    ++p;
                    ++n;
                    continue;
                }
            } else if (pattern[p] == '?' || static_cast<unsigned char>(pattern[p]) == byte) {
                ++p;
                ++n;
                continue;
            }
        }
        if (starAt == std::string_view::npos) {
            return false;
        }
        p = starAt + 1;
        n = ++starName;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}
