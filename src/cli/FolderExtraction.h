#pragma once

#include <ostream>

#include "archive/TreArchive.h"
#include "cli/Pattern.h"
#include "cli/Progress.h"
#include "support/String.h"

// -x: extracts every selected entry into `folder`, in entry-number order, by
// its stored name, each with the report lines of -o. Unsafe names, links
// inside the folder and the archive's own path are skipped with a message;
// a full disk ends the run. Last line: "Extracted K of M entries (B bytes)
// to folder (FOLDER).". False when it printed an "Exit Message" line.
bool extractToFolder(std::ostream& out, const TreArchive& archive, const String& folder, const Selection& selection,
                     bool terminal, ProgressLine& progress);
