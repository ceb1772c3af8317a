#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "archive/TreArchive.h"
#include "support/File.h"
#include "support/String.h"

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

// Creates the output file at `path`, lets `write(File&)` fill it and closes
// it; false when anything failed. A path that names the loaded archive (by any
// spelling or link) gets a new file, moved over it once complete, so that
// later actions still read the archive as it was loaded.
template <typename Write> bool writeOutputFile(const TreArchive& archive, const String& path, Write&& write)
{
    if (archive.isArchiveFile(path)) {
        ReplacementFile replacement(path);
        return write(replacement.file()) && replacement.commit();
    }
    File file = File::createForWriting(path);
    return write(file) && file.close();
}
