#pragma once

#include <ostream>

#include "archive/TreArchive.h"
#include "cli/Pattern.h"

// -t: checks the header, the directory and, for each selected entry in
// order, that its data lies inside the archive; one line per fault and a
// last line "Tested N entries: D damaged.". Names are shown terminal-safe
// when `terminal` is set. False when it printed an "Exit Message" line.
bool testArchive(std::ostream& out, const TreArchive& archive, const Selection& selection, bool terminal);
