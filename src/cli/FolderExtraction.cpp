#include "cli/FolderExtraction.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/EntryPath.h"
#include "cli/EntryWalk.h"
#include "cli/Extraction.h"
#include "cli/Output.h"
#include "support/OutputTree.h"

namespace {

#if defined(_WIN32)
constexpr char pathSeparator = '\\';
constexpr std::string_view separators = "/\\";
#else
constexpr char pathSeparator = '/';
constexpr std::string_view separators = "/";
#endif

// The path of an entry below the folder: the folder as given, a separator
// unless it ends in one, then the components. `shown` is the same for
// messages, with the components terminal-safe.
struct EntryPathText {
    std::string real;
    std::string shown;
};

EntryPathText joinPath(const String& folder, const std::vector<std::string_view>& components, bool terminal)
{
    std::string base = folder.c_str();
    if (base.empty() || separators.find(base.back()) == std::string_view::npos) {
        base += pathSeparator;
    }
    EntryPathText path{base, base};
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            path.real += pathSeparator;
            path.shown += pathSeparator;
        }
        path.real += components[i];
        path.shown += shownName(components[i], terminal);
    }
    return path;
}

class FolderRun {
public:
    FolderRun(std::ostream& out, const TreArchive& archive, const String& folder, bool terminal, ProgressLine& progress)
        : out_(out), archive_(archive), folder_(folder), terminal_(terminal), progress_(progress)
    {
    }

    bool openFolder() { return tree_.open(folder_); }

    // False when the run must stop: the disk is full, or standard output failed.
    bool extract(std::int32_t entryNumber, const TreEntry& entry)
    {
        stopped_ = !extractOne(entryNumber, entry) || !out_.good();
        return !stopped_;
    }

    void countSelected() { ++selected_; }
    [[nodiscard]] bool failed() const { return failed_; }
    [[nodiscard]] bool stopped() const { return stopped_; }

    void finish()
    {
        progress_.erase();
        writeLine(out_, "Extracted ", extracted_, " of ", selected_, " entries (", bytes_, " bytes) to folder (",
                  folder_, ").");
    }

private:
    bool extractOne(std::int32_t entryNumber, const TreEntry& entry)
    {
        ++selected_;
        const std::optional<std::vector<std::string_view>> components =
            entryPathComponents(entry.nameText(), platformPathRules);
        if (!components) {
            fail("Exit Message: Entry ", entryNumber, " has an unsafe name (", shownName(entry.nameText(), terminal_),
                 ").");
            return true;
        }
        const EntryPathText path = joinPath(folder_, *components, terminal_);
        if (archive_.isArchiveFile(String(path.real.c_str()))) {
            fail("Exit Message: Entry ", entryNumber, " would overwrite the archive (", path.shown, ").");
            return true;
        }
        say("Outputting file (", shownName(entry.nameText(), terminal_), ") to file (", path.shown, ").");
        say("Filesize is ", entry.size, ", and file offset is ", entry.offset, ".");
        File file;
        const OutputTree::Result created = tree_.createFile(*components, file);
        if (created == OutputTree::Result::throughLink) {
            fail("Exit Message: Entry ", entryNumber, " would be written through a link (", path.shown, ").");
            return true;
        }
        if (created != OutputTree::Result::created) {
            fail("Exit Message: Cannot write output file (", path.shown, ").");
            return created != OutputTree::Result::outOfSpace;
        }
        CopyResult copy = copyEntryData(file, archive_, entryNumber, entry.size);
        copy.written = file.close() && copy.written;
        if (!copy.written) {
            fail("Exit Message: Cannot write output file (", path.shown, ").");
            return !file.isOutOfSpace();
        }
        if (entry.size < 0) {
            fail("Exit Message: Entry ", entryNumber, " has an invalid size (", entry.size, ").");
        } else if (copy.bytesRead < entry.size) {
            fail("Exit Message: Read only ", copy.bytesRead, " of ", entry.size, " bytes of entry ", entryNumber, ".");
        } else {
            ++extracted_;
            bytes_ += entry.size;
        }
        progress_.update(extracted_, bytes_);
        return true;
    }

    template <typename... Pieces> void say(const Pieces&... pieces)
    {
        progress_.erase();
        writeLine(out_, pieces...);
    }

    template <typename... Pieces> void fail(const Pieces&... pieces)
    {
        failed_ = true;
        say(pieces...);
    }

    std::ostream& out_;
    const TreArchive& archive_;
    const String& folder_;
    bool terminal_;
    ProgressLine& progress_;
    OutputTree tree_;
    std::int64_t selected_ = 0;
    std::int64_t extracted_ = 0;
    std::int64_t bytes_ = 0;
    bool failed_ = false;
    bool stopped_ = false;
};

} // namespace

bool extractToFolder(std::ostream& out, const TreArchive& archive, const String& folder, const Selection& selection,
                     bool terminal, ProgressLine& progress)
{
    FolderRun run(out, archive, folder, terminal, progress);
    bool complete = true;
    std::int32_t recordsRead = 0;
    if (run.openFolder()) {
        recordsRead = forEachSelectedEntry(archive, &selection, [&](std::int32_t entryNumber, const TreEntry& entry) {
            return run.extract(entryNumber, entry);
        });
    } else {
        writeLine(out, "Exit Message: Cannot create folder (", folder, ").");
        complete = false;
        // nothing is extracted, but the last line still counts what was selected
        recordsRead = forEachSelectedEntry(archive, &selection, [&](std::int32_t /*entryNumber*/, const TreEntry&) {
            run.countSelected();
            return true;
        });
    }
    if (!run.stopped()) {
        complete = reportShortDirectory(out, archive, recordsRead) && complete;
    }
    run.finish();
    return complete && !run.failed();
}
