#include "tre/Check.h"

namespace tre {

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
    if (entry.size > archive.size() - entry.offset) {
        return EntryFault::runsPastEnd;
    }
    return EntryFault::none;
}

} // namespace tre
