#pragma once

// Where an archive's bytes come from: the file it was opened from, or bytes
// in memory. Internal to the library.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
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
    virtual IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const = 0;
    // The file as it is now.
    virtual std::error_code status(FileStatus& status) const = 0;
    // Which file it is; none for bytes in memory.
    [[nodiscard]] virtual std::optional<FileIdentity> identity() const = 0;
    // The open file's handle; -1 for bytes in memory.
    [[nodiscard]] virtual std::intptr_t nativeHandle() const { return -1; }

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

    IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const override
    {
        return file_.readAt(offset, buffer, length);
    }
    std::error_code status(FileStatus& status) const override { return file_.status(status); }
    [[nodiscard]] std::optional<FileIdentity> identity() const override { return opened().identity; }
    [[nodiscard]] std::intptr_t nativeHandle() const override { return file_.nativeHandle(); }

private:
    File file_;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::string bytes) : Source(statusOf(bytes)), bytes_(std::move(bytes)) {}

    IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const override;
    std::error_code status(FileStatus& status) const override
    {
        status = opened();
        return {};
    }
    [[nodiscard]] std::optional<FileIdentity> identity() const override { return std::nullopt; }

private:
    static FileStatus statusOf(const std::string& bytes)
    {
        FileStatus status;
        status.regular = true;
        status.size = static_cast<std::int64_t>(bytes.size());
        return status;
    }

    std::string bytes_;
};

// A little-endian signed 32-bit integer, and a whole 74-byte record.
std::int32_t decodeInt32(const unsigned char* bytes);
void decodeRecord(const unsigned char* bytes, std::int32_t number, Entry& entry);

// The library's own access to an archive's insides.
struct ArchiveAccess {
    static const Source& source(const Archive& archive) { return *archive.source_; }
    // An archive over any source, its header read; tests give sources that fail.
    static Result<Archive> fromSource(std::unique_ptr<Source> source);
};

} // namespace tre::detail
