#include "archive/TreArchive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/File.h"

namespace {

constexpr std::size_t nameAt = 1;
constexpr std::size_t offsetAt = nameAt + TreEntry::nameFieldSize;
constexpr std::size_t sizeAt = offsetAt + 4;

std::int32_t decodeInt32(const unsigned char* bytes)
{
    const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8U) |
                                (std::uint32_t{bytes[2]} << 16U) | (std::uint32_t{bytes[3]} << 24U);
    return static_cast<std::int32_t>(value);
}

// Records that the file can hold behind the header, whatever `count` claims.
std::int64_t recordsThatFit(std::int32_t count, std::int64_t fileSize)
{
    if (count <= 0 || fileSize <= TreArchive::headerSize) {
        return 0;
    }
    return std::min<std::int64_t>(count, (fileSize - TreArchive::headerSize) / TreArchive::recordSize);
}

} // namespace

TreArchive::TreArchive() { reset(); }

void TreArchive::reset()
{
    entries_ = ByteBlock();
    count_ = 0;
    headerWord_ = headerSize;
}

TreArchive::LoadResult TreArchive::load(String path)
{
    reset();
    archivePath_ = std::move(path);
    const File file = File::openForReadingCreating(archivePath_);
    if (!file.isOpen()) {
        return LoadResult::cannotOpen;
    }
    std::array<unsigned char, headerSize> header{};
    if (file.readAt(0, reinterpret_cast<char*>(header.data()), headerSize) < headerSize) {
        return LoadResult::loaded;
    }
    const std::int32_t claimedCount = decodeInt32(header.data());
    headerWord_ = decodeInt32(header.data() + 4);

    const std::int64_t records = recordsThatFit(claimedCount, file.size());
    if (records == 0) {
        return LoadResult::loaded;
    }
    // the whole directory in one read: no system call per record
    entries_ = ByteBlock(static_cast<std::size_t>(records * recordSize), ByteBlock::Pages::huge);
    const std::int64_t bytesRead = file.readAt(headerSize, entries_.data(), static_cast<std::int64_t>(entries_.size()));
    // the file may have shrunk since its size was taken: keep complete records only
    count_ = static_cast<std::int32_t>(bytesRead / recordSize);
    return LoadResult::loaded;
}

const unsigned char* TreArchive::record(std::int32_t entryNumber) const
{
    return reinterpret_cast<const unsigned char*>(entries_.data()) +
           static_cast<std::size_t>(entryNumber) * static_cast<std::size_t>(recordSize);
}

TreEntry TreArchive::entry(std::int32_t entryNumber) const
{
    const unsigned char* bytes = record(entryNumber);
    TreEntry entry{};
    entry.prefixByte = bytes[0];
    std::memcpy(entry.name.data(), bytes + nameAt, TreEntry::nameFieldSize);
    entry.offset = decodeInt32(bytes + offsetAt);
    entry.size = decodeInt32(bytes + sizeAt);
    return entry;
}

String TreArchive::entryName(std::int32_t entryNumber) const
{
    // a name that fills its field without a NUL is taken whole
    std::array<char, TreEntry::nameFieldSize + 1> text{};
    std::memcpy(text.data(), record(entryNumber) + nameAt, TreEntry::nameFieldSize);
    return String(text.data());
}

std::int32_t TreArchive::entryOffset(std::int32_t entryNumber) const
{
    return decodeInt32(record(entryNumber) + offsetAt);
}

std::int32_t TreArchive::entrySize(std::int32_t entryNumber) const { return decodeInt32(record(entryNumber) + sizeAt); }

std::int32_t TreArchive::entryBytesAvailable(std::int32_t entryNumber) const
{
    const std::int32_t offset = entryOffset(entryNumber);
    const std::int32_t size = entrySize(entryNumber);
    const File file = File::openForReadingCreating(archivePath_);
    const std::int64_t fileSize = file.isOpen() ? file.size() : 0;
    if (size <= 0 || offset < 0 || offset >= fileSize) {
        return 0;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(size, fileSize - offset));
}

std::int32_t TreArchive::readEntry(std::int32_t entryNumber, std::span<char> buffer, std::int32_t from) const
{
    const std::int32_t offset = entryOffset(entryNumber);
    const std::int32_t size = entrySize(entryNumber);
    const File file = File::openForReadingCreating(archivePath_);
    if (!file.isOpen() || offset < 0 || from < 0 || from >= size) {
        return 0;
    }
    const std::int64_t wanted = std::min<std::int64_t>(size - from, static_cast<std::int64_t>(buffer.size()));
    return static_cast<std::int32_t>(file.readAt(std::int64_t{offset} + from, buffer.data(), wanted));
}

bool TreArchive::isArchiveFile(const String& path) const { return isSameFile(path, archivePath_); }
