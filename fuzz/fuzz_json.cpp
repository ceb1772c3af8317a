// The JSON line of any name: it must be valid UTF-8 with no control byte
// (but its last line feed) and no C1 control, parse as the one object it
// claims to be, and give the name back: decoded from "name" where the name
// is valid UTF-8, from "name_hex" (present then only) where it is not.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Json.h"
#include "tre/EntryPath.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// Reads the JSON text it is given, and nothing it does not expect.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void expect(std::string_view literal)
    {
        require(text_.substr(at_, literal.size()) == literal);
        at_ += literal.size();
    }

    [[nodiscard]] bool next(char c) const { return at_ < text_.size() && text_[at_] == c; }

    void number()
    {
        const std::size_t start = at_;
        if (next('-')) {
            ++at_;
        }
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        require(at_ > start && text_[at_ - 1] != '-');
    }

    std::string string()
    {
        expect("\"");
        std::string value;
        while (!next('"')) {
            require(at_ < text_.size());
            const char c = text_[at_++];
            if (c != '\\') {
                value += c;
                continue;
            }
            require(at_ < text_.size());
            const char escape = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t found = simple.find(escape); found != std::string_view::npos) {
                value += meant[found];
                continue;
            }
            require(escape == 'u' && at_ + 4 <= text_.size());
            const unsigned code = std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16);
            at_ += 4;
            // only these are ever escaped: controls (C0, DEL, C1) and the replacement character
            require(code < 0xA0U || code == 0xFFFDU);
            if (code < 0x80U) {
                value += static_cast<char>(code);
            } else if (code < 0x800U) {
                value += static_cast<char>(0xC0U | (code >> 6U));
                value += static_cast<char>(0x80U | (code & 0x3FU));
            } else {
                value += "\xef\xbf\xbd";
            }
        }
        ++at_;
        return value;
    }

    [[nodiscard]] bool atEnd() const { return at_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = tre::utf8SequenceLength(text.substr(i));
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string fromHex(std::string_view hex)
{
    require(hex.size() % 2 == 0);
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        require(std::string_view("0123456789abcdef").find(hex[i]) != std::string_view::npos &&
                std::string_view("0123456789abcdef").find(hex[i + 1]) != std::string_view::npos);
        bytes += static_cast<char>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 300));
    std::string line(jsonLineCapacity(name.size()), '\0');
    line.resize(
        static_cast<std::size_t>(writeJsonLine(line.data(), -7, name, 2147483647, -2147483647 - 1) - line.data()));

    require(!line.empty() && line.back() == '\n' && isValidUtf8(line));
    const std::string_view body(line.data(), line.size() - 1);
    for (std::size_t i = 0; i < body.size(); ++i) {
        const auto byte = static_cast<unsigned char>(body[i]);
        require(byte >= 0x20U && byte != 0x7FU);
        require(!(byte == 0xC2U && i + 1 < body.size() && static_cast<unsigned char>(body[i + 1]) < 0xA0U));
    }
    Reader reader(body);
    reader.expect("{\"entry\":");
    reader.number();
    reader.expect(",\"name\":");
    const std::string decoded = reader.string();
    reader.expect(",\"size\":");
    reader.number();
    reader.expect(",\"offset\":");
    reader.number();
    std::optional<std::string> hex;
    if (reader.next(',')) {
        reader.expect(",\"name_hex\":");
        hex = reader.string();
    }
    reader.expect("}");
    require(reader.atEnd());
    if (isValidUtf8(name)) {
        require(!hex && decoded == name);
    } else {
        require(hex && fromHex(*hex) == name);
    }
    return 0;
}
