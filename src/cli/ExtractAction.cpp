#include "cli/ExtractAction.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CopyAction.h"
#include "support/Console.h"
#include "tre/FolderExtraction.h"

namespace {

#if defined(_WIN32)
constexpr char pathSeparator = '\\';
constexpr std::string_view separators = "/\\";
#else
constexpr char pathSeparator = '/';
constexpr std::string_view separators = "/";
#endif

// The path of an entry below the folder, as messages show it: the folder as
// given, a separator unless it ends in one, then the components,
// terminal-safe.
std::string shownPath(const Report& report, const String& folder, std::span<const std::string_view> components)
{
    std::string path = folder.c_str();
    if (path.empty() || separators.find(path.back()) == std::string_view::npos) {
        path += pathSeparator;
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            path += pathSeparator;
        }
        path += report.shown(components[i]);
    }
    return path;
}

struct Tally {
    std::int64_t selected = 0;
    std::int64_t extracted = 0;
    std::int64_t bytes = 0;
};

void extractOne(Report& report, tre::FolderExtraction& folder, const String& folderPath, const tre::Entry& entry,
                Tally& tally, ProgressLine& progress)
{
    // as with -o, the report stands before anything is copied
    struct Reporting {
        Report& report;
        const String& folderPath;
        const tre::Entry& entry;
        std::string path;
    } reporting{report, folderPath, entry, {}};
    // (one pointer captured: the callback needs no memory of its own)
    const tre::ExtractedEntry result =
        folder.extract(entry, [context = &reporting](const tre::ExtractedEntry& created) {
            context->path = shownPath(context->report, context->folderPath, created.path);
            reportCopy(context->report, context->entry, context->path);
        });
    const std::string& path = reporting.path;
    switch (result.outcome) {
    case tre::Outcome::notAttempted:
        return;
    case tre::Outcome::unsafeName:
        report.fail("Entry ", entry.number, " has an unsafe name (", report.shown(entry.name()), ")");
        return;
    case tre::Outcome::throughLink:
        report.fail("Entry ", entry.number, " would be written through a link (",
                    shownPath(report, folderPath, result.path), ")");
        return;
    case tre::Outcome::wouldOverwriteArchive:
        report.fail("Entry ", entry.number, " would overwrite the archive (",
                    shownPath(report, folderPath, result.path), ")");
        return;
    case tre::Outcome::failed:
        if (result.error.step == tre::Step::readArchive) {
            reportCopyResult(report, entry, {result.bytes, result.error}, path);
        } else {
            report.failBecause(result.error.code, "Cannot write output file (", path, ")");
        }
        return;
    case tre::Outcome::written:
        if (reportCopyResult(report, entry, {result.bytes, std::nullopt}, path)) {
            ++tally.extracted;
            tally.bytes += entry.size;
            progress.update(tally.extracted, tally.bytes);
        }
        return;
    }
}

} // namespace

void extractToFolder(Report& report, const tre::Archive& archive, const String& folderPath, const Selection& selection,
                     ProgressLine& progress)
{
    tre::Result<tre::FolderExtraction> folder = tre::FolderExtraction::open(archive, toNativePath(folderPath.c_str()));
    if (!folder) {
        // nothing is extracted, but the last line still counts what was selected
        report.failBecause(folder.error().code, "Cannot create folder (", folderPath, ")");
    }
    report.holdLines(true);
    report.setProgress(&progress);
    Tally tally;
    bool stopped = !folder;
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        if (!selection.includes(entry)) {
            continue;
        }
        ++tally.selected;
        // once the disk is full or standard output has failed, the entries left are only counted
        if (!stopped) {
            extractOne(report, *folder, folderPath, entry, tally, progress);
            stopped = folder->outOfSpace() || !report.good();
        }
    }
    report.shortDirectory(archive, walk);
    progress.erase();
    report.note("Extracted ", tally.extracted, " of ", tally.selected, " entries (", tally.bytes, " bytes) to folder (",
                folderPath, ").");
    report.holdLines(false);
    report.setProgress(nullptr);
}
