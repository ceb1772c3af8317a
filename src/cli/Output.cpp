#include "cli/Output.h"

#include <algorithm>

namespace {

bool isControlByte(char c) { return static_cast<unsigned char>(c) < 0x20U || c == '\x7f'; }

} // namespace

char* copyShownName(char* at, std::string_view name, bool terminal)
{
    char* end = std::copy(name.begin(), name.end(), at);
    if (terminal) {
        std::replace_if(at, end, isControlByte, '?');
    }
    return end;
}

std::string shownName(std::string_view name, bool terminal)
{
    std::string text(name.size(), '\0');
    copyShownName(text.data(), name, terminal);
    return text;
}
