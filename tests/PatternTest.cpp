// The two pure rule sets of -m and -x: pattern matching, and which entry
// names may become paths under a folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tre/EntryPath.h"
#include "tre/Pattern.h"

TEST(Pattern, MatchesWholeNamesByteByByte)
{
    struct Case {
        std::string pattern;
        std::string name;
        bool matches;
    };
    const std::string as64(64, 'a');
    const std::vector<Case> cases{
        {"*", "", true},
        {"*", "dir/sub/file.txt", true}, // * crosses folders
        {"*.txt", "a/b.txt", true},
        {"*.txt", "a/b.txt.bak", false},
        {"a*", "ba", false}, // the whole name must match
        {"?", "", false},
        {"?", "x", true},
        {"??", "x", false},
        {"a?c", "a/c", true},
        {"", "", true},
        {"", "a", false},
        {"A*", "abc", false}, // case-sensitive
        {"[abc]x", "bx", true},
        {"[abc]x", "dx", false},
        {"[a-c]", "b", true},
        {"[a-c]", "d", false},
        {"[!a-c]", "d", true},
        {"[^a-c]", "a", false},
        {"[]]", "]", true},
        {"[!]]", "]", false},
        {"[a-]", "-", true},
        {"[", "[", true},      // unclosed: itself
        {"[a]", "[a]", false}, // closed: a set, never itself
        {"[ab", "[ab", true},
        {"[ab", "a", false},
        {"\\*", "\\x", true}, // backslash is an ordinary byte
        {"\\*", "*", false},
        {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
        {"[\x80-\xff]", "\xc3", true}, // ranges compare bytes unsigned
        {"*a*a*a*a*a*a*a*a*a*a*b", as64, false},
        {"*a*a*a*a*a*a*a*a*a*a*", as64, true},
        {"*?*?*", "ab", true},
        {"*/*/*", "a/b", false},
        // compiled: runs of `*`, fixed heads and tails, sets closed anywhere
        {"a***b", "ab", true},
        {"a*b*", "ab", true},
        {"*ab", "aab", true},
        {"?*?", "x", false},
        {"x*[!a]", "xa", false},
        {"x*[!a]", "xab", true},
        {"[[]", "[", true},
        {"[!", "[!", true},
        {"[^]", "[^]", true},
        {"[]-a]", "^", true},  // a range from `]`
        {"[a-]]", "]", false}, // `-` and `a`, then a literal `]`
        {"[a-]]", "-]", true},
        {"[z-a]", "m", false}, // an empty range
        {std::string(131000, '['), std::string(65, '['), false},
        {"*" + std::string(131000, '['), std::string(65, '['), false},
        {std::string(65, '?'), as64 + "a", true},
        {std::string(66, '?'), as64 + "a", false},
        {"*" + std::string(40, '[') + "]", std::string(40, '['), true}, // `*`, then a set of `[`
        {"*a*b", "xabb", true},                                         // the last `*` takes the first b
        {"*a*b", "xaab", true},
        {"*ab*cd", "xabxcdcd", true},
        {"*ab*cd", "xaxbcd", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tre::matchesPattern(c.pattern, c.name), c.matches) << '"' << c.pattern << "\" on \"" << c.name << '"';
    }
}

TEST(EntryPath, SafeNamesBecomeComponentsUnsafeOnesNothing)
{
    using Components = std::vector<std::string_view>;
    struct Case {
        std::string name;
        std::optional<Components> posix;
        std::optional<Components> windows; // the same as posix unless given
        bool windowsDiffers = false;
    };
    const std::vector<Case> cases{
        {"a.txt", Components{"a.txt"}, {}},
        {"dir/sub/a.txt", Components{"dir", "sub", "a.txt"}, {}},
        {"dir\\sub\\a.txt", Components{"dir", "sub", "a.txt"}, {}}, // \ separates everywhere
        {"dir//./a", Components{"dir", "a"}, {}},
        {"dir/", Components{"dir"}, {}},
        {"..a/b..", Components{"..a", "b.."}, std::nullopt, true}, // a trailing dot is unsafe on Windows only
        {"", std::nullopt, {}},
        {".", std::nullopt, {}},
        {"./", std::nullopt, {}},
        {"/etc/passwd", std::nullopt, {}},
        {"\\windows", std::nullopt, {}},
        {"..", std::nullopt, {}},
        {"a/../../b", std::nullopt, {}},
        {"a\\..\\b", std::nullopt, {}},
        {"C:x", std::nullopt, {}},
        {"A:x", std::nullopt, {}},
        {"z:", std::nullopt, {}},
        {"Z:x", std::nullopt, {}},
        {"c:\\x", std::nullopt, {}},
        {"1:x", Components{"1:x"}, std::nullopt, true},
        {"a:b", std::nullopt, {}},
        {"ab:c", Components{"ab:c"}, std::nullopt, true}, // a drive only at the start; ':' unsafe on Windows
        {"a<b", Components{"a<b"}, std::nullopt, true},
        {"a|b", Components{"a|b"}, std::nullopt, true},
        {"a?b", Components{"a?b"}, std::nullopt, true},
        {"a*b", Components{"a*b"}, std::nullopt, true},
        {"a\"b", Components{"a\"b"}, std::nullopt, true},
        {"a\x01"
         "b",
         Components{"a\x01"
                    "b"},
         std::nullopt, true},
        {"dir /a", Components{"dir ", "a"}, std::nullopt, true},
        {"CON", Components{"CON"}, std::nullopt, true},
        {"d/nul.tar.gz", Components{"d", "nul.tar.gz"}, std::nullopt, true},
        {"Com1.txt", Components{"Com1.txt"}, std::nullopt, true},
        {"lpt9", Components{"lpt9"}, std::nullopt, true},
        {"con .txt", Components{"con .txt"}, std::nullopt, true}, // Windows drops the blank
        {"conout$", Components{"conout$"}, std::nullopt, true},
        {"COM0", Components{"COM0"}, {}},
        {"CONSOLE", Components{"CONSOLE"}, {}},
        {"caf\xc3\xa9", Components{"caf\xc3\xa9"}, {}},
        {"caf\xe9", Components{"caf\xe9"}, std::nullopt, true},                   // not UTF-8
        {"\xc0\xaf", Components{"\xc0\xaf"}, std::nullopt, true},                 // overlong '/'
        {"\xed\xa0\x80", Components{"\xed\xa0\x80"}, std::nullopt, true},         // a surrogate
        {"\xf4\x90\x80\x80", Components{"\xf4\x90\x80\x80"}, std::nullopt, true}, // above U+10FFFF
        {"\xf0\x9f\x98\x80", Components{"\xf0\x9f\x98\x80"}, {}},
        {"\xf4\x8f\xbf\xbf", Components{"\xf4\x8f\xbf\xbf"}, {}}, // U+10FFFF, the last there is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tre::entryPathComponents(c.name, tre::PathRules::posix), c.posix);
        EXPECT_EQ(tre::entryPathComponents(c.name, tre::PathRules::windows), c.windowsDiffers ? c.windows : c.posix);
    }
}
