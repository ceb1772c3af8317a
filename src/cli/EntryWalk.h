#pragma once

#include <array>
#include <cstdint>
#include <ostream>

#include "archive/TreArchive.h"
#include "cli/Output.h"
#include "cli/Pattern.h"

// Hands each selected entry (every entry when `selection` is null) to
// `visit(n, entry)` in entry-number order, until a record cannot be read or
// `visit` returns false. Returns the records read: entryCount() unless the
// archive shrank after it was loaded.
template <typename Visit>
std::int32_t forEachSelectedEntry(const TreArchive& archive, const Selection* selection, Visit&& visit)
{
    // Each record is copied one step ahead of its use: reading bytes right
    // after they were written stalls the processor (a listing of a million
    // entries takes a sixth longer).
    std::array<TreEntry, 2> entries{};
    bool haveNext = archive.readRecord(0, entries[0]);
    for (std::int32_t entryNumber = 0; entryNumber < archive.entryCount(); ++entryNumber) {
        if (!haveNext) {
            return entryNumber;
        }
        const TreEntry& entry = entries[static_cast<std::size_t>(entryNumber) & 1U];
        haveNext = entryNumber + 1 < archive.entryCount() &&
                   archive.readRecord(entryNumber + 1, entries[static_cast<std::size_t>(entryNumber + 1) & 1U]);
        if (selection != nullptr && !selection->includes(entry.nameText())) {
            continue;
        }
        if (!visit(entryNumber, entry)) {
            return entryNumber + 1;
        }
    }
    return archive.entryCount();
}

// After a walk: the message for records that could not be read, if any;
// false when it was printed.
inline bool reportShortDirectory(std::ostream& out, const TreArchive& archive, std::int32_t recordsRead)
{
    if (recordsRead < archive.entryCount()) {
        writeLine(out, "Exit Message: Read only ", recordsRead, " of ", archive.entryCount(), " directory records.");
        return false;
    }
    return true;
}
