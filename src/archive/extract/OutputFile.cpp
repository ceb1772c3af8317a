#include "tre/OutputFile.h"

#include <utility>

#include "archive/read/ArchiveState.h"
#include "support/File.h"

namespace tre {

namespace detail {

struct OutputState {
    File file;                   // written in place
    ReplacementFile replacement; // or written beside the file it replaces
    bool replacing = false;
    std::shared_ptr<ArchiveState> kept;
};

} // namespace detail

namespace {

// Whether the open file, or where it cannot be opened for writing (a
// read-only archive), what the path leads to, is the file to keep.
bool isKeptFile(const File& opened, const std::filesystem::path& path, const detail::ArchiveState* kept)
{
    if (kept == nullptr || !kept->source->identity()) {
        return false;
    }
    const FileIdentity keep = *kept->source->identity();
    FileStatus status;
    if (opened.isOpen()) {
        return !opened.status(status) && status.identity == keep;
    }
    std::error_code ignored;
    const File probe = File::openForReading(path, ignored);
    return probe.isOpen() && !probe.status(status) && status.identity == keep;
}

} // namespace

OutputFile::OutputFile(std::unique_ptr<detail::OutputState> state) : state_(std::move(state)) {}
OutputFile::OutputFile(OutputFile&& other) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&& other) noexcept = default;
OutputFile::~OutputFile() = default;

Result<OutputFile> OutputFile::create(const std::filesystem::path& path, const Archive* keep)
{
    auto state = std::make_unique<detail::OutputState>();
    if (keep != nullptr) {
        state->kept = detail::ArchiveAccess::state(*keep);
    }
    // opened without emptying it, so that the archive is recognised in the
    // file itself before anything is lost
    std::error_code error;
    File file = File::openForWriting(path, error);
    if (isKeptFile(file, path, state->kept.get())) {
        file.close();
        state->replacement = ReplacementFile::create(path, error);
        state->replacing = true;
    } else if (!error) {
        FileStatus status;
        error = file.status(status);
        // A new file is empty already; truncating it anyway makes some file
        // systems (ext4) flush all that is then written at the close.
        if (!error && status.regular && status.size > 0) {
            error = file.truncate();
        }
        state->file = std::move(file);
    }
    if (error) {
        return Error{Step::createFile, error};
    }
    return OutputFile(std::move(state));
}

Result<void> OutputFile::write(std::span<const char> bytes)
{
    File& file = state_->replacing ? state_->replacement.file() : state_->file;
    if (const std::error_code error = file.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()))) {
        return Error{Step::writeFile, error};
    }
    return {};
}

Result<void> OutputFile::commit()
{
    if (!state_->replacing) {
        if (const std::error_code error = state_->file.close()) {
            return Error{Step::closeFile, error};
        }
        return {};
    }
    // The move unlinks the kept file's name, which changes its change time:
    // that is this process's own doing, not a change of the archive.
    const detail::Source& kept = *state_->kept->source;
    FileStatus before;
    const std::error_code unknown = kept.status(before);
    if (const std::error_code moved = state_->replacement.commit()) {
        return Error{Step::createFile, moved};
    }
    FileStatus after;
    if (!unknown && !kept.status(after)) {
        kept.acceptOwnChange(before, after);
    }
    return {};
}

} // namespace tre
