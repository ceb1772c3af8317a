#include "cli/Output.h"

#include <algorithm>

namespace {

bool isControlByte(char c) { return static_cast<unsigned char>(c) < 0x20U || c == '\x7f'; }

} // namespace

void appendShownName(std::string& text, std::string_view name, bool terminal)
{
    const std::size_t start = text.size();
    text += name;
    if (terminal) {
        std::replace_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), isControlByte, '?');
    }
}

std::string shownName(std::string_view name, bool terminal)
{
    std::string text;
    appendShownName(text, name, terminal);
    return text;
}
