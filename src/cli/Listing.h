#pragma once

#include <ostream>

#include "archive/TreArchive.h"
#include "cli/Pattern.h"
#include "support/String.h"

struct ListingStyle {
    // names shown terminal-safe (the console listing on a terminal)
    bool terminal = false;
    // lines "N: name (S bytes at offset O)"
    bool verbose = false;
    // the entries listed, each with its own number; all of them when null
    const Selection* selection = nullptr;
};

// One line "N: name" per selected entry, in entry-number order, each
// flushed on its own. Returns how many records could be read: entryCount()
// unless the archive shrank after it was loaded, where the listing stops.
std::int32_t listDirectory(std::ostream& out, const TreArchive& archive, const ListingStyle& style = {});

// The console listing and the list file (names always as stored), with
// their messages on `out`; false when an "Exit Message" line was printed.
bool listToConsole(std::ostream& out, const TreArchive& archive, const ListingStyle& style);
bool listToFile(std::ostream& out, const TreArchive& archive, const String& listPath, const ListingStyle& style);
