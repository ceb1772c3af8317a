#pragma once

#include <ostream>

// Every message and listing line is written piece by piece, ended by a
// newline and flushed, so lines appear in order even when a later step fails.
template <typename... Pieces> void writeLine(std::ostream& out, const Pieces&... pieces)
{
    (out << ... << pieces) << '\n' << std::flush;
}
