#include "archive/TreArchive.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "support/File.h"

namespace {

std::int32_t decodeInt32(const unsigned char* bytes)
{
    const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8U) |
                                (std::uint32_t{bytes[2]} << 16U) | (std::uint32_t{bytes[3]} << 24U);
    return static_cast<std::int32_t>(value);
}

TreEntry decodeRecord(const unsigned char* record)
{
    TreEntry entry{};
    entry.prefixByte = record[0];
    std::memcpy(entry.name.data(), record + 1, TreEntry::nameFieldSize);
    entry.offset = decodeInt32(record + 1 + TreEntry::nameFieldSize);
    entry.size = decodeInt32(record + 1 + TreEntry::nameFieldSize + 4);
    return entry;
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
    entries_.reset();
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
    const auto directoryBytes = static_cast<std::size_t>(records * recordSize);
    auto directory = std::make_unique_for_overwrite<unsigned char[]>(directoryBytes);
    const std::int64_t bytesRead =
        file.readAt(headerSize, reinterpret_cast<char*>(directory.get()), static_cast<std::int64_t>(directoryBytes));
    // the file may have shrunk since its size was taken: keep complete records only
    const auto completeRecords = static_cast<std::size_t>(bytesRead / recordSize);

    entries_ = std::make_unique_for_overwrite<TreEntry[]>(completeRecords);
    for (std::size_t i = 0; i < completeRecords; ++i) {
        entries_[i] = decodeRecord(directory.get() + i * recordSize);
    }
    count_ = static_cast<std::int32_t>(completeRecords);
    return LoadResult::loaded;
}

String TreArchive::entryName(std::int32_t entryNumber) const
{
    // a name that fills its field without a NUL is taken whole
    std::array<char, TreEntry::nameFieldSize + 1> text{};
    std::memcpy(text.data(), entries_[entryNumber].name.data(), TreEntry::nameFieldSize);
    return String(text.data());
}

std::int32_t TreArchive::entryBytesAvailable(std::int32_t entryNumber) const
{
    const TreEntry& entry = entries_[entryNumber];
    const File file = File::openForReadingCreating(archivePath_);
    const std::int64_t fileSize = file.isOpen() ? file.size() : 0;
    if (entry.size <= 0 || entry.offset < 0 || entry.offset >= fileSize) {
        return 0;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(entry.size, fileSize - entry.offset));
}

std::int32_t TreArchive::readEntry(std::int32_t entryNumber, std::span<char> buffer) const
{
    const TreEntry& entry = entries_[entryNumber];
    const File file = File::openForReadingCreating(archivePath_);
    if (!file.isOpen() || entry.size <= 0) {
        return 0;
    }
    const std::int64_t wanted = std::min<std::int64_t>(entry.size, static_cast<std::int64_t>(buffer.size()));
    return static_cast<std::int32_t>(file.readAt(entry.offset, buffer.data(), wanted));
}
