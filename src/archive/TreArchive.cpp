#include "archive/TreArchive.h"

#include <algorithm>
#include <cstring>
#include <utility>

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
    file_ = File();
    window_ = ByteBlock();
    windowFirst_ = 0;
    windowRecords_ = 0;
    loneNumber_ = -1;
    count_ = 0;
    claimedCount_ = 0;
    fileSize_ = 0;
    headerWord_ = headerSize;
}

TreArchive::LoadResult TreArchive::load(const String& path)
{
    reset();
    File file = File::openForReadingCreating(path);
    // the open file is checked, not the path, so nothing can be swapped in between
    if (!file.isOpen() || !file.isRegular()) {
        return LoadResult::cannotOpen;
    }
    file_ = std::move(file);
    fileSize_ = file_.size();
    std::array<unsigned char, headerSize> header{};
    if (file_.readAt(0, reinterpret_cast<char*>(header.data()), headerSize) < headerSize) {
        return LoadResult::loaded;
    }
    claimedCount_ = decodeInt32(header.data());
    headerWord_ = decodeInt32(header.data() + 4);
    count_ = static_cast<std::int32_t>(recordsThatFit(claimedCount_, fileSize_));
    return LoadResult::loaded;
}

const unsigned char* TreArchive::record(std::int32_t entryNumber, Access access) const
{
    if (entryNumber < 0 || entryNumber >= count_) {
        return nullptr;
    }
    const std::int64_t position = headerSize + std::int64_t{entryNumber} * recordSize;
    if (entryNumber >= windowFirst_ && entryNumber - windowFirst_ < windowRecords_) {
        return reinterpret_cast<const unsigned char*>(window_.data()) +
               static_cast<std::size_t>(entryNumber - windowFirst_) * recordSize;
    }
    if (access == Access::lookup) {
        if (entryNumber != loneNumber_) {
            const bool read = file_.readAt(position, reinterpret_cast<char*>(lone_.data()), recordSize) == recordSize;
            loneNumber_ = read ? entryNumber : -1;
        }
        return loneNumber_ == entryNumber ? lone_.data() : nullptr;
    }
    if (window_.size() == 0) {
        // no larger than the directory: a small archive needs no megabyte
        window_ = ByteBlock(static_cast<std::size_t>(std::min(recordsPerRead, count_) * recordSize));
    }
    const std::int64_t wanted = std::min<std::int64_t>(recordsPerRead, count_ - entryNumber) * recordSize;
    // the file may have shrunk since it was loaded: keep complete records only
    windowFirst_ = entryNumber;
    windowRecords_ = static_cast<std::int32_t>(file_.readAt(position, window_.data(), wanted) / recordSize);
    return windowRecords_ > 0 ? reinterpret_cast<const unsigned char*>(window_.data()) : nullptr;
}

namespace {

void decodeRecord(const unsigned char* bytes, TreEntry& entry)
{
    entry.prefixByte = bytes[0];
    std::memcpy(entry.name.data(), bytes + nameAt, TreEntry::nameFieldSize);
    entry.offset = decodeInt32(bytes + offsetAt);
    entry.size = decodeInt32(bytes + sizeAt);
}

} // namespace

bool TreArchive::readRecord(std::int32_t entryNumber, TreEntry& entry) const
{
    const unsigned char* bytes = record(entryNumber, Access::walk);
    if (bytes != nullptr) {
        decodeRecord(bytes, entry);
    }
    return bytes != nullptr;
}

std::optional<TreEntry> TreArchive::entry(std::int32_t entryNumber) const
{
    const unsigned char* bytes = record(entryNumber, Access::lookup);
    if (bytes == nullptr) {
        return std::nullopt;
    }
    TreEntry entry{};
    decodeRecord(bytes, entry);
    return entry;
}

String TreArchive::entryName(std::int32_t entryNumber) const
{
    const std::optional<TreEntry> found = entry(entryNumber);
    if (!found) {
        return {};
    }
    std::array<char, TreEntry::nameFieldSize + 1> text{};
    std::memcpy(text.data(), found->name.data(), TreEntry::nameFieldSize);
    return String(text.data());
}

std::int32_t TreArchive::entryOffset(std::int32_t entryNumber) const
{
    const std::optional<TreEntry> found = entry(entryNumber);
    return found ? found->offset : 0;
}

std::int32_t TreArchive::entrySize(std::int32_t entryNumber) const
{
    const std::optional<TreEntry> found = entry(entryNumber);
    return found ? found->size : 0;
}

std::int32_t TreArchive::readEntry(std::int32_t entryNumber, std::span<char> buffer, std::int32_t from) const
{
    const std::optional<TreEntry> found = entry(entryNumber);
    if (!found || found->offset < 0 || from < 0 || from >= found->size) {
        return 0;
    }
    const std::int64_t wanted = std::min<std::int64_t>(found->size - from, static_cast<std::int64_t>(buffer.size()));
    return static_cast<std::int32_t>(file_.readAt(std::int64_t{found->offset} + from, buffer.data(), wanted));
}

bool TreArchive::isArchiveFile(const String& path) const { return file_.isOpen() && file_.isSameFileAs(path); }
