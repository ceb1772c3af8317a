#pragma once

// An archive's insides: where its bytes come from (the file it was opened
// from, or bytes in memory) and its header. Shared by the Archive and
// everything made from it, so that none of them depends on where the
// Archive object is. Internal to the library.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "support/File.h"
#include "tre/Archive.h"

namespace tre::detail {

class Source {
public:
    explicit Source(const FileStatus& opened) : opened_(opened) {}
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    virtual ~Source() = default;

    // Up to `length` bytes at `offset`: fewer only at the end of the data,
    // or where `error` says why. Safe from several threads at once.
    [[nodiscard]] virtual IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const = 0;
    // The file as it is now.
    [[nodiscard]] virtual std::error_code status(FileStatus& status) const = 0;
    // Which file it is; none for bytes in memory.
    [[nodiscard]] virtual std::optional<FileIdentity> identity() const = 0;
    // The open file's handle; -1 for bytes in memory.
    [[nodiscard]] virtual std::intptr_t nativeHandle() const { return -1; }
    // The open file, for copies the kernel makes; none for bytes in memory.
    [[nodiscard]] virtual const File* file() const { return nullptr; }

    // The file as it was opened, less the changes this process made itself.
    [[nodiscard]] FileStatus opened() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return opened_;
    }
    // After this process moved a file of its own over a name of this one
    // (which changes its link count, so its change time): a change that
    // the move alone made is no change.
    void acceptOwnChange(const FileStatus& before, const FileStatus& after) const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (before.sameStamp(opened_)) {
            opened_ = after;
        }
    }

private:
    mutable std::mutex mutex_;
    mutable FileStatus opened_;
};

class FileSource final : public Source {
public:
    FileSource(File file, const FileStatus& opened) : Source(opened), file_(std::move(file)) {}

    [[nodiscard]] IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const override
    {
        return file_.readAt(offset, buffer, length);
    }
    [[nodiscard]] std::error_code status(FileStatus& status) const override { return file_.status(status); }
    [[nodiscard]] std::optional<FileIdentity> identity() const override { return opened().identity; }
    [[nodiscard]] std::intptr_t nativeHandle() const override { return file_.nativeHandle(); }
    [[nodiscard]] const File* file() const override { return &file_; }

private:
    File file_;
};

// Bytes in memory: its own copy, or the caller's bytes as they are.
class MemorySource final : public Source {
public:
    explicit MemorySource(std::string bytes) : Source(statusOf(bytes.size())), owned_(std::move(bytes)), bytes_(owned_)
    {
    }
    explicit MemorySource(std::span<const std::byte> bytes)
        : Source(statusOf(bytes.size())), bytes_(reinterpret_cast<const char*>(bytes.data()), bytes.size())
    {
    }

    [[nodiscard]] IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const override;
    [[nodiscard]] std::error_code status(FileStatus& status) const override
    {
        status = opened();
        return {};
    }
    [[nodiscard]] std::optional<FileIdentity> identity() const override { return std::nullopt; }

private:
    static FileStatus statusOf(std::size_t size)
    {
        FileStatus status;
        status.regular = true;
        status.size = static_cast<std::int64_t>(size);
        return status;
    }

    std::string owned_;
    std::string_view bytes_;
};

struct ArchiveState {
    std::unique_ptr<Source> source;
    std::int32_t storedCount = 0;
    std::int32_t headerWord = Archive::headerSize;
    std::int32_t entryCount = 0;
    std::int64_t size = 0;
};

// A little-endian signed 32-bit integer, and a whole 74-byte record.
std::int32_t decodeInt32(const unsigned char* bytes);
void decodeRecord(const unsigned char* bytes, std::int32_t number, Entry& entry);

// The library's own access to an archive's insides.
struct ArchiveAccess {
    static const std::shared_ptr<ArchiveState>& state(const Archive& archive) { return archive.state_; }
    // Another Archive object over the same insides.
    static Archive view(std::shared_ptr<ArchiveState> state) { return Archive(std::move(state)); }
    static const Source& source(const Archive& archive) { return *archive.state_->source; }
    // An archive over any source, its header read; tests give sources that fail.
    static Result<Archive> fromSource(std::unique_ptr<Source> source);
};

} // namespace tre::detail
