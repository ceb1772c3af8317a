#include "tre/Pattern.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace tre {

namespace {

constexpr std::size_t wordsPerSet = 256 / 32;
constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

// For each position, where the next `]` at or after it stands (none past
// the end): so every `[` learns at once whether and where its set closes,
// and compiling stays linear however many `[` a pattern holds.
std::vector<std::size_t> nextClosingBrackets(std::string_view text)
{
    std::vector<std::size_t> next(text.size() + 2, none);
    for (std::size_t i = text.size(); i-- > 0;) {
        next[i] = text[i] == ']' ? i : next[i + 1];
    }
    return next;
}

} // namespace

namespace detail {

// The items of a pattern, with what is known of it up front.
class CompiledPattern {
public:
    explicit CompiledPattern(std::string_view text);

    [[nodiscard]] bool matches(std::string_view name) const;
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

CompiledPattern::CompiledPattern(std::string_view text)
{
    const std::vector<std::size_t> closing = nextClosingBrackets(text);
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '*') {
            // a run of `*` matches what one does
            if (items_.empty() || items_.back().kind != Kind::star) {
                items_.push_back({Kind::star, 0, 0});
            }
            ++i;
            continue;
        }
        if (c == '?') {
            items_.push_back({Kind::anyByte, 0, 0});
            ++i;
            continue;
        }
        if (c == '[') {
            // `!` or `^` first negates; a `]` first is a member, so the set
            // closes at the first `]` after that (a range never ends in one)
            std::size_t first = i + 1;
            const bool negated = first < text.size() && (text[first] == '!' || text[first] == '^');
            first += negated ? 1 : 0;
            const std::size_t close = closing[std::min(first + 1, text.size())];
            if (close != none) {
                const auto setAt = static_cast<std::uint32_t>(sets_.size());
                sets_.resize(sets_.size() + wordsPerSet, 0);
                for (std::size_t j = first; j < close; ++j) {
                    const auto low = static_cast<unsigned char>(text[j]);
                    unsigned high = low;
                    if (j + 2 < close && text[j + 1] == '-') {
                        high = static_cast<unsigned char>(text[j + 2]);
                        j += 2;
                    }
                    for (unsigned byte = low; byte <= high; ++byte) {
                        sets_[setAt + byte / 32] |= 1U << (byte % 32);
                    }
                }
                if (negated) {
                    for (std::size_t w = 0; w < wordsPerSet; ++w) {
                        sets_[setAt + w] = ~sets_[setAt + w];
                    }
                }
                items_.push_back({Kind::set, 0, setAt});
                i = close + 1;
                continue;
            }
            // an unclosed `[` is itself, as every other byte is
        }
        items_.push_back({Kind::literal, static_cast<std::uint8_t>(c), 0});
        ++i;
    }
    minimumLength_ = static_cast<std::size_t>(
        std::count_if(items_.begin(), items_.end(), [](const Item& item) { return item.kind != Kind::star; }));
    const auto firstStar =
        std::find_if(items_.begin(), items_.end(), [](const Item& item) { return item.kind == Kind::star; });
    hasStar_ = firstStar != items_.end();
    prefixItems_ = static_cast<std::size_t>(firstStar - items_.begin());
    if (hasStar_) {
        const auto lastStar =
            std::find_if(items_.rbegin(), items_.rend(), [](const Item& item) { return item.kind == Kind::star; });
        suffixItems_ = static_cast<std::size_t>(lastStar - items_.rbegin());
        starBetween_ = items_.size() - prefixItems_ - suffixItems_ == 1;
    }
}

bool CompiledPattern::itemMatches(const Item& item, unsigned char byte) const
{
    switch (item.kind) {
    case Kind::literal:
        return item.byte == byte;
    case Kind::anyByte:
        return true;
    case Kind::set:
        return ((sets_[item.setAt + byte / 32] >> (byte % 32)) & 1U) != 0;
    case Kind::star:
        break;
    }
    return false;
}

// Only the last `*` seen ever needs to be retried: every earlier one can
// absorb whatever a later retry would give it. So a mismatch goes back to
// the last `*`, which takes one more byte, and the work stays bounded by
// the name's length times the items'.
bool CompiledPattern::matchesFrom(std::size_t first, std::size_t last, std::string_view name) const
{
    std::size_t p = first;
    std::size_t n = 0;
    std::size_t starAt = none;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < last && items_[p].kind == Kind::star) {
            starAt = p++;
            starName = n;
            continue;
        }
        if (p < last && itemMatches(items_[p], static_cast<unsigned char>(name[n]))) {
            ++p;
            ++n;
            continue;
        }
        if (starAt == none) {
            return false;
        }
        p = starAt + 1;
        n = ++starName;
    }
    while (p < last && items_[p].kind == Kind::star) {
        ++p;
    }
    return p == last;
}

bool CompiledPattern::matches(std::string_view name) const
{
    if (name.size() < minimumLength_ || (!hasStar_ && name.size() != minimumLength_)) {
        return false;
    }
    // the bytes before the first `*` and after the last one stand at fixed places
    for (std::size_t k = 0; k < prefixItems_; ++k) {
        if (!itemMatches(items_[k], static_cast<unsigned char>(name[k]))) {
            return false;
        }
    }
    if (!hasStar_) {
        return true;
    }
    const std::size_t tailItems = items_.size() - suffixItems_;
    const std::size_t tailName = name.size() - suffixItems_;
    for (std::size_t k = 0; k < suffixItems_; ++k) {
        if (!itemMatches(items_[tailItems + k], static_cast<unsigned char>(name[tailName + k]))) {
            return false;
        }
    }
    return starBetween_ || matchesFrom(prefixItems_, tailItems, name.substr(prefixItems_, tailName - prefixItems_));
}

} // namespace detail

Pattern::Pattern(std::string_view text) : compiled_(std::make_shared<const detail::CompiledPattern>(text)) {}

bool Pattern::matches(std::string_view name) const { return compiled_->matches(name); }

std::size_t Pattern::minimumLength() const { return compiled_->minimumLength(); }

bool matchesPattern(std::string_view pattern, std::string_view name) { return Pattern(pattern).matches(name); }

} // namespace tre
