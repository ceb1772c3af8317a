#include "tre/Archive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "archive/Source.h"
#include "support/ByteBlock.h"
#include "tre/OutputFile.h"

namespace tre {

namespace detail {

IoResult MemorySource::readAt(std::int64_t offset, char* buffer, std::int64_t length) const
{
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (offset < 0 || offset >= size) {
        return {};
    }
    const std::int64_t count = std::min(length, size - offset);
    std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(count));
    return {count, {}};
}

Result<Archive> ArchiveAccess::fromSource(std::unique_ptr<Source> source)
{
    Archive archive(std::move(source));
    if (const std::error_code error = archive.readHeader()) {
        return Error{Step::readArchive, error};
    }
    return archive;
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

// Records that the file can hold behind the header, whatever the count claims.
std::int32_t recordsThatFit(std::int32_t count, std::int64_t fileSize)
{
    if (count <= 0 || fileSize <= Archive::headerSize) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(count, (fileSize - Archive::headerSize) / Archive::recordSize));
}

} // namespace

Archive::Archive(std::unique_ptr<detail::Source> source) : source_(std::move(source)) {}
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
    // bytes in memory cannot fail to be read
    return std::move(detail::ArchiveAccess::fromSource(std::make_unique<detail::MemorySource>(std::move(bytes))))
        .value();
}

std::error_code Archive::readHeader()
{
    size_ = source_->opened().size;
    std::array<unsigned char, headerSize> header{};
    const IoResult read = source_->readAt(0, reinterpret_cast<char*>(header.data()), headerSize);
    if (!read.error && read.bytes == headerSize) {
        storedCount_ = detail::decodeInt32(header.data());
        headerWord_ = detail::decodeInt32(header.data() + 4);
        entryCount_ = recordsThatFit(storedCount_, size_);
    }
    return read.error;
}

Result<Entry> Archive::entry(std::int32_t number) const
{
    if (number < 0 || number >= entryCount_) {
        return Error{Step::readArchive, Errc::noSuchEntry};
    }
    std::array<unsigned char, recordSize> record{};
    const IoResult read = source_->readAt(headerSize + std::int64_t{number} * recordSize,
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

std::int64_t Archive::storedBytes(const Entry& entry) const
{
    if (entry.size <= 0 || entry.offset < 0 || entry.offset >= size_) {
        return 0;
    }
    return std::min<std::int64_t>(entry.size, size_ - entry.offset);
}

Result<std::size_t> Archive::read(const Entry& entry, std::int64_t from, std::span<char> buffer) const
{
    if (entry.offset < 0 || from < 0 || from >= entry.size) {
        return std::size_t{0};
    }
    const std::int64_t wanted = std::min<std::int64_t>(entry.size - from, static_cast<std::int64_t>(buffer.size()));
    const IoResult read = source_->readAt(entry.offset + from, buffer.data(), wanted);
    if (read.error) {
        return Error{Step::readArchive, read.error};
    }
    return static_cast<std::size_t>(read.bytes);
}

CopyResult Archive::copy(const Entry& entry, const ByteSink& sink, std::span<char> buffer) const
{
    CopyResult copied;
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
    while (copied.bytes < entry.size) {
        const std::int64_t wanted = std::min<std::int64_t>(entry.size - copied.bytes, std::ssize(buffer));
        const IoResult read = source_->readAt(entry.offset + copied.bytes, buffer.data(), wanted);
        if (read.bytes > 0) {
            if (const std::error_code refused = sink(buffer.first(static_cast<std::size_t>(read.bytes)))) {
                copied.writeError = refused;
                break;
            }
            copied.bytes += read.bytes;
        }
        if (read.error || read.bytes < wanted) {
            copied.readError = read.error; // none where the file merely ends
            break;
        }
    }
    return copied;
}

CopyResult Archive::copyToFile(const Entry& entry, const std::filesystem::path& path) const
{
    Result<OutputFile> output = OutputFile::create(path, this);
    if (!output) {
        CopyResult failed;
        failed.writeError = output.error().code;
        return failed;
    }
    CopyResult copied = copy(entry, [&](std::span<const char> bytes) { return output->write(bytes); });
    // a file that could not be written whole never replaces another
    if (!copied.writeError) {
        copied.writeError = output->commit();
    }
    return copied;
}

std::intptr_t Archive::nativeHandle() const { return source_->nativeHandle(); }

Result<bool> Archive::changedSinceOpened() const
{
    FileStatus now;
    if (const std::error_code error = source_->status(now)) {
        return Error{Step::readArchive, error};
    }
    return !now.sameStamp(source_->opened());
}

} // namespace tre
