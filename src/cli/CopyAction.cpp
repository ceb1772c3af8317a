#include "cli/CopyAction.h"

#include <optional>
#include <span>

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

namespace {

// The entry that -o or -p asks for; none (and the reason said) when there is none.
std::optional<tre::Entry> lookUp(Report& report, const tre::Archive& archive, std::int32_t entryNumber,
                                 bool outOfRangeFails)
{
    if (entryNumber < 0 || entryNumber >= archive.entryCount()) {
        if (outOfRangeFails) {
            report.sayAndFail("Invalid TRE_Filenum.");
        } else {
            report.say("Invalid TRE_Filenum.");
        }
        return std::nullopt;
    }
    tre::Result<tre::Entry> entry = archive.entry(entryNumber);
    if (!entry) {
        report.fail("Cannot read the directory record of entry ", entryNumber);
        return std::nullopt;
    }
    return *entry;
}

} // namespace

void printEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, std::ostream& out)
{
    const std::optional<tre::Entry> entry = lookUp(report, archive, entryNumber, true);
    if (!entry) {
        return;
    }
    const tre::CopyResult copy = archive.copy(*entry, [&out](std::span<const char> bytes) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return out.good() ? std::error_code() : std::make_error_code(std::errc::io_error);
    });
    // a standard output that failed is the driver's to report
    if (!copy.writeError && out.flush()) {
        reportCopyResult(report, *entry, copy, {});
    }
}

void copyEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, const String& outputPath)
{
    const std::optional<tre::Entry> entry = lookUp(report, archive, entryNumber, false);
    if (!entry) {
        return;
    }
    // the report comes before any data is read, so it stands even when the copy fails
    reportCopy(report, *entry, outputPath.c_str());
    const tre::CopyResult copy = archive.copyToFile(*entry, toNativePath(outputPath.c_str()));
    reportCopyResult(report, *entry, copy, outputPath.c_str());
}
