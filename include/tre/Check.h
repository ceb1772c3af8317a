#pragma once

// The checks of an archive's integrity, as data: what is damaged, never
// how to say it.

#include "tre/Archive.h"

namespace tre {

enum class HeaderFault {
    none,
    cutShort,          // the file ends inside its 8-byte header (and is not empty)
    negativeCount,     // the header's count is below zero: read as an empty directory
    directoryCutShort, // the file holds fewer records than the header claims
};

// The header and the directory as the archive was opened.
HeaderFault checkHeader(const Archive& archive);

enum class EntryFault {
    none,
    invalidSize,   // the size is negative
    invalidOffset, // the offset is negative (and the size is not 0)
    runsPastEnd,   // the data runs past the end of the file as it was opened
};

// Whether the entry's data lies whole inside the archive. An entry of size
// 0 is always whole.
EntryFault checkEntry(const Archive& archive, const Entry& entry);

} // namespace tre
