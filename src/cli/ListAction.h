#pragma once

#include "cli/Report.h"
#include "cli/Selection.h"
#include "cli/String.h"
#include "tre/Archive.h"

#include <ostream>

struct ListingStyle {
    // lines "N: name (S bytes at offset O)"
    bool verbose = false;
    // JSON Lines objects instead of listing lines (cli/Json.h)
    bool json = false;
};

// Where -j's lines go: standard output, or the report's stream in a run
// that gives standard output to an entry's bytes.
struct JsonOutput {
    std::ostream* stream = nullptr;
    // on a terminal each line is shown at once; elsewhere lines go in blocks
    bool terminal = false;
};

// -l: one line "N: name" per selected entry, in entry-number order, each
// flushed on its own (or with -j one JSON line each, to `json`); listed
// entries keep their own numbers. Records that can no longer be read (the
// archive shrank) end the listing with a message.
void listToConsole(Report& report, const tre::Archive& archive, const Selection& selection, const ListingStyle& style,
                   const JsonOutput& json = {});

// -lf: the same lines, names as stored (JSON lines with -j, which end in a
// line feed on every platform), into the file at `listPath`,
// created or replaced (as tre::OutputFile does: a path that names the
// archive gets a new file, moved over it once complete).
void listToFile(Report& report, const tre::Archive& archive, const String& listPath, const Selection& selection,
                const ListingStyle& style);
