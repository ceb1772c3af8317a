#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "support/ByteBlock.h"
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
// as empty. The directory table is bounded by the file's size, not by
// `count`, so a hostile count cannot cause a large allocation.

struct TreEntry {
    static constexpr std::size_t nameFieldSize = 65;

    std::uint8_t prefixByte;
    std::array<char, nameFieldSize> name;
    std::int32_t offset;
    std::int32_t size;
};

// The directory of one archive, read once by `load`. The archive file is not
// held open: `load` and every `readEntry` open it by path and close it again.
// Accessors take an entry number from 0 to entryCount() - 1 and do not check it.
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
    // directory is empty. cannotOpen only when the path can neither be
    // opened nor created (a directory, a missing folder, an empty path).
    LoadResult load(String path);

    [[nodiscard]] std::int32_t entryCount() const { return count_; }
    [[nodiscard]] std::int32_t headerWord() const { return headerWord_; }
    [[nodiscard]] TreEntry entry(std::int32_t entryNumber) const;
    [[nodiscard]] String entryName(std::int32_t entryNumber) const;
    [[nodiscard]] std::int32_t entryOffset(std::int32_t entryNumber) const;
    [[nodiscard]] std::int32_t entrySize(std::int32_t entryNumber) const;
    // How many of the entry's bytes the archive file holds now: the most that
    // readEntry can deliver, whatever the stored size claims. Buffers for
    // readEntry are sized by this, never by the stored size alone.
    [[nodiscard]] std::int32_t entryBytesAvailable(std::int32_t entryNumber) const;
    // Copies the entry's data from byte `from` of the entry on into the
    // buffer, at most buffer.size() bytes and never past the stored size;
    // returns the number of bytes read, which falls short when the data
    // cannot be read whole.
    [[nodiscard]] std::int32_t readEntry(std::int32_t entryNumber, std::span<char> buffer, std::int32_t from = 0) const;
    // Whether the path names the archive file itself (through any link).
    [[nodiscard]] bool isArchiveFile(const String& path) const;

private:
    [[nodiscard]] const unsigned char* record(std::int32_t entryNumber) const;

    std::int32_t count_ = 0;
    std::int32_t headerWord_ = headerSize;
    // The directory's records as read, packed, decoded field by field on
    // access: loading is one read into one block, with no decoding pass and
    // no second table (which would double the memory of a large directory).
    ByteBlock entries_;
    String archivePath_;
};
