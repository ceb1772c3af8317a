#pragma once

// Which bytes of a name are text: the one classification that every way of
// showing a name (on a terminal, in JSON) and the name rules share.

#include <cstddef>
#include <string_view>

namespace tre {

// The length of the valid UTF-8 sequence that `text` starts with (shortest
// form, no surrogates, at most U+10FFFF): 1 to 4, or 0 when the first bytes
// are not one (or `text` is empty).
std::size_t validUtf8Length(std::string_view text);

// The character that `text` (not empty) starts with.
struct TextCharacter {
    enum class Kind {
        plain,   // text that shows as it is
        control, // a C0 control, DEL or a C1 control (U+0080 to U+009F)
        invalid, // a byte that is not part of valid UTF-8: `length` is 1
    };
    Kind kind;
    std::size_t length;
};
TextCharacter firstCharacter(std::string_view text);

} // namespace tre
