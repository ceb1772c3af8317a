#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "support/String.h"

// Which file an open file or a path is, whatever names lead to it: device
// and file number (volume and file index on Windows).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An open file with the few operations the tool needs, closed when the handle
// goes out of scope. Everything platform-specific about files lives behind
// this class (one body per platform), so the rest of the code stays portable.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // Opens for reading only, so read-only files open too, and never waits:
    // a FIFO with no writer opens at once (isRegular() then says what it is).
    // Where no file exists, an empty one (readable and writable) is created
    // first. Other readers and writers are never locked out.
    static File openForReadingCreating(const String& path);
    // Opens for binary writing, creating the file or truncating it.
    static File createForWriting(const String& path);

    [[nodiscard]] bool isOpen() const { return handle_ != closedHandle; }
    // Whether the open file is a regular file (not a pipe, socket or device).
    [[nodiscard]] bool isRegular() const;
    // Size in bytes of a regular file; 0 for anything else (a pipe or a
    // device has no size to bound allocations by).
    [[nodiscard]] std::int64_t size() const;
    // Whether the path names this very file (through links, or as another
    // hard link of it).
    [[nodiscard]] bool isSameFileAs(const String& path) const;
    [[nodiscard]] std::optional<FileIdentity> identity() const;
    // Reads up to `length` bytes from `offset` on, until done, end of file or
    // an error; returns the number of bytes read.
    std::int64_t readAt(std::int64_t offset, char* buffer, std::int64_t length) const;
    // Writes all `length` bytes; false when any of them could not be written.
    bool writeAll(const char* data, std::int64_t length);
    // Whether a write failed because the disk is full or a quota exceeded.
    [[nodiscard]] bool isOutOfSpace() const { return outOfSpace_; }
    // Closes now, reporting whether the close succeeded (a delayed write
    // error can surface here).
    bool close();

private:
    friend class ReplacementFile;
    friend class OutputTree;
    static constexpr std::intptr_t closedHandle = -1;
    // One platform call each, for at most maxChunk bytes: the number of
    // bytes moved, 0 at the end of the file, negative on an error.
    static constexpr std::int64_t maxChunk = std::int64_t{1} << 30;
    std::int64_t readOnce(std::int64_t offset, char* buffer, std::int64_t length) const;
    std::int64_t writeOnce(const char* data, std::int64_t length);

    explicit File(std::intptr_t handle) : handle_(handle) {}

    std::intptr_t handle_ = closedHandle;
    bool outOfSpace_ = false;
};

// A new file that takes the place of an existing one only once it is
// complete: it is written beside the file that `path` names (after following
// links, so a link stays a link and its target gets the new contents) and
// moved over it by commit(). Whoever holds the old file open goes on reading
// the old bytes. Dropped without commit(), it is removed. Only a regular
// file is replaced: for anything else the file never opens.
class ReplacementFile {
public:
    explicit ReplacementFile(const String& path);
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    [[nodiscard]] File& file() { return file_; }
    // Closes the file and moves it over the target; false when either fails.
    bool commit();

private:
    File file_;
    String temporaryPath_;
    String targetPath_;
};

// The path as the platform's file functions want it (UTF-8 bytes in, native out).
std::filesystem::path toNativePath(const String& path);

// How text files end their lines on this platform.
extern const char* const textFileLineEnd;
