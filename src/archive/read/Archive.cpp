#include "tre/Archive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "archive/read/ArchiveState.h"
#include "support/ByteBlock.h"
#include "tre/Check.h"
#include "tre/OutputFile.h"

namespace tre {

namespace detail {

IoResult MemorySource::readAt(std::int64_t offset, char* buffer, std::int64_t length) const
{
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (offset < 0 || offset >= size || length <= 0) {
        return {};
    }
    const std::int64_t count = std::min(length, size - offset);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(count));
    return {count, {}};
}

Result<Archive> ArchiveAccess::fromSource(std::unique_ptr<Source> source)
{
    auto state = std::make_shared<ArchiveState>();
    state->source = std::move(source);
    state->size = state->source->opened().size;
    std::array<unsigned char, Archive::headerSize> header{};
    const IoResult read = state->source->readAt(0, reinterpret_cast<char*>(header.data()), Archive::headerSize);
    if (read.error) {
        return Error{Step::readArchive, read.error};
    }
    if (read.bytes == Archive::headerSize) {
        state->storedCount = decodeInt32(header.data());
        state->headerWord = decodeInt32(header.data() + 4);
        // records that the file can hold behind the header, whatever the count claims
        if (state->storedCount > 0 && state->size > Archive::headerSize) {
            state->entryCount = static_cast<std::int32_t>(
                std::min<std::int64_t>(state->storedCount, (state->size - Archive::headerSize) / Archive::recordSize));
        }
    }
    return Archive(std::move(state));
}

// Decodes records as they lie in the file; never a struct cast over bytes.
std::int32_t decodeInt32(const unsigned char* bytes)
{
    const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8U) |
                                (std::uint32_t{bytes[2]} << 16U) | (std::uint32_t{bytes[3]} << 24U);
    return static_cast<std::int32_t>(value);
}

void decodeRecord(const unsigned char* bytes, std::int32_t number, Entry& entry)
{
    constexpr std::size_t nameAt = 1;
    constexpr std::size_t offsetAt = nameAt + Entry::nameFieldSize;
    constexpr std::size_t sizeAt = offsetAt + 4;
    entry.number = number;
    entry.prefixByte = bytes[0];
    std::memcpy(entry.nameField.data(), bytes + nameAt, Entry::nameFieldSize);
    entry.offset = decodeInt32(bytes + offsetAt);
    entry.size = decodeInt32(bytes + sizeAt);
}

} // namespace detail

namespace {

// The entry's whole data into a container of bytes: only once the file is
// known to hold it, so no size claimed makes anything be allocated.
template <typename Bytes> Result<Bytes> readWhole(const Archive& archive, const Entry& entry)
{
    const EntryFault fault = checkEntry(archive, entry);
    if (fault == EntryFault::invalidSize || fault == EntryFault::invalidOffset) {
        return Error{Step::readArchive, Errc::invalidEntry};
    }
    if (fault == EntryFault::runsPastEnd) {
        return Error{Step::readArchive, Errc::dataMissing};
    }
    Bytes bytes(static_cast<std::size_t>(entry.size), typename Bytes::value_type{});
    const Result<std::size_t> read =
        archive.read(entry, 0, std::span<char>(reinterpret_cast<char*>(bytes.data()), bytes.size()));
    if (!read) {
        return read.error();
    }
    if (*read < bytes.size()) {
        return Error{Step::readArchive, Errc::dataMissing}; // the file shrank since it was opened
    }
    return bytes;
}

} // namespace

Archive::Archive(std::shared_ptr<detail::ArchiveState> state) : state_(std::move(state)) {}
Archive::Archive(Archive&& other) noexcept = default;
Archive& Archive::operator=(Archive&& other) noexcept = default;
Archive::~Archive() = default;

Result<Archive> Archive::open(const std::filesystem::path& path)
{
    std::error_code error;
    File file = File::openForReading(path, error);
    FileStatus status;
    if (!error) {
        error = file.status(status);
    }
    // the open file is checked, not the path, so nothing can be swapped in between
    if (!error && status.folder) {
        error = std::make_error_code(std::errc::is_a_directory);
    } else if (!error && !status.regular) {
        error = Errc::notRegularFile;
    }
    if (error) {
        return Error{Step::openArchive, error};
    }
    return detail::ArchiveAccess::fromSource(std::make_unique<detail::FileSource>(std::move(file), status));
}

Archive Archive::fromBytes(std::string bytes)
{
    // a read from memory has no error to give
    return std::move(*detail::ArchiveAccess::fromSource(std::make_unique<detail::MemorySource>(std::move(bytes))));
}

Archive Archive::overBytes(std::span<const std::byte> bytes)
{
    return std::move(*detail::ArchiveAccess::fromSource(std::make_unique<detail::MemorySource>(bytes)));
}

std::int32_t Archive::storedCount() const { return state_->storedCount; }
std::int32_t Archive::headerWord() const { return state_->headerWord; }
std::int32_t Archive::entryCount() const { return state_->entryCount; }
std::int64_t Archive::size() const { return state_->size; }

Result<Entry> Archive::entry(std::int32_t number) const
{
    if (number < 0 || number >= state_->entryCount) {
        return Error{Step::readArchive, Errc::noSuchEntry};
    }
    std::array<unsigned char, recordSize> record{};
    const IoResult read = state_->source->readAt(headerSize + std::int64_t{number} * recordSize,
                                                 reinterpret_cast<char*>(record.data()), recordSize);
    if (read.error) {
        return Error{Step::readArchive, read.error};
    }
    if (read.bytes < recordSize) {
        return Error{Step::readArchive, Errc::recordMissing};
    }
    Entry found;
    detail::decodeRecord(record.data(), number, found);
    return found;
}

Result<Entry> Archive::findEntry(std::string_view name, Match which) const
{
    EntryWalk walk = entries();
    Entry entry;
    std::optional<Entry> found;
    while (walk.next(entry)) {
        if (entry.name() == name) {
            found = entry;
            if (which == Match::first) {
                return entry;
            }
        }
    }
    if (walk.error()) {
        return Error{Step::readArchive, walk.error()}; // a later entry might have had the name
    }
    if (!found) {
        return Error{Step::readArchive, Errc::noSuchEntry};
    }
    return *found;
}

std::int64_t Archive::storedBytes(const Entry& entry) const
{
    if (entry.size <= 0 || entry.offset < 0 || entry.offset >= state_->size) {
        return 0;
    }
    return std::min<std::int64_t>(entry.size, state_->size - entry.offset);
}

Result<std::size_t> Archive::read(const Entry& entry, std::int64_t from, std::span<char> buffer) const
{
    if (entry.offset < 0 || from < 0 || from >= entry.size || buffer.empty()) {
        return std::size_t{0};
    }
    const std::int64_t wanted = std::min<std::int64_t>(entry.size - from, std::ssize(buffer));
    const IoResult read = state_->source->readAt(entry.offset + from, buffer.data(), wanted);
    if (read.error) {
        return Error{Step::readArchive, read.error};
    }
    return static_cast<std::size_t>(read.bytes);
}

Result<std::vector<std::byte>> Archive::readBytes(const Entry& entry) const
{
    return readWhole<std::vector<std::byte>>(*this, entry);
}

Result<std::string> Archive::readString(const Entry& entry) const { return readWhole<std::string>(*this, entry); }

Result<std::int64_t> Archive::copy(const Entry& entry, const ByteSink& sink, std::span<char> buffer) const
{
    std::int64_t copied = 0;
    if (entry.size <= 0 || entry.offset < 0) {
        return copied;
    }
    // A copy streams through a buffer of at most this much, as copy tools
    // do: it stays in the processor's cache, and a gigabyte entry costs no
    // gigabyte of memory. Sized by the stored size alone, never by what the
    // file holds at the start (it may grow).
    constexpr std::int64_t copyBufferSize = std::int64_t{1} << 20;
    ByteBlock own;
    if (buffer.empty()) {
        own = ByteBlock(static_cast<std::size_t>(std::min<std::int64_t>(entry.size, copyBufferSize)));
        buffer = own.span();
    }
    while (copied < entry.size) {
        const std::int64_t wanted = std::min<std::int64_t>(entry.size - copied, std::ssize(buffer));
        const IoResult read = state_->source->readAt(entry.offset + copied, buffer.data(), wanted);
        if (read.bytes > 0) {
            if (const std::error_code refused = sink(buffer.first(static_cast<std::size_t>(read.bytes)))) {
                return Error{Step::writeFile, refused};
            }
            copied += read.bytes;
        }
        if (read.error) {
            return Error{Step::readArchive, read.error};
        }
        if (read.bytes < wanted) {
            break; // the file ends there
        }
    }
    return copied;
}

Result<std::int64_t> Archive::copyToFile(const Entry& entry, const std::filesystem::path& path) const
{
    Result<OutputFile> output = OutputFile::create(path, this);
    if (!output) {
        return output.error();
    }
    const Result<std::int64_t> copied = copy(entry, [&](std::span<const char> bytes) {
        const Result<void> written = output->write(bytes);
        return written ? std::error_code() : written.error().code;
    });
    // a new file meant to replace the archive takes its place only when
    // written whole; a file written in place holds what was written
    if (!copied) {
        return copied;
    }
    if (const Result<void> committed = output->commit(); !committed) {
        return committed.error();
    }
    return copied;
}

std::intptr_t Archive::nativeHandle() const { return state_->source->nativeHandle(); }

Result<bool> Archive::changedSinceOpened() const
{
    FileStatus now;
    if (const std::error_code error = state_->source->status(now)) {
        return Error{Step::readArchive, error};
    }
    return !now.sameStamp(state_->source->opened());
}

Result<bool> Archive::writtenSinceOpened() const
{
    FileStatus now;
    if (const std::error_code error = state_->source->status(now)) {
        return Error{Step::readArchive, error};
    }
    return !now.sameContentsStamp(state_->source->opened());
}

} // namespace tre
