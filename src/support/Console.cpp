// The platform-independent part of the programs' console.
#include "support/Console.h"

#include "tre/EntryPath.h"

std::string terminalSafe(std::string_view name, bool terminal)
{
    if (!terminal) {
        return std::string(name);
    }
    std::string text;
    text.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = tre::utf8SequenceLength(name.substr(i));
        const auto lead = static_cast<unsigned char>(name[i]);
        const bool c0 = length == 1 && (lead < 0x20U || lead == 0x7FU);
        // U+0080 to U+009F: C2 80 to C2 9F
        const bool c1 = length == 2 && lead == 0xC2U && static_cast<unsigned char>(name[i + 1]) < 0xA0U;
        if (length == 0 || c0 || c1) {
            text += '?';
            i += length == 0 ? 1 : length;
        } else {
            text.append(name.substr(i, length));
            i += length;
        }
    }
    return text;
}
