#include "cli/CheckAction.h"

#include "cli/ListAction.h"
#include "tre/Check.h"

namespace {

// The line for a damaged header or directory; false when whole.
bool reportHeader(Report& report, const tre::Archive& archive)
{
    switch (tre::checkHeader(archive)) {
    case tre::HeaderFault::none:
        return false;
    case tre::HeaderFault::cutShort:
        report.say("The archive ends inside its header (", archive.size(), " bytes).");
        break;
    case tre::HeaderFault::negativeCount:
        report.say("The header's entry count is negative (", archive.storedCount(), ").");
        break;
    case tre::HeaderFault::directoryCutShort:
        report.say("The directory lists ", archive.storedCount(), " entries, but the archive holds only ",
                   archive.entryCount(), ".");
        break;
    }
    return true;
}

// The line for an entry whose data cannot be read whole; false when whole.
bool reportEntry(Report& report, const tre::Archive& archive, const tre::Entry& entry)
{
    const auto line = [&](const auto&... pieces) {
        report.say("Entry ", entry.number, " (", report.shown(entry.name()), ") ", pieces...);
    };
    switch (tre::checkEntry(archive, entry)) {
    case tre::EntryFault::none:
        return false;
    case tre::EntryFault::invalidSize:
        line("has an invalid size (", entry.size, ").");
        break;
    case tre::EntryFault::invalidOffset:
        line("has an invalid offset (", entry.offset, ").");
        break;
    case tre::EntryFault::runsPastEnd:
        line("runs past the end of the archive.");
        break;
    }
    return true;
}

} // namespace

void checkArchive(Report& report, const tre::Archive& archive, const Selection& selection)
{
    const bool headerDamaged = reportHeader(report, archive);
    std::int32_t tested = 0;
    std::int32_t damaged = 0;
    tre::EntryWalk walk = archive.entries();
    for (const tre::Entry& entry : walk) {
        if (selection.includes(entry)) {
            ++tested;
            damaged += reportEntry(report, archive, entry) ? 1 : 0;
            if (!report.good()) {
                return;
            }
        }
    }
    reportShortDirectory(report, archive, walk);
    if (damaged > 0 || headerDamaged || walk.error()) {
        report.fail("Tested ", tested, " entries: ", damaged, " damaged");
    } else {
        report.note("Tested ", tested, " entries: ", damaged, " damaged.");
    }
}
