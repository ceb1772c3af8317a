#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Json.h"

namespace {

std::string jsonLine(std::int32_t entry, const std::string& name, std::int32_t size, std::int32_t offset)
{
    std::string line(jsonLineCapacity(name.size()), '\0');
    line.resize(static_cast<std::size_t>(writeJsonLine(line.data(), entry, name, size, offset) - line.data()));
    return line;
}

} // namespace

// Every class of byte a name can hold: the line is valid UTF-8 and JSON,
// and a name that is not UTF-8 also comes whole as hexadecimal.
TEST(Json, NamesOfEveryClassOfByte)
{
    struct Case {
        std::string name;
        std::string shown;
        std::string hex; // empty: no name_hex member
    };
    const std::vector<Case> cases{
        {"docs/a.txt", "docs/a.txt", ""},
        {"", "", ""},
        {R"(q"b\s/)", R"(q\"b\\s/)", ""},
        {"\b\t\n\f\r", R"(\b\t\n\f\r)", ""},
        {std::string("\x00\x01\x1f\x7f", 4), R"(\u0000\u0001\u001f\u007f)", ""},
        {"\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0", "\\u0080\\u009b\\u009f\xc2\xa0", ""}, // C1 controls, then NBSP
        {"caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x98\x80", ""},
        {"a\xff", R"(a\ufffd)", "61ff"},
        {"\xc3", R"(\ufffd)", "c3"},                                     // cut short
        {"\xc0\xaf", R"(\ufffd\ufffd)", "c0af"},                         // overlong
        {"\xed\xa0\x80", R"(\ufffd\ufffd\ufffd)", "eda080"},             // a surrogate
        {"\xf4\x90\x80\x80", R"(\ufffd\ufffd\ufffd\ufffd)", "f4908080"}, // above U+10FFFF
        {"\x9b[2J\xc3\xa9", "\\ufffd[2J\xc3\xa9", "9b5b324ac3a9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string hex = c.hex.empty() ? "" : R"(,"name_hex":")" + c.hex + "\"";
        EXPECT_EQ(jsonLine(7, c.name, 12, 340),
                  R"({"entry":7,"name":")" + c.shown + R"(","size":12,"offset":340)" + hex + "}\n");
    }
    EXPECT_EQ(jsonLine(-1, "n", -2147483647 - 1, -5),
              "{\"entry\":-1,\"name\":\"n\",\"size\":-2147483648,\"offset\":-5}\n");
    // the longest line of all fits the room promised (the sanitizers watch the edge)
    EXPECT_LE(jsonLine(-2147483647 - 1, std::string(65, '\xff'), -2147483647 - 1, -2147483647 - 1).size(),
              jsonLineCapacity(65));
}
