// The name rules of -m and -x on any bytes: a pattern and a name, split at
// the input's first NUL. The matcher must agree with a plain memoised
// reference; a name's path components must never be absolute, empty, `.`,
// `..`, or hold a separator, and must stay inside the folder they are
// joined under.
#include <bitset>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tre/EntryPath.h"
#include "tre/Pattern.h"

namespace {

// The set opening at pattern[at]: its members and its length, or no length
// when it is not closed.
std::size_t referenceSet(std::string_view pattern, std::size_t at, std::bitset<256>& members, bool& negated)
{
    std::size_t i = at + 1;
    negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    i += negated ? 1 : 0;
    const std::size_t first = i;
    while (i < pattern.size()) {
        if (pattern[i] == ']' && i != first) {
            return i + 1 - at;
        }
        const auto low = static_cast<unsigned char>(pattern[i]);
        unsigned high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = static_cast<unsigned char>(pattern[i + 2]);
            i += 2;
        }
        for (unsigned byte = low; byte <= high; ++byte) {
            members.set(byte);
        }
        ++i;
    }
    return 0;
}

class ReferenceMatcher {
public:
    ReferenceMatcher(std::string_view pattern, std::string_view name)
        : pattern_(pattern), name_(name), memo_((pattern.size() + 1) * (name.size() + 1), unknown)
    {
    }

    bool matches(std::size_t p, std::size_t n)
    {
        char& known = memo_[p * (name_.size() + 1) + n];
        if (known == unknown) {
            known = compute(p, n) ? 1 : 0;
        }
        return known == 1;
    }

private:
    static constexpr char unknown = 2;

    bool compute(std::size_t p, std::size_t n)
    {
        if (p == pattern_.size()) {
            return n == name_.size();
        }
        if (pattern_[p] == '*') {
            return matches(p + 1, n) || (n < name_.size() && matches(p, n + 1));
        }
        if (n == name_.size()) {
            return false;
        }
        if (pattern_[p] == '?') {
            return matches(p + 1, n + 1);
        }
        if (pattern_[p] == '[') {
            std::bitset<256> members;
            bool negated = false;
            const std::size_t length = referenceSet(pattern_, p, members, negated);
            if (length > 0) {
                return members.test(static_cast<unsigned char>(name_[n])) != negated && matches(p + length, n + 1);
            }
        }
        return pattern_[p] == name_[n] && matches(p + 1, n + 1);
    }

    std::string_view pattern_;
    std::string_view name_;
    std::vector<char> memo_;
};

void checkComponents(std::string_view name, tre::PathRules rules)
{
    const std::optional<std::vector<std::string_view>> components = tre::entryPathComponents(name, rules);
    if (!components) {
        return;
    }
    const std::filesystem::path root = "/folder";
    std::filesystem::path joined = root;
    for (const std::string_view component : *components) {
        if (component.empty() || component == "." || component == ".." ||
            component.find_first_of("/\\") != std::string_view::npos) {
            std::abort();
        }
        joined /= std::string(component);
    }
    const std::string normal = joined.lexically_normal().string();
    if (components->empty() || name.front() == '/' || name.front() == '\\' || !normal.starts_with("/folder/")) {
        std::abort();
    }
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    if (pattern.size() > 256 || name.size() > 256) {
        return 0; // longer inputs only slow the reference down
    }
    if (tre::matchesPattern(pattern, name) != ReferenceMatcher(pattern, name).matches(0, 0)) {
        std::abort();
    }
    checkComponents(name, tre::PathRules::posix);
    checkComponents(name, tre::PathRules::windows);
    // Windows' rules only ever add to the unsafe names
    const auto onWindows = tre::entryPathComponents(name, tre::PathRules::windows);
    if (onWindows && onWindows != tre::entryPathComponents(name, tre::PathRules::posix)) {
        std::abort();
    }
    return 0;
}
