#include "tre/EntryPath.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "support/Utf8.h"

namespace tre {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool startsWithDrive(std::string_view name) { return name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(std::string_view text, std::string_view upperCase)
{
    return text.size() == upperCase.size() &&
           std::equal(text.begin(), text.end(), upperCase.begin(), [](char a, char b) { return upper(a) == b; });
}

// CON, COM1, LPT9.txt, nul.tar.gz: Windows opens the device, not a file.
bool isReservedDeviceName(std::string_view component)
{
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    static constexpr std::array<std::string_view, 6> plain{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (std::any_of(plain.begin(), plain.end(),
                    [&](std::string_view name) { return equalsIgnoringCase(base, name); })) {
        return true;
    }
    return base.size() == 4 &&
           (equalsIgnoringCase(base.substr(0, 3), "COM") || equalsIgnoringCase(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

bool isForbiddenOnWindows(char c)
{
    constexpr std::string_view forbidden = ":<>\"|?*";
    return static_cast<unsigned char>(c) < 0x20U || forbidden.find(c) != std::string_view::npos;
}

bool isSafeOnWindows(std::string_view component)
{
    return std::none_of(component.begin(), component.end(), isForbiddenOnWindows) && component.back() != '.' &&
           component.back() != ' ' && !isReservedDeviceName(component);
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = validUtf8Length(text.substr(i));
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

} // namespace

std::size_t utf8SequenceLength(std::string_view text) { return validUtf8Length(text); }

std::optional<std::vector<std::string_view>> entryPathComponents(std::string_view name, PathRules rules)
{
    if (name.empty() || isSeparator(name.front()) || startsWithDrive(name)) {
        return std::nullopt;
    }
    if (rules == PathRules::windows && !isValidUtf8(name)) {
        return std::nullopt;
    }
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= name.size()) {
        // (a plain loop: find_first_of searches the set of two for every byte)
        std::size_t stop = start;
        while (stop < name.size() && !isSeparator(name[stop])) {
            ++stop;
        }
        const std::string_view component = name.substr(start, stop - start);
        start = stop + 1;
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == ".." || (rules == PathRules::windows && !isSafeOnWindows(component))) {
            return std::nullopt;
        }
        components.push_back(component);
    }
    if (components.empty()) {
        return std::nullopt;
    }
    return components;
}

} // namespace tre
