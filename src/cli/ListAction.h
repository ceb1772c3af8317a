#pragma once

#include "cli/Report.h"
#include "cli/Selection.h"
#include "cli/String.h"
#include "tre/Archive.h"

struct ListingStyle {
    // lines "N: name (S bytes at offset O)"
    bool verbose = false;
};

// -l: one line "N: name" per selected entry, in entry-number order, each
// flushed on its own; listed entries keep their own numbers. Records that
// can no longer be read (the archive shrank) end the listing with a message.
void listToConsole(Report& report, const tre::Archive& archive, const Selection& selection, const ListingStyle& style);

// -lf: the same lines, names as stored, into the file at `listPath`,
// created or replaced (as tre::OutputFile does: a path that names the
// archive gets a new file, moved over it once complete).
void listToFile(Report& report, const tre::Archive& archive, const String& listPath, const Selection& selection,
                const ListingStyle& style);

// "Exit Message: Read only N of C directory records." after a walk that
// ended early.
void reportShortDirectory(Report& report, const tre::Archive& archive, const tre::EntryWalk& walk);
