#include "cli/Json.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "support/Utf8.h"

namespace {

constexpr std::string_view hexDigits = "0123456789abcdef";

char* put(char* at, std::string_view text) { return std::copy(text.begin(), text.end(), at); }

char* putNumber(char* at, std::int32_t number) { return std::to_chars(at, at + 16, number).ptr; }

char* putEscaped(char* at, unsigned char code)
{
    switch (code) {
    case '"':
        return put(at, R"(\")");
    case '\\':
        return put(at, R"(\\)");
    case '\b':
        return put(at, "\\b");
    case '\t':
        return put(at, "\\t");
    case '\n':
        return put(at, "\\n");
    case '\f':
        return put(at, "\\f");
    case '\r':
        return put(at, "\\r");
    default:
        at = put(at, R"(\u00)");
        *at++ = hexDigits[code >> 4U];
        *at++ = hexDigits[code & 0xFU];
        return at;
    }
}

// The bytes that go into a JSON string as they are: printable ASCII but
// `"` and `\`.
constexpr std::array<bool, 256> plainBytes = [] {
    std::array<bool, 256> plain{};
    for (unsigned byte = 0x20; byte < 0x7F; ++byte) {
        plain[byte] = byte != '"' && byte != '\\';
    }
    return plain;
}();

// The name's characters; false when a byte was not part of valid UTF-8.
bool putName(char*& at, std::string_view name)
{
    bool valid = true;
    for (std::size_t i = 0; i < name.size();) {
        // most names are plain ASCII: such a run is copied at once
        std::size_t end = i;
        while (end < name.size() && plainBytes[static_cast<unsigned char>(name[end])]) {
            ++end;
        }
        at = put(at, name.substr(i, end - i));
        i = end;
        if (i == name.size()) {
            break;
        }
        const tre::TextCharacter character = tre::firstCharacter(name.substr(i));
        const auto lead = static_cast<unsigned char>(name[i]);
        if (character.kind == tre::TextCharacter::Kind::invalid) {
            at = put(at, "\\ufffd");
            valid = false;
        } else if (character.kind == tre::TextCharacter::Kind::control) {
            // a C1 control (C2 80 to C2 9F) is escaped as its code point
            at = putEscaped(at, character.length == 2 ? static_cast<unsigned char>(name[i + 1]) : lead);
        } else if (lead == '"' || lead == '\\') {
            at = putEscaped(at, lead);
        } else {
            at = put(at, name.substr(i, character.length));
        }
        i += character.length;
    }
    return valid;
}

} // namespace

char* writeJsonLine(char* at, std::int32_t entry, std::string_view name, std::int32_t size, std::int32_t offset)
{
    at = put(at, R"({"entry":)");
    at = putNumber(at, entry);
    at = put(at, R"(,"name":")");
    const bool valid = putName(at, name);
    at = put(at, R"(","size":)");
    at = putNumber(at, size);
    at = put(at, R"(,"offset":)");
    at = putNumber(at, offset);
    if (!valid) {
        at = put(at, R"(,"name_hex":")");
        for (const char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            *at++ = hexDigits[byte >> 4U];
            *at++ = hexDigits[byte & 0xFU];
        }
        *at++ = '"';
    }
    return put(at, "}\n");
}
