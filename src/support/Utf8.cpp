#include "support/Utf8.h"

#include <cstdint>

namespace tre {

std::size_t validUtf8Length(std::string_view text)
{
    if (text.empty()) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    std::uint32_t low = 0;
    std::uint32_t code = lead;
    if (lead >= 0xF0U && lead <= 0xF4U) {
        length = 4, low = 0x10000, code = lead & 0x07U;
    } else if (lead >= 0xE0U && lead < 0xF0U) {
        length = 3, low = 0x800, code = lead & 0x0FU;
    } else if (lead >= 0xC2U && lead < 0xE0U) {
        length = 2, low = 0x80, code = lead & 0x1FU;
    } else if (lead >= 0x80U) {
        return 0;
    }
    if (length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0U) != 0x80U) {
            return 0;
        }
        code = (code << 6U) | (next & 0x3FU);
    }
    // no overlong forms, no surrogates, nothing above U+10FFFF
    if (code < low || code > 0x10FFFFU || (code >= 0xD800U && code <= 0xDFFFU)) {
        return 0;
    }
    return length;
}

TextCharacter firstCharacter(std::string_view text)
{
    const std::size_t length = validUtf8Length(text);
    if (length == 0) {
        return {TextCharacter::Kind::invalid, 1};
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    const bool c0 = length == 1 && (lead < 0x20U || lead == 0x7FU);
    // U+0080 to U+009F: C2 80 to C2 9F
    const bool c1 = length == 2 && lead == 0xC2U && static_cast<unsigned char>(text[1]) < 0xA0U;
    return {c0 || c1 ? TextCharacter::Kind::control : TextCharacter::Kind::plain, length};
}

} // namespace tre
