#include "cli/CheckAction.h"

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

// The line for an entry whose data cannot be read whole.
void reportEntry(Report& report, const tre::Entry& entry, tre::EntryFault fault)
{
    const auto line = [&](const auto&... pieces) {
        report.say("Entry ", entry.number, " (", report.shown(entry.name()), ") ", pieces...);
    };
    switch (fault) {
    case tre::EntryFault::none:
        return;
    case tre::EntryFault::invalidSize:
        line("has an invalid size (", entry.size, ").");
        return;
    case tre::EntryFault::invalidOffset:
        line("has an invalid offset (", entry.offset, ").");
        return;
    case tre::EntryFault::runsPastEnd:
        line("runs past the end of the archive.");
        return;
    }
}

} // namespace

void checkArchive(Report& report, const tre::Archive& archive, const Selection& selection)
{
    const bool headerDamaged = reportHeader(report, archive);
    const tre::ArchiveCheck check = tre::checkArchive(
        archive, [&](const tre::Entry& entry, tre::EntryFault fault) { reportEntry(report, entry, fault); },
        [&](const tre::Entry& entry) { return selection.includes(entry); });
    if (!report.good()) {
        return; // a standard output that failed is the driver's to report
    }
    report.shortDirectory(archive.entryCount(), check.recordsRead, check.directoryError);
    if (check.damaged > 0 || headerDamaged || check.directoryError) {
        report.fail("Tested ", check.tested, " entries: ", check.damaged, " damaged");
    } else {
        report.note("Tested ", check.tested, " entries: ", check.damaged, " damaged.");
    }
}
