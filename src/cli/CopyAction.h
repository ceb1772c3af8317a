#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/Report.h"
#include "cli/String.h"
#include "tre/Archive.h"

// -o: copies entry `entryNumber` into the file at `outputPath`, created or
// replaced, after its two report lines. An entry number out of range is
// reported, but is no failure.
void copyEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, const String& outputPath);

// -p: writes entry `entryNumber`'s bytes, and nothing else, to `out`
// (standard output). Unlike -o, an entry number out of range ends the run
// with status 1, so that a pipeline can tell.
void printEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, std::ostream& out);

// The two report lines of an entry about to be copied to `path` (shown as
// given): they stand before any data is read.
void reportCopy(Report& report, const tre::Entry& entry, std::string_view path);

// What a copy of an entry did: the bytes it delivered, and where it failed,
// why (reading the archive, or writing the output).
struct Copied {
    std::int64_t bytes = 0;
    std::optional<tre::Error> failure;
};

// The "Exit Message" line for a copy that did not deliver the entry whole
// (the output could not be written, the size is invalid, the archive ran
// out or could not be read); none when it did. True when it was whole.
bool reportCopyResult(Report& report, const tre::Entry& entry, const Copied& copied, std::string_view path);
