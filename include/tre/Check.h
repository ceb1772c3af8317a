#pragma once

// The checks of an archive's integrity, as data: what is damaged, never
// how to say it.

#include <cstdint>
#include <functional>
#include <system_error>

#include "tre/Api.h"
#include "tre/Archive.h"

namespace tre {

enum class HeaderFault {
    none,
    cutShort,          // the file ends inside its 8-byte header (and is not empty)
    negativeCount,     // the header's count is below zero: read as an empty directory
    directoryCutShort, // the file holds fewer records than the header claims
};

// "whole", "ends inside its header", ...
TRE_API const char* describe(HeaderFault fault) noexcept;

// The header and the directory as the archive was opened.
[[nodiscard]] TRE_API HeaderFault checkHeader(const Archive& archive);

enum class EntryFault {
    none,
    invalidSize,   // the size is negative
    invalidOffset, // the offset is negative (and the size is not 0)
    runsPastEnd,   // the data runs past the end of the file as it was opened
};

// "whole", "has an invalid size", ...
TRE_API const char* describe(EntryFault fault) noexcept;

// Whether the entry's data lies whole inside the archive. An entry of size
// 0 is always whole.
[[nodiscard]] TRE_API EntryFault checkEntry(const Archive& archive, const Entry& entry);

// What a check of a whole archive found.
struct ArchiveCheck {
    HeaderFault header = HeaderFault::none;
    // entries checked (those selected), and how many of them are damaged
    std::int64_t tested = 0;
    std::int64_t damaged = 0;
    // records read, and why the directory could not be read to its end
    std::int32_t recordsRead = 0;
    std::error_code directoryError;

    [[nodiscard]] bool whole() const { return header == HeaderFault::none && damaged == 0 && !directoryError; }
};

// Checks the header and every entry (or those that `select` accepts) in
// order, calling `damaged` for each damaged one as it is found: all that
// tretool -t does, without a word printed.
[[nodiscard]] TRE_API ArchiveCheck checkArchive(const Archive& archive,
                                                const std::function<void(const Entry&, EntryFault)>& damaged = {},
                                                const std::function<bool(const Entry&)>& select = {});

} // namespace tre
