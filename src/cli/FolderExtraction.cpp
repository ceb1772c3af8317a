#include "cli/FolderExtraction.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/EntryPath.h"
#include "cli/EntryWalk.h"
#include "cli/Extraction.h"
#include "cli/Output.h"
#include "support/ByteBlock.h"
#include "support/OutputTree.h"

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
std::string shownPath(const String& folder, const std::vector<std::string_view>& components, bool terminal)
{
    std::string path = folder.c_str();
    if (path.empty() || separators.find(path.back()) == std::string_view::npos) {
        path += pathSeparator;
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            path += pathSeparator;
        }
        path += shownName(components[i], terminal);
    }
    return path;
}

class FolderRun {
public:
    FolderRun(std::ostream& out, const TreArchive& archive, const String& folder, bool terminal, ProgressLine& progress)
        : out_(out), archive_(archive), archiveIdentity_(archive.fileIdentity()), folder_(folder), terminal_(terminal),
          progress_(progress)
    {
    }

    // A folder that cannot be opened stops the run before it starts.
    bool openFolder()
    {
        stopped_ = !tree_.open(folder_);
        return !stopped_;
    }

    // Once the disk is full or standard output has failed, the entries left
    // are only counted, for the last line.
    void extract(std::int32_t entryNumber, const TreEntry& entry)
    {
        ++selected_;
        if (!stopped_) {
            stopped_ = !extractOne(entryNumber, entry) || !out_.good();
        }
    }

    [[nodiscard]] bool failed() const { return failed_; }

    void finish()
    {
        progress_.erase();
        writeLine(out_, "Extracted ", extracted_, " of ", selected_, " entries (", bytes_, " bytes) to folder (",
                  folder_, ").");
    }

private:
    // False when the run must stop: the disk is full.
    bool extractOne(std::int32_t entryNumber, const TreEntry& entry)
    {
        const std::optional<std::vector<std::string_view>> components =
            entryPathComponents(entry.nameText(), platformPathRules);
        if (!components) {
            fail("Exit Message: Entry ", entryNumber, " has an unsafe name (", shownName(entry.nameText(), terminal_),
                 ").");
            return true;
        }
        const std::string path = shownPath(folder_, *components, terminal_);
        File file;
        const OutputTree::Result created = tree_.createFile(*components, file, archiveIdentity_);
        if (created == OutputTree::Result::throughLink) {
            fail("Exit Message: Entry ", entryNumber, " would be written through a link (", path, ").");
            return true;
        }
        if (created == OutputTree::Result::kept) {
            fail("Exit Message: Entry ", entryNumber, " would overwrite the archive (", path, ").");
            return true;
        }
        // as with -o, the report stands before anything is copied
        say(copyReport(shownName(entry.nameText(), terminal_), path, entry));
        CopyResult copy{false, 0};
        if (created == OutputTree::Result::created) {
            copy = copyEntryData(file, archive_, entryNumber, entry.size, bufferFor(entry.size));
            copy.written = file.close() && copy.written;
        }
        if (const std::optional<std::string> failure = copyFailure(entryNumber, entry, copy, path)) {
            fail(*failure);
            // a full disk ends the run
            return created != OutputTree::Result::outOfSpace && !file.isOutOfSpace();
        }
        ++extracted_;
        bytes_ += entry.size;
        progress_.update(extracted_, bytes_);
        return true;
    }

    // One copy buffer serves every entry, grown as larger ones come, up to
    // the size a copy streams through.
    std::span<char> bufferFor(std::int32_t size)
    {
        const auto needed = std::min(static_cast<std::size_t>(std::max(size, 0)), copyBufferSize);
        if (buffer_.size() < needed) {
            buffer_ = ByteBlock(needed);
        }
        return buffer_.span();
    }

    // A hundred thousand entries make two hundred thousand lines: on a
    // terminal each is shown at once, elsewhere they are written in blocks
    // (a flush per line took a third of the time of a whole extraction).
    // The progress line makes way for lines bound for the same terminal.
    template <typename... Pieces> void say(const Pieces&... pieces)
    {
        if (terminal_) {
            progress_.erase();
        }
        (out_ << ... << pieces) << '\n';
        if (terminal_) {
            out_.flush();
        }
    }

    template <typename... Pieces> void fail(const Pieces&... pieces)
    {
        failed_ = true;
        say(pieces...);
    }

    std::ostream& out_;
    const TreArchive& archive_;
    const std::optional<FileIdentity> archiveIdentity_;
    const String& folder_;
    bool terminal_;
    ProgressLine& progress_;
    OutputTree tree_;
    ByteBlock buffer_;
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
    const bool opened = run.openFolder();
    if (!opened) {
        // nothing is extracted, but the last line still counts what was selected
        writeLine(out, "Exit Message: Cannot create folder (", folder, ").");
    }
    const std::int32_t recordsRead =
        forEachSelectedEntry(archive, &selection, [&](std::int32_t entryNumber, const TreEntry& entry) {
            run.extract(entryNumber, entry);
            return true;
        });
    const bool complete = reportShortDirectory(out, archive, recordsRead) && opened;
    run.finish();
    return complete && !run.failed();
}
