#pragma once

#include "cli/Report.h"
#include "cli/Selection.h"
#include "tre/Archive.h"

// -t: checks the header, the directory and, for each selected entry in
// order, that its data lies inside the archive; one line per fault and a
// last line "Tested N entries: D damaged.", which becomes an "Exit Message"
// line when anything was damaged or the directory could not be read whole.
void checkArchive(Report& report, const tre::Archive& archive, const Selection& selection);
