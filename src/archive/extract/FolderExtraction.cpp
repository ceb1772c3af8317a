#include "tre/FolderExtraction.h"

#include <algorithm>
#include <utility>

#include "archive/extract/Placement.h"
#include "archive/read/ArchiveState.h"
#include "support/ByteBlock.h"
#include "support/OutputTree.h"
#include "tre/EntryPath.h"

namespace tre {

namespace detail {

struct ExtractionState {
    std::shared_ptr<ArchiveState> archive;
    std::optional<FileIdentity> archiveIdentity;
    OutputTree tree;
    // one copy buffer serves every entry, grown as larger ones come
    ByteBlock buffer;
    bool outOfSpace = false;

    std::span<char> bufferFor(std::int32_t size)
    {
        constexpr std::size_t largest = std::size_t{1} << 20;
        const auto needed = std::min(static_cast<std::size_t>(std::max(size, 0)), largest);
        if (buffer.size() < needed) {
            buffer = ByteBlock(needed);
        }
        return buffer.span();
    }

    // after a failure: once the disk is full, nothing more is attempted
    void noteFailure(const std::error_code& code) { outOfSpace = outOfSpace || isOutOfSpace(code); }
};

} // namespace detail

FolderExtraction::FolderExtraction(std::unique_ptr<detail::ExtractionState> state) : state_(std::move(state)) {}
FolderExtraction::FolderExtraction(FolderExtraction&& other) noexcept = default;
FolderExtraction& FolderExtraction::operator=(FolderExtraction&& other) noexcept = default;
FolderExtraction::~FolderExtraction() = default;

Result<FolderExtraction> FolderExtraction::open(const Archive& archive, const std::filesystem::path& folder)
{
    auto state = std::make_unique<detail::ExtractionState>();
    if (const std::error_code error = state->tree.open(folder)) {
        return Error{Step::createFolder, error};
    }
    state->archive = detail::ArchiveAccess::state(archive);
    state->archiveIdentity = state->archive->source->identity();
    return FolderExtraction(std::move(state));
}

bool FolderExtraction::outOfSpace() const { return state_->outOfSpace; }

const char* describe(Outcome outcome) noexcept
{
    switch (outcome) {
    case Outcome::written:
        return "written";
    case Outcome::unsafeName:
        return "unsafe name";
    case Outcome::throughLink:
        return "a link stands where a folder of its path should be";
    case Outcome::wouldOverwriteArchive:
        return "its path leads to the archive itself";
    case Outcome::failed:
        return "failed";
    case Outcome::notAttempted:
        return "not attempted: the disk is full";
    }
    return "unknown";
}

ExtractedEntry FolderExtraction::extract(const Entry& entry, const std::function<void(const ExtractedEntry&)>& created)
{
    detail::ExtractionState& state = *state_;
    if (state.outOfSpace) {
        return {};
    }
    File file;
    ExtractedEntry result = detail::placeEntry(entry, platformPathRules, [&](std::span<const std::string_view> path) {
        return state.tree.createFile(path, file, state.archiveIdentity);
    });
    if (result.outcome == Outcome::failed) {
        state.noteFailure(result.error.code);
    } else if (result.outcome != Outcome::written) {
        return result;
    }
    if (created) {
        created(result);
    }
    if (result.outcome != Outcome::written) {
        return result;
    }
    // (the archive's own copy, through the state it shares with the Archive)
    const Archive archive = detail::ArchiveAccess::view(state.archive);
    const Result<std::int64_t> copied = archive.copy(
        entry,
        [&](std::span<const char> bytes) {
            const std::error_code error = file.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
            result.bytes += error ? 0 : std::ssize(bytes);
            return error;
        },
        state.bufferFor(entry.size));
    const std::error_code closed = file.close();
    // a delayed write error (a quota, a network file system) surfaces at the
    // close, and counts as any other
    if (!copied || closed) {
        result.outcome = Outcome::failed;
        result.error = copied ? Error{Step::closeFile, closed} : copied.error();
        state.noteFailure(result.error.code);
    }
    return result;
}

} // namespace tre
