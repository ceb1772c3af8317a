#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "tre/Archive.h"
#include "tre/Pattern.h"

// The entries that -m selects: every entry without a pattern. The pattern
// is compiled once. Finding the first selected entry (for "No entry
// matches") remembers what it learned, so that no action matches a name
// that was matched before, and a pattern that needs more bytes than a name
// can hold is known to match nothing without reading the directory.
class Selection {
public:
    Selection() = default;
    explicit Selection(std::string_view pattern) : pattern_(pattern) {}

    // Looks for the first selected entry; false when there is none (or none
    // among the records that could be read).
    bool findFirst(const tre::Archive& archive);
    // Whether findFirst() found none because the directory could not be read
    // to its end: then nobody knows whether an entry matches.
    [[nodiscard]] bool cutShort() const { return cutShort_; }
    [[nodiscard]] bool includes(const tre::Entry& entry) const;

private:
    std::optional<tre::Pattern> pattern_;
    // entries before it are known not to match, and it is known to
    std::int32_t firstMatch_ = -1;
    std::int32_t knownUpTo_ = 0;
    bool matchesNone_ = false;
    bool cutShort_ = false;
};
