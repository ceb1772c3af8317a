#pragma once

#include <ostream>
#include <string>
#include <string_view>

// Every message and listing line is written piece by piece, ended by a
// newline and flushed, so lines appear in order even when a later step fails.
template <typename... Pieces> void writeLine(std::ostream& out, const Pieces&... pieces)
{
    (out << ... << pieces) << '\n' << std::flush;
}

// Entry names come from the archive, so they are untrusted: shown on a
// terminal, every control byte becomes '?', so that no name can move the
// cursor, clear the screen, set the window title or fake a line. Elsewhere
// (a pipe, a file) names stay as stored.
// copyShownName writes the name at `at` and returns where it ends.
char* copyShownName(char* at, std::string_view name, bool terminal);
std::string shownName(std::string_view name, bool terminal);
