#include <algorithm>
#include <utility>

#include "archive/read/ArchiveState.h"
#include "support/ByteBlock.h"
#include "tre/Archive.h"

namespace tre {

namespace detail {

// The records last read, packed as in the file.
struct WalkWindow {
    ByteBlock block;
    std::int32_t first = 0;
    std::int32_t records = 0;
};

} // namespace detail

namespace {

// records read at once: 1 MiB
constexpr std::int32_t recordsPerRead = (1 << 20) / Archive::recordSize;

} // namespace

EntryWalk::EntryWalk(const Archive& archive)
    : archive_(detail::ArchiveAccess::state(archive)), window_(std::make_unique<detail::WalkWindow>())
{
}
EntryWalk::EntryWalk(EntryWalk&& other) noexcept = default;
EntryWalk& EntryWalk::operator=(EntryWalk&& other) noexcept = default;
EntryWalk::~EntryWalk() = default;

bool EntryWalk::next(Entry& entry)
{
    const std::int32_t count = archive_->entryCount;
    const std::int32_t number = recordsRead_;
    if (error_ || number >= count) {
        return false;
    }
    detail::WalkWindow& window = *window_;
    if (number - window.first >= window.records) {
        if (window.block.size() == 0) {
            // no larger than the directory: a small archive needs no megabyte
            window.block = ByteBlock(static_cast<std::size_t>(std::min(recordsPerRead, count) * Archive::recordSize));
        }
        const std::int64_t wanted = std::min(recordsPerRead, count - number) * Archive::recordSize;
        const IoResult read = archive_->source->readAt(Archive::headerSize + std::int64_t{number} * Archive::recordSize,
                                                       window.block.data(), wanted);
        // the file may have shrunk since it was opened: complete records only
        window.first = number;
        window.records = static_cast<std::int32_t>(read.bytes / Archive::recordSize);
        if (window.records == 0) {
            error_ = read.error ? read.error : make_error_code(Errc::recordMissing);
            return false;
        }
    }
    const auto* record = reinterpret_cast<const unsigned char*>(window.block.data()) +
                         static_cast<std::size_t>(number - window.first) * Archive::recordSize;
    detail::decodeRecord(record, number, entry);
    ++recordsRead_;
    return true;
}

} // namespace tre
