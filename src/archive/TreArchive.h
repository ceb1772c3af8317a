#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "support/ByteBlock.h"
#include "support/File.h"
#include "support/String.h"

// TRE archive format. All integers are little-endian signed 32-bit.
//
//   offset  size       field
//   0       4          count        number of directory records
//   4       4          headerWord   held, never interpreted
//   8       74*count   directory    records, packed, in entry-number order
//
// Directory record (74 bytes, no padding between records):
//
//   0       1          prefixByte   held, never interpreted
//   1       65         name         NUL-terminated; bytes after the NUL are ignored
//   66      4          offset       first data byte, from the start of the file
//   70      4          size         length of the data in bytes
//
// Entry data is `size` bytes at `offset`, stored as is; entries may lie in
// any order anywhere in the file. Entry numbers count from 0.
//
// A damaged file never makes the reader fail: a file that ends inside the
// header reads as an empty directory, one that ends inside the directory
// keeps the complete records it holds, and a `count` of zero or less reads
// as empty. The entry count is bounded by the file's size, not by `count`.

struct TreEntry {
    static constexpr std::size_t nameFieldSize = 65;

    std::uint8_t prefixByte;
    std::array<char, nameFieldSize> name;
    std::int32_t offset;
    std::int32_t size;

    // The name up to its first NUL; a name that fills its field is taken whole.
    [[nodiscard]] std::string_view nameText() const
    {
        const std::string_view field(name.data(), name.size());
        return field.substr(0, field.find('\0'));
    }
};

// One archive, opened once by `load` and held open until the archive is
// destroyed: every read of a directory record or of entry data goes to that
// file, so an archive renamed, replaced or deleted during the run keeps
// serving the file that was loaded. `load` reads the header only; records are
// read when asked for, through a small window, so a directory costs no memory
// whatever its size. Accessors take an entry number from 0 to
// entryCount() - 1.
class TreArchive {
public:
    static constexpr std::int64_t headerSize = 8;
    static constexpr std::int64_t recordSize = 74;

    enum class LoadResult { loaded, cannotOpen };

    TreArchive();
    TreArchive(const TreArchive&) = delete;
    TreArchive& operator=(const TreArchive&) = delete;
    ~TreArchive() = default;

    void reset();
    // Where no file exists at the path, an empty one is created and the
    // directory is empty. cannotOpen when the path can neither be opened nor
    // created (a directory, a missing folder, an empty path) or names
    // anything but a regular file (a FIFO, a socket, a device, a pipe).
    LoadResult load(const String& path);

    [[nodiscard]] std::int32_t entryCount() const { return count_; }
    [[nodiscard]] std::int32_t headerWord() const { return headerWord_; }
    // The count as the header claims it, and the file's size, both as loaded.
    [[nodiscard]] std::int32_t claimedCount() const { return claimedCount_; }
    [[nodiscard]] std::int64_t fileSize() const { return fileSize_; }
    // The record of an entry; none when the file no longer holds it (it
    // shrank after `load`) or the number is out of range.
    [[nodiscard]] std::optional<TreEntry> entry(std::int32_t entryNumber) const;
    // The same for walks over the directory front to back, into a record the
    // caller keeps: records are read ahead in large reads, and each is copied
    // once, straight to where it is used. False where entry() has none.
    bool readRecord(std::int32_t entryNumber, TreEntry& entry) const;
    // Fields of the record; an empty name and 0 where entry() has none.
    [[nodiscard]] String entryName(std::int32_t entryNumber) const;
    [[nodiscard]] std::int32_t entryOffset(std::int32_t entryNumber) const;
    [[nodiscard]] std::int32_t entrySize(std::int32_t entryNumber) const;
    // Copies the entry's data from byte `from` of the entry on into the
    // buffer, at most buffer.size() bytes and never past the stored size;
    // returns the number of bytes read, which falls short when the data
    // cannot be read whole.
    [[nodiscard]] std::int32_t readEntry(std::int32_t entryNumber, std::span<char> buffer, std::int32_t from = 0) const;
    // Whether the path names the loaded archive file (through any link, or as
    // another hard link of it).
    [[nodiscard]] bool isArchiveFile(const String& path) const;
    // Which file the loaded archive is, to recognise it under other names.
    [[nodiscard]] std::optional<FileIdentity> fileIdentity() const { return file_.identity(); }

private:
    // records read at once when the directory is walked front to back
    static constexpr std::int32_t recordsPerRead = (1 << 20) / recordSize;

    // A lookup reads the one record it needs; a walk reads ahead.
    enum class Access { lookup, walk };
    [[nodiscard]] const unsigned char* record(std::int32_t entryNumber, Access access) const;

    std::int32_t count_ = 0;
    std::int32_t headerWord_ = headerSize;
    std::int32_t claimedCount_ = 0;
    std::int64_t fileSize_ = 0;
    File file_;
    // The records last read, packed as in the file: a cache, so it may change
    // in const accessors.
    mutable ByteBlock window_;
    mutable std::int32_t windowFirst_ = 0;
    mutable std::int32_t windowRecords_ = 0;
    // The record of the last lookup outside the window.
    mutable std::array<unsigned char, recordSize> lone_{};
    mutable std::int32_t loneNumber_ = -1;
};
