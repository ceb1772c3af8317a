#include "cli/ArchiveTest.h"

#include "cli/EntryWalk.h"
#include "cli/Output.h"

namespace {

// The line for a header or directory that lacks bytes; false when whole.
bool reportDamagedDirectory(std::ostream& out, const TreArchive& archive)
{
    if (archive.fileSize() > 0 && archive.fileSize() < TreArchive::headerSize) {
        writeLine(out, "The archive ends inside its header (", archive.fileSize(), " bytes).");
        return true;
    }
    if (archive.claimedCount() > archive.entryCount()) {
        writeLine(out, "The directory lists ", archive.claimedCount(), " entries, but the archive holds only ",
                  archive.entryCount(), ".");
        return true;
    }
    return false;
}

// The line for an entry whose data cannot be read whole; false when whole.
bool reportDamagedEntry(std::ostream& out, const TreArchive& archive, std::int32_t entryNumber, const TreEntry& entry,
                        bool terminal)
{
    const auto name = [&] { return shownName(entry.nameText(), terminal); };
    if (entry.size < 0) {
        writeLine(out, "Entry ", entryNumber, " (", name(), ") has an invalid size (", entry.size, ").");
        return true;
    }
    if (entry.size == 0) {
        return false; // nothing to read, so nothing can be missing
    }
    if (entry.offset < 0) {
        writeLine(out, "Entry ", entryNumber, " (", name(), ") has an invalid offset (", entry.offset, ").");
        return true;
    }
    if (entry.size > archive.fileSize() - entry.offset) {
        writeLine(out, "Entry ", entryNumber, " (", name(), ") runs past the end of the archive.");
        return true;
    }
    return false;
}

} // namespace

bool testArchive(std::ostream& out, const TreArchive& archive, const Selection& selection, bool terminal)
{
    const bool directoryDamaged = reportDamagedDirectory(out, archive);
    std::int32_t tested = 0;
    std::int32_t damaged = 0;
    const std::int32_t recordsRead =
        forEachSelectedEntry(archive, &selection, [&](std::int32_t entryNumber, const TreEntry& entry) {
            ++tested;
            damaged += reportDamagedEntry(out, archive, entryNumber, entry, terminal) ? 1 : 0;
            return out.good();
        });
    if (!reportShortDirectory(out, archive, recordsRead)) {
        return false;
    }
    const bool whole = damaged == 0 && !directoryDamaged;
    writeLine(out, whole ? "" : "Exit Message: ", "Tested ", tested, " entries: ", damaged, " damaged.");
    return whole;
}
