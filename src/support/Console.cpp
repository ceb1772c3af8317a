// The platform-independent part of the programs' console.
#include "support/Console.h"

#include "support/Utf8.h"

std::string terminalSafe(std::string_view name, bool terminal)
{
    if (!terminal) {
        return std::string(name);
    }
    std::string text;
    text.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const tre::TextCharacter character = tre::firstCharacter(name.substr(i));
        if (character.kind == tre::TextCharacter::Kind::plain) {
            text.append(name.substr(i, character.length));
        } else {
            text += '?';
        }
        i += character.length;
    }
    return text;
}
