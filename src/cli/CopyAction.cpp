#include "cli/CopyAction.h"

#include "support/Console.h"

void reportCopy(Report& report, const tre::Entry& entry, std::string_view path)
{
    report.note("Outputting file (", report.shown(entry.name()), ") to file (", path, ").");
    report.note("Filesize is ", entry.size, ", and file offset is ", entry.offset, ".");
}

bool reportCopyResult(Report& report, const tre::Entry& entry, const tre::CopyResult& copy, std::string_view path)
{
    if (copy.writeError) {
        report.failBecause(copy.writeError, "Cannot write output file (", path, ")");
    } else if (entry.size < 0) {
        report.fail("Entry ", entry.number, " has an invalid size (", entry.size, ")");
    } else if (copy.bytes < entry.size) {
        // at the end of the file there is no reason to give
        report.failBecause(copy.readError, "Read only ", copy.bytes, " of ", entry.size, " bytes of entry ",
                           entry.number);
    } else {
        return true;
    }
    return false;
}

void copyEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, const String& outputPath)
{
    if (entryNumber < 0 || entryNumber >= archive.entryCount()) {
        report.say("Invalid TRE_Filenum.");
        return;
    }
    const tre::Result<tre::Entry> entry = archive.entry(entryNumber);
    if (!entry) {
        report.fail("Cannot read the directory record of entry ", entryNumber);
        return;
    }
    // the report comes before any data is read, so it stands even when the copy fails
    reportCopy(report, *entry, outputPath.c_str());
    const tre::CopyResult copy = archive.copyToFile(*entry, toNativePath(outputPath.c_str()));
    reportCopyResult(report, *entry, copy, outputPath.c_str());
}
