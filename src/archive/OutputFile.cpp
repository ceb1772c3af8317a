#include "tre/OutputFile.h"

#include <utility>

#include "archive/Source.h"
#include "support/File.h"

namespace tre {

namespace detail {

struct OutputState {
    File file;                   // written in place
    ReplacementFile replacement; // or written beside the file it replaces
    bool replacing = false;
    const Source* kept = nullptr;
};

} // namespace detail

namespace {

// Whether the open file, or where it cannot be opened for writing (a
// read-only archive), what the path leads to, is the file to keep.
bool isKeptFile(const File& opened, const std::filesystem::path& path, const detail::Source* kept)
{
    if (kept == nullptr || !kept->identity()) {
        return false;
    }
    const FileIdentity keep = *kept->identity();
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
    state->kept = keep != nullptr ? &detail::ArchiveAccess::source(*keep) : nullptr;
    // opened without emptying it, so that the archive is recognised in the
    // file itself before anything is lost
    std::error_code error;
    File file = File::openForWriting(path, error);
    if (isKeptFile(file, path, state->kept)) {
        file.close();
        state->replacement = ReplacementFile::create(path, error);
        state->replacing = true;
    } else if (!error) {
        FileStatus status;
        error = file.status(status);
        if (!error && status.regular) {
            error = file.truncate();
        }
        state->file = std::move(file);
    }
    if (error) {
        return Error{Step::createFile, error};
    }
    return OutputFile(std::move(state));
}

std::error_code OutputFile::write(std::span<const char> bytes)
{
    File& file = state_->replacing ? state_->replacement.file() : state_->file;
    return file.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::error_code OutputFile::commit()
{
    if (!state_->replacing) {
        return state_->file.close();
    }
    // The move unlinks the kept file's name, which changes its change time:
    // that is this process's own doing, not a change of the archive.
    FileStatus before;
    const std::error_code unknown = state_->kept->status(before);
    const std::error_code moved = state_->replacement.commit();
    FileStatus after;
    if (!moved && !unknown && !state_->kept->status(after)) {
        state_->kept->acceptOwnChange(before, after);
    }
    return moved;
}

} // namespace tre
