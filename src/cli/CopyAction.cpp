#include "cli/CopyAction.h"

#include <optional>
#include <span>

#include "cli/StreamSink.h"
#include "support/Console.h"
#include "tre/OutputFile.h"

void reportCopy(Report& report, const tre::Entry& entry, std::string_view path)
{
    report.note("Outputting file (", report.shown(entry.name()), ") to file (", path, ").");
    report.note("Filesize is ", entry.size, ", and file offset is ", entry.offset, ".");
}

bool reportCopyResult(Report& report, const tre::Entry& entry, const Copied& copied, std::string_view path)
{
    const bool readFailed = copied.failure && copied.failure->step == tre::Step::readArchive;
    if (copied.failure && !readFailed) {
        report.failBecause(copied.failure->code, "Cannot write output file (", path, ")");
    } else if (entry.size < 0) {
        report.fail("Entry ", entry.number, " has an invalid size (", entry.size, ")");
    } else if (readFailed || copied.bytes < entry.size) {
        // at the end of the file there is no reason to give
        report.failBecause(readFailed ? copied.failure->code : std::error_code(), "Read only ", copied.bytes, " of ",
                           entry.size, " bytes of entry ", entry.number);
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

// Copies the entry to `sink`, counting what it delivered.
Copied copyCounted(const tre::Archive& archive, const tre::Entry& entry, const tre::ByteSink& sink)
{
    Copied copied;
    const tre::Result<std::int64_t> result = archive.copy(entry, [&](std::span<const char> bytes) {
        const std::error_code error = sink(bytes);
        copied.bytes += error ? 0 : std::ssize(bytes);
        return error;
    });
    if (!result) {
        copied.failure = result.error();
    }
    return copied;
}

} // namespace

void printEntry(Report& report, const tre::Archive& archive, std::int32_t entryNumber, std::ostream& out)
{
    const std::optional<tre::Entry> entry = lookUp(report, archive, entryNumber, true);
    if (!entry) {
        return;
    }
    const Copied copied = copyCounted(archive, *entry, streamSink(out));
    // a standard output that failed is the driver's to report
    const bool outputFailed = copied.failure && copied.failure->step == tre::Step::writeFile;
    if (!outputFailed && out.flush()) {
        reportCopyResult(report, *entry, copied, {});
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
    tre::Result<tre::OutputFile> output = tre::OutputFile::create(toNativePath(outputPath.c_str()), &archive);
    if (!output) {
        reportCopyResult(report, *entry, {0, output.error()}, outputPath.c_str());
        return;
    }
    Copied copied = copyCounted(archive, *entry, [&](std::span<const char> bytes) {
        const tre::Result<void> written = output->write(bytes);
        return written ? std::error_code() : written.error().code;
    });
    // a new file meant to replace the archive takes its place only when
    // written whole, or cut short by the archive (it then holds the bytes
    // read); a file written in place holds what was written
    if (!copied.failure || copied.failure->step == tre::Step::readArchive) {
        if (const tre::Result<void> committed = output->commit(); !committed) {
            copied.failure = committed.error();
        }
    }
    reportCopyResult(report, *entry, copied, outputPath.c_str());
}
