#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "archive/write/PlanData.h"
#include "support/ByteBlock.h"
#include "support/File.h"
#include "tre/Writer.h"

namespace tre {

namespace {

using detail::PlannedEntry;
using detail::SourceKind;

// Where the archive's bytes go: a file, or a caller's sink.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    virtual ~Output() = default;

    [[nodiscard]] virtual std::error_code write(std::span<const char> bytes) = 0;
    // `length` bytes of `source` from `offset` on; fewer where it ends.
    [[nodiscard]] virtual CopiedBytes copyFrom(const File& source, std::int64_t offset, std::int64_t length,
                                               std::span<char> buffer)
    {
        return copyThrough(source, offset, length, buffer,
                           [this](std::span<const char> bytes) { return write(bytes); });
    }
};

class FileOutput final : public Output {
public:
    explicit FileOutput(File& file) : file_(file) {}
    [[nodiscard]] std::error_code write(std::span<const char> bytes) override
    {
        return file_.writeAll(bytes.data(), std::ssize(bytes));
    }
    [[nodiscard]] CopiedBytes copyFrom(const File& source, std::int64_t offset, std::int64_t length,
                                       std::span<char> buffer) override
    {
        return file_.copyFrom(source, offset, length, buffer);
    }

private:
    File& file_;
};

class SinkOutput final : public Output {
public:
    explicit SinkOutput(const ByteSink& sink) : sink_(sink) {}
    [[nodiscard]] std::error_code write(std::span<const char> bytes) override { return sink_(bytes); }

private:
    const ByteSink& sink_;
};

// What went wrong, and whose bytes it was.
Error readFailure(std::error_code code) { return Error{Step::readFile, code}; }
Error changed() { return readFailure(Errc::changedWhileRead); }

void putInt32(char* at, std::int64_t value)
{
    const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    for (unsigned byte = 0; byte < 4; ++byte) {
        at[byte] = static_cast<char>((bits >> (8U * byte)) & 0xFFU);
    }
}

// Writes an archive in order: header, directory, then every entry's bytes.
// Small pieces gather in one buffer that goes out in large writes; large
// entries go from their file to the output in the kernel where it can.
class Writer {
public:
    Writer(detail::PlanData& plan, Output& output, const WriteOptions& options)
        : plan_(plan), output_(output), options_(options),
          // no larger than the archive: a small one needs no megabyte
          bufferSize_(
              static_cast<std::size_t>(std::clamp<std::int64_t>(plan.archiveSize, Archive::recordSize, largestBuffer))),
          buffer_(bufferSize_)
    {
    }

    Result<std::int64_t> run()
    {
        if (auto result = writeDirectory(); !result) {
            return result.error();
        }
        for (std::size_t index = 0; index < plan_.entries.size();) {
            auto next = writeData(index);
            if (!next) {
                return next.error();
            }
            index = *next;
        }
        if (auto result = flush(); !result) {
            return result.error();
        }
        // an archive rewritten while its entries were copied may have given a mixture
        for (const std::shared_ptr<detail::ArchiveState>& archive : plan_.archives) {
            FileStatus now;
            if (archive->source->status(now) || !now.sameContentsStamp(archive->source->opened())) {
                return changed();
            }
        }
        return written_;
    }

private:
    static constexpr std::int64_t largestBuffer = std::int64_t{1} << 20;
    // an entry of more than this many bytes is copied in pieces, each one reported
    static constexpr std::int64_t pieceSize = std::int64_t{64} << 20;

    // Room for `size` bytes in the buffer, written out first where needed.
    Result<char*> room(std::size_t size)
    {
        if (size > bufferSize_ - used_) {
            if (auto result = flush(); !result) {
                return result.error();
            }
        }
        return buffer_.data() + used_;
    }

    Result<void> flush()
    {
        if (used_ > 0) {
            if (const std::error_code error = output_.write({buffer_.data(), used_})) {
                return Error{Step::writeFile, error};
            }
            written_ += static_cast<std::int64_t>(used_);
            used_ = 0;
        }
        return {};
    }

    Result<void> writeDirectory()
    {
        const auto count = static_cast<std::int64_t>(plan_.entries.size());
        std::array<char, Archive::headerSize> header{};
        putInt32(header.data(), count);
        putInt32(header.data() + 4, plan_.headerWord);
        std::memcpy(buffer_.data(), header.data(), header.size());
        used_ = header.size();
        std::int64_t offset = Archive::headerSize + count * Archive::recordSize;
        for (std::size_t index = 0; index < plan_.entries.size();) {
            Result<std::size_t> copied = copyRecordsAsTheyAre(index, offset);
            if (!copied) {
                return copied.error();
            }
            if (*copied > index) {
                index = *copied;
                continue;
            }
            const PlannedEntry& entry = plan_.entries[index++];
            Result<char*> at = room(Archive::recordSize);
            if (!at) {
                return at.error();
            }
            char* record = *at;
            std::memset(record, 0, Archive::recordSize);
            record[0] = static_cast<char>(entry.prefixByte);
            std::memcpy(record + 1, plan_.names.data() + entry.nameAt, entry.nameLength);
            putInt32(record + 1 + Entry::nameFieldSize, offset);
            putInt32(record + 1 + Entry::nameFieldSize + 4, entry.size);
            used_ += Archive::recordSize;
            offset += entry.size;
        }
        return {};
    }

    // Where the entries from `first` on are records of an archive's file, one
    // after another there, that would come out as they are (their data at the
    // same offsets), they are copied from it at once: rewriting an archive
    // that is in this layout already costs no more than copying it. Returns
    // the entry after them (`first` where there are too few to bother), and
    // moves `offset` past their data.
    Result<std::size_t> copyRecordsAsTheyAre(std::size_t first, std::int64_t& offset)
    {
        constexpr std::size_t fewest = 64;
        const PlannedEntry& head = plan_.entries[first];
        if (head.kind != SourceKind::archive || !head.recordAsIs) {
            return first;
        }
        const File* source = plan_.archives[head.source]->source->file();
        std::size_t end = first;
        std::int64_t at = offset;
        for (; end < plan_.entries.size(); ++end) {
            const PlannedEntry& entry = plan_.entries[end];
            if (entry.kind != SourceKind::archive || !entry.recordAsIs || entry.source != head.source ||
                entry.modified != head.modified + static_cast<std::int64_t>(end - first) || entry.offset != at) {
                break;
            }
            at += entry.size;
        }
        if (source == nullptr || end - first < fewest) {
            return first;
        }
        if (auto result = flush(); !result) {
            return result.error();
        }
        const std::int64_t length = static_cast<std::int64_t>(end - first) * Archive::recordSize;
        const CopiedBytes copied = output_.copyFrom(*source, Archive::headerSize + head.modified * Archive::recordSize,
                                                    length, buffer_.span());
        written_ += copied.bytes;
        if (copied.writeError) {
            return Error{Step::writeFile, copied.writeError};
        }
        if (copied.readError || copied.bytes < length) {
            return copied.readError ? readFailure(copied.readError) : changed();
        }
        offset = at;
        return end;
    }

    bool report(std::size_t index)
    {
        return !options_.progress ||
               options_.progress({index, entriesDone_, written_ + static_cast<std::int64_t>(used_)});
    }

    static Error cancelled() { return Error{Step::writeFile, std::make_error_code(std::errc::operation_canceled)}; }

    // Copies `length` bytes of `source` from `offset` on, in reported pieces.
    Result<void> copy(std::size_t index, const File& source, std::int64_t offset, std::int64_t length)
    {
        // a piece that fits goes into the buffer with one read
        if (length <= static_cast<std::int64_t>(bufferSize_ / 4)) {
            Result<char*> at = room(static_cast<std::size_t>(length));
            if (!at) {
                return at.error();
            }
            const IoResult read = source.readAt(offset, *at, length);
            if (read.error) {
                return readFailure(read.error);
            }
            if (read.bytes < length) {
                return changed();
            }
            used_ += static_cast<std::size_t>(length);
            return {};
        }
        if (auto result = flush(); !result) {
            return result.error();
        }
        for (std::int64_t done = 0; done < length;) {
            if (done > 0 && !report(index)) {
                return cancelled();
            }
            const std::int64_t piece = std::min(length - done, pieceSize);
            const CopiedBytes copied = output_.copyFrom(source, offset + done, piece, buffer_.span());
            written_ += copied.bytes;
            done += copied.bytes;
            if (copied.writeError) {
                return Error{Step::writeFile, copied.writeError};
            }
            if (copied.readError) {
                return readFailure(copied.readError);
            }
            if (copied.bytes < piece) {
                return changed();
            }
        }
        return {};
    }

    Result<void> copyBytes(std::span<const std::byte> bytes)
    {
        if (bytes.size() > bufferSize_ / 4) {
            if (auto result = flush(); !result) {
                return result.error();
            }
            if (const std::error_code error =
                    output_.write({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
                return Error{Step::writeFile, error};
            }
            written_ += std::ssize(bytes);
            return {};
        }
        Result<char*> at = room(bytes.size());
        if (!at) {
            return at.error();
        }
        std::memcpy(*at, bytes.data(), bytes.size());
        used_ += bytes.size();
        return {};
    }

    Result<void> copyFile(std::size_t index, const PlannedEntry& entry)
    {
        std::error_code error;
        const File file = files_.openForReading(detail::pathOf(plan_, entry.source), error);
        if (error) {
            return readFailure(error);
        }
        if (auto result = copy(index, file, 0, entry.size); !result) {
            return result;
        }
        // the file as check() saw it, and still at its end
        FileStatus status;
        if (const std::error_code statusError = file.status(status)) {
            return readFailure(statusError);
        }
        if (status.size != entry.size || status.modified != entry.modified) {
            return changed();
        }
        return {};
    }

    // The entries from `first` on that lie one after another in the same
    // archive, copied as one range; returns the entry after them.
    Result<std::size_t> copyArchiveRun(std::size_t first)
    {
        const PlannedEntry& head = plan_.entries[first];
        std::size_t end = first + 1;
        std::int64_t length = head.size;
        while (end < plan_.entries.size()) {
            const PlannedEntry& next = plan_.entries[end];
            if (next.kind != SourceKind::archive || next.source != head.source ||
                (next.size > 0 && next.offset != head.offset + length)) {
                break;
            }
            length += next.size;
            ++end;
        }
        const detail::Source& source = *plan_.archives[head.source]->source;
        if (const File* file = source.file()) {
            if (auto result = copy(first, *file, head.offset, length); !result) {
                return result.error();
            }
        } else {
            std::vector<char> bytes(static_cast<std::size_t>(length));
            const IoResult read = source.readAt(head.offset, bytes.data(), length);
            if (read.error || read.bytes < length) {
                return read.error ? readFailure(read.error) : changed();
            }
            if (auto result = copyBytes(std::as_bytes(std::span<const char>(bytes))); !result) {
                return result.error();
            }
        }
        entriesDone_ += end - first - 1;
        return end;
    }

    // Writes the bytes of the entry at `index` (and of those after it that
    // go with it); returns the entry to write next.
    Result<std::size_t> writeData(std::size_t index)
    {
        if (!report(index)) {
            return cancelled();
        }
        const PlannedEntry& entry = plan_.entries[index];
        std::size_t next = index + 1;
        if (entry.size > 0) {
            switch (entry.kind) {
            case SourceKind::file:
                if (auto result = copyFile(index, entry); !result) {
                    return result.error();
                }
                break;
            case SourceKind::bytes:
                if (auto result = copyBytes(plan_.buffers[entry.source]); !result) {
                    return result.error();
                }
                break;
            case SourceKind::archive: {
                Result<std::size_t> after = copyArchiveRun(index);
                if (!after) {
                    return after.error();
                }
                next = *after;
                break;
            }
            }
        }
        ++entriesDone_;
        return next;
    }

    detail::PlanData& plan_;
    Output& output_;
    const WriteOptions& options_;
    std::size_t bufferSize_;
    ByteBlock buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
    std::size_t entriesDone_ = 0;
    FileOpener files_;
};

// The plan, checked where it has not been: its first problem, if any.
Result<void> ensureChecked(ArchivePlan& plan)
{
    if (detail::PlanAccess::data(plan).checked) {
        return {};
    }
    const PlanCheck check = plan.check();
    if (!check.ok()) {
        return check.problems.front().error;
    }
    return {};
}

} // namespace

Result<std::int64_t> writeArchive(ArchivePlan& plan, const std::filesystem::path& path, const WriteOptions& options)
{
    if (auto checked = ensureChecked(plan); !checked) {
        return checked.error();
    }
    std::error_code error;
    ReplacementFile replacement = ReplacementFile::create(path, error);
    if (error) {
        return Error{Step::createFile, error};
    }
    FileOutput output(replacement.file());
    Result<std::int64_t> written = Writer(detail::PlanAccess::data(plan), output, options).run();
    if (!written) {
        return written; // the new file is removed with the replacement
    }
    if (const std::error_code committed = replacement.commit()) {
        return Error{Step::closeFile, committed};
    }
    return written;
}

Result<std::int64_t> writeArchive(ArchivePlan& plan, const ByteSink& sink, const WriteOptions& options)
{
    if (auto checked = ensureChecked(plan); !checked) {
        return checked.error();
    }
    SinkOutput output(sink);
    return Writer(detail::PlanAccess::data(plan), output, options).run();
}

} // namespace tre
