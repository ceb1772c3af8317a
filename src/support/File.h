#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>

// Files as the library needs them, behind one class whose platform bodies
// are FilePosix.cpp and FileWindows.cpp; the rest of the code stays portable.

namespace tre {

// A path as the system takes it: bytes on POSIX, UTF-16 on Windows.
using NativePath = std::filesystem::path::string_type;
using NativePathView = std::basic_string_view<std::filesystem::path::value_type>;

// Which file an open file is, whatever names lead to it: device and file
// number (volume and file index on Windows).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileStatus {
    bool regular = false;
    bool folder = false;
    std::int64_t size = 0;
    // in the system's own units, only ever compared: nanoseconds since 1970
    // on POSIX, 100-nanosecond ticks since 1601 on Windows
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    FileIdentity identity;

    // Whether nobody wrote to the file, or renamed or linked it, in between.
    [[nodiscard]] bool sameStamp(const FileStatus& other) const
    {
        return sameContentsStamp(other) && changed == other.changed;
    }
    // Whether nobody wrote to it: a rename or a new link move the change time only.
    [[nodiscard]] bool sameContentsStamp(const FileStatus& other) const
    {
        return size == other.size && modified == other.modified;
    }
};

struct IoResult {
    std::int64_t bytes = 0;
    std::error_code error;
};

// What a copy from one file to another did, and which side failed.
struct CopiedBytes {
    std::int64_t bytes = 0;
    std::error_code readError;
    std::error_code writeError;
};

// The operating system's reason for the call that just failed: errno, or
// GetLastError() on Windows.
[[nodiscard]] std::error_code lastSystemError();
// Whether a reason says that the disk is full or a quota exceeded.
[[nodiscard]] bool isOutOfSpace(const std::error_code& code);

// Reads `length` bytes from `offset` on in as many calls of
// `readOnce(offset, buffer, length) -> IoResult` as it takes: until done,
// the end of the file (a call that reads nothing) or an error, which ends
// the read at once and is returned with the bytes read before it.
template <typename ReadOnce>
IoResult readFully(ReadOnce&& readOnce, std::int64_t offset, char* buffer, std::int64_t length)
{
    IoResult total;
    while (total.bytes < length) {
        const IoResult got = readOnce(offset + total.bytes, buffer + total.bytes, length - total.bytes);
        if (got.error || got.bytes <= 0) {
            total.error = got.error;
            break;
        }
        total.bytes += got.bytes;
    }
    return total;
}

class File;

// Copies `length` bytes of `source` from `offset` on through `buffer`,
// handing each piece read to `write(std::span<const char>) -> error_code`:
// until done, the source ends, or a side fails.
template <typename Write>
CopiedBytes copyThrough(const File& source, std::int64_t offset, std::int64_t length, std::span<char> buffer,
                        Write&& write);

// An open file, closed when the handle goes out of scope.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // An existing file, for reading only (so read-only files open too),
    // without ever waiting: a FIFO with no writer opens at once, and
    // status() then says what it is. Others are never locked out.
    static File openForReading(const std::filesystem::path& path, std::error_code& error);
    // For writing, created where missing but never emptied: the caller looks
    // at what it opened before it truncates.
    static File openForWriting(const std::filesystem::path& path, std::error_code& error);

    // The file at `path` (links followed), without reading it.
    [[nodiscard]] static std::error_code statusAt(const std::filesystem::path& path, FileStatus& status);
    // Whether this process may read the file at `path`: the system's reason
    // where it may not.
    [[nodiscard]] static std::error_code checkReadable(const std::filesystem::path& path);

    [[nodiscard]] bool isOpen() const { return handle_ != closedHandle; }
    [[nodiscard]] std::intptr_t nativeHandle() const { return handle_; }
    [[nodiscard]] std::error_code status(FileStatus& status) const;
    // Reads up to `length` bytes at `offset`; fewer only at the end of the
    // file or on an error.
    [[nodiscard]] IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const;
    [[nodiscard]] std::error_code writeAll(const char* data, std::int64_t length);
    // Appends `length` bytes of `source` from `offset` on: inside the kernel
    // where the system can (copy_file_range), through `buffer` otherwise.
    // Fewer bytes only where the source ends, or on an error.
    [[nodiscard]] CopiedBytes copyFrom(const File& source, std::int64_t offset, std::int64_t length,
                                       std::span<char> buffer);
    // Empties the file.
    [[nodiscard]] std::error_code truncate();
    // Waits until what was written is on the disk.
    [[nodiscard]] std::error_code flush();
    // Closes now: a delayed write error can surface here.
    std::error_code close();

private:
    friend class ReplacementFile;
    friend class OutputTree;
    friend class FileOpener;
    static constexpr std::intptr_t closedHandle = -1;
    // One platform call each, for at most maxChunk bytes.
    static constexpr std::int64_t maxChunk = std::int64_t{1} << 30;
    IoResult readOnce(std::int64_t offset, char* buffer, std::int64_t length) const;
    IoResult writeOnce(const char* data, std::int64_t length);

    explicit File(std::intptr_t handle) : handle_(handle) {}

    std::intptr_t handle_ = closedHandle;
};

template <typename Write>
CopiedBytes copyThrough(const File& source, std::int64_t offset, std::int64_t length, std::span<char> buffer,
                        Write&& write)
{
    CopiedBytes copied;
    while (copied.bytes < length && !buffer.empty()) {
        const std::int64_t wanted = std::min<std::int64_t>(length - copied.bytes, std::ssize(buffer));
        const IoResult read = source.readAt(offset + copied.bytes, buffer.data(), wanted);
        if (read.bytes > 0) {
            if (const std::error_code error = write(buffer.first(static_cast<std::size_t>(read.bytes)))) {
                copied.writeError = error;
                break;
            }
            copied.bytes += read.bytes;
        }
        if (read.error || read.bytes < wanted) {
            copied.readError = read.error;
            break;
        }
    }
    return copied;
}

// Looks at and opens files by their paths, keeping the folder of the last
// one open: files of one folder, one after another (as a sorted list of
// paths gives them), cost one look-up of the folder's path, and the system
// then finds each by its name alone. Where the platform has no such opens,
// the paths are used as they are.
class FileOpener {
public:
    FileOpener() = default;
    FileOpener(const FileOpener&) = delete;
    FileOpener& operator=(const FileOpener&) = delete;
    ~FileOpener();

    // As File::statusAt, File::checkReadable and File::openForReading.
    [[nodiscard]] std::error_code status(NativePathView path, FileStatus& status);
    [[nodiscard]] std::error_code checkReadable(NativePathView path);
    [[nodiscard]] File openForReading(NativePathView path, std::error_code& error);

private:
    // The open folder that holds `path` (the current folder's marker where
    // it has none), with `leaf_` the rest of the path to take from there.
    std::intptr_t folderOf(NativePathView path);

    NativePath folder_;
    std::intptr_t handle_ = -1;
    NativePath leaf_;
};

// A new file that takes the place of an existing one only once it is
// complete: it is written beside the file that `path` leads to (after
// following links, so a link stays a link and its target gets the new
// contents) and moved over it by commit(), flushed to the disk first, so
// that a crash leaves the old file or the new one, never an empty one.
// Whoever holds the old file open goes on reading the old bytes. The new
// file takes the old one's mode, and its owner and group where the user may
// give them; where there was none, the mode of a new file (0666 less the
// umask). Dropped without commit(), it is removed. Only a regular file is
// ever replaced.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ~ReplacementFile();

    static ReplacementFile create(const std::filesystem::path& path, std::error_code& error);

    [[nodiscard]] File& file() { return file_; }
    // The file being written, until commit() or discard().
    [[nodiscard]] const std::filesystem::path& temporaryPath() const { return temporaryPath_; }
    // Gives the file its mode and owner, flushes it, closes it and moves it
    // over the target.
    [[nodiscard]] std::error_code commit();
    // Removes the file written so far.
    void discard();

private:
    // The mode and owner that the new file takes (the platform's part of commit()).
    [[nodiscard]] std::error_code takeOwnerAndMode();
    // Moves the closed file over the target (the platform's part of commit()).
    [[nodiscard]] std::error_code moveIntoPlace() const;

    File file_;
    std::filesystem::path temporaryPath_;
    std::filesystem::path targetPath_;
    // what the file it replaces had: its mode and owner
    bool replacing_ = false;
    std::uint32_t mode_ = 0;
    std::uint32_t owner_ = 0;
    std::uint32_t group_ = 0;
};

} // namespace tre
