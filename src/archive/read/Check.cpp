#include "tre/Check.h"

namespace tre {

const char* describe(HeaderFault fault) noexcept
{
    switch (fault) {
    case HeaderFault::none:
        return "whole";
    case HeaderFault::cutShort:
        return "the archive ends inside its header";
    case HeaderFault::negativeCount:
        return "the header's entry count is negative";
    case HeaderFault::directoryCutShort:
        return "the archive holds fewer directory records than its header claims";
    }
    return "damaged";
}

const char* describe(EntryFault fault) noexcept
{
    switch (fault) {
    case EntryFault::none:
        return "whole";
    case EntryFault::invalidSize:
        return "has an invalid size";
    case EntryFault::invalidOffset:
        return "has an invalid offset";
    case EntryFault::runsPastEnd:
        return "runs past the end of the archive";
    }
    return "damaged";
}

HeaderFault checkHeader(const Archive& archive)
{
    if (archive.size() > 0 && archive.size() < Archive::headerSize) {
        return HeaderFault::cutShort;
    }
    if (archive.storedCount() < 0) {
        return HeaderFault::negativeCount;
    }
    if (archive.storedCount() > archive.entryCount()) {
        return HeaderFault::directoryCutShort;
    }
    return HeaderFault::none;
}

EntryFault checkEntry(const Archive& archive, const Entry& entry)
{
    if (entry.size < 0) {
        return EntryFault::invalidSize;
    }
    if (entry.size == 0) {
        return EntryFault::none; // nothing to read, so nothing can be missing
    }
    if (entry.offset < 0) {
        return EntryFault::invalidOffset;
    }
    // in 64 bits, and as a difference: offset + size may pass 2^31
    if (std::int64_t{entry.size} > archive.size() - entry.offset) {
        return EntryFault::runsPastEnd;
    }
    return EntryFault::none;
}

ArchiveCheck checkArchive(const Archive& archive, const std::function<void(const Entry&, EntryFault)>& damaged,
                          const std::function<bool(const Entry&)>& select)
{
    ArchiveCheck check;
    check.header = checkHeader(archive);
    EntryWalk walk = archive.entries();
    Entry entry;
    while (walk.next(entry)) {
        if (select && !select(entry)) {
            continue;
        }
        ++check.tested;
        if (const EntryFault fault = checkEntry(archive, entry); fault != EntryFault::none) {
            ++check.damaged;
            if (damaged) {
                damaged(entry, fault);
            }
        }
    }
    check.recordsRead = walk.recordsRead();
    check.directoryError = walk.error();
    return check;
}

} // namespace tre
