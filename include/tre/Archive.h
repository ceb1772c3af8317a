#pragma once

// Reading TRE archives.
//
// The format: all integers are little-endian signed 32-bit.
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
// any order anywhere in the file. Entry numbers count from 0. Names are raw
// bytes: they may hold anything, and become paths only through
// entryPathComponents() (tre/EntryPath.h).
//
// A damaged file never makes the reader fail or allocate what the file does
// not hold: a file that ends inside the header reads as an empty directory,
// one that ends inside the directory keeps the complete records it holds,
// and a count of zero or less reads as empty. checkHeader() and checkEntry()
// (tre/Check.h) say what is damaged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "tre/Error.h"

namespace tre {

namespace detail {
class Source;
struct WalkWindow;
struct ArchiveAccess;
} // namespace detail

// One directory record, decoded, with its entry number.
struct Entry {
    static constexpr std::size_t nameFieldSize = 65;

    std::int32_t number = 0;
    std::uint8_t prefixByte = 0;
    std::array<char, nameFieldSize> nameField{};
    std::int32_t offset = 0;
    std::int32_t size = 0;

    // The name up to its first NUL; a name that fills its field is taken whole.
    [[nodiscard]] std::string_view name() const
    {
        const std::string_view field(nameField.data(), nameField.size());
        return field.substr(0, field.find('\0'));
    }
};

// What a copy of an entry's data did.
struct CopyResult {
    // bytes read from the archive and handed on
    std::int64_t bytes = 0;
    // why the archive could not be read further; empty where it merely
    // ended (the entry runs past the end of the file)
    std::error_code readError;
    // why the destination refused bytes (or could not be created or closed)
    std::error_code writeError;
};

// Receives a copy's bytes in order; an error stops the copy.
using ByteSink = std::function<std::error_code(std::span<const char> bytes)>;

class Archive;

// A walk over the directory front to back, reading records ahead in large
// reads (at most 1 MiB at a time, whatever the directory's size). A walk is
// used by one thread; any number of walks may run on one archive at once.
//
//     tre::EntryWalk walk = archive.entries();
//     for (const tre::Entry& entry : walk) { ... }
//     if (walk.error()) { ... } // the directory could not be read to its end
class EntryWalk {
public:
    explicit EntryWalk(const Archive& archive);
    EntryWalk(EntryWalk&& other) noexcept;
    EntryWalk& operator=(EntryWalk&& other) noexcept;
    EntryWalk(const EntryWalk&) = delete;
    EntryWalk& operator=(const EntryWalk&) = delete;
    ~EntryWalk();

    // The next entry; false at the end of the directory, or where a record
    // cannot be read (error() then says why).
    bool next(Entry& entry);
    // Records read so far: entryCount() after a whole walk.
    [[nodiscard]] std::int32_t recordsRead() const { return recordsRead_; }
    // Why the walk ended early: Errc::recordMissing where the file no longer
    // holds the next record (it shrank after it was opened), or the read
    // error; empty after a whole walk.
    [[nodiscard]] std::error_code error() const { return error_; }

    class Iterator {
    public:
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using iterator_concept = std::input_iterator_tag;

        Iterator() = default;
        const Entry& operator*() const { return entry_; }
        const Entry* operator->() const { return &entry_; }
        Iterator& operator++()
        {
            if (walk_ != nullptr && !walk_->next(entry_)) {
                walk_ = nullptr;
            }
            return *this;
        }
        void operator++(int) { ++*this; }
        friend bool operator==(const Iterator& iterator, std::default_sentinel_t) { return iterator.walk_ == nullptr; }

    private:
        friend class EntryWalk;
        explicit Iterator(EntryWalk* walk) : walk_(walk) {}
        EntryWalk* walk_ = nullptr;
        Entry entry_{};
    };

    // Reads the first entry; iterate once only.
    Iterator begin() { return ++Iterator(this); }
    [[nodiscard]] std::default_sentinel_t end() const { return {}; }

private:
    const Archive* archive_;
    std::unique_ptr<detail::WalkWindow> window_;
    std::int32_t recordsRead_ = 0;
    std::error_code error_;
};

// One archive, opened once and held open until it is destroyed: every read
// goes to the file that was opened, so an archive renamed, replaced or
// deleted meanwhile keeps serving what was opened. Opening reads the header
// only; directory records are read when asked for, so a directory costs no
// memory whatever its size.
//
// Every const operation may be called from several threads at once: none
// keeps state between calls (reads are positioned, and a walk keeps its
// records in the walk).
class Archive {
public:
    static constexpr std::int64_t headerSize = 8;
    static constexpr std::int64_t recordSize = 74;

    // Opens the archive at `path`, which must be an existing regular file (a
    // link to one is followed). Never creates a file, and never waits (a
    // FIFO without a writer is refused at once). Errors: the system's reason
    // (no such file, permission denied, ...), std::errc::is_a_directory for
    // a folder, Errc::notRegularFile for anything else that is not a regular
    // file, or a read error of the header.
    static Result<Archive> open(const std::filesystem::path& path);
    // An archive held in memory: for tests, fuzzers and callers that hold
    // the file already.
    static Archive fromBytes(std::string bytes);

    Archive(Archive&& other) noexcept;
    Archive& operator=(Archive&& other) noexcept;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive();

    // The header's fields as stored (0 and 8 where the file is too short to
    // hold a header).
    [[nodiscard]] std::int32_t storedCount() const { return storedCount_; }
    [[nodiscard]] std::int32_t headerWord() const { return headerWord_; }
    // The records the file holds, up to what the header claims: entries
    // are numbered 0 to entryCount() - 1.
    [[nodiscard]] std::int32_t entryCount() const { return entryCount_; }
    // The file's size in bytes when it was opened.
    [[nodiscard]] std::int64_t size() const { return size_; }

    // Looks one entry up. Errors: Errc::noSuchEntry outside the directory,
    // Errc::recordMissing where the file no longer holds the record, or the
    // read error.
    [[nodiscard]] Result<Entry> entry(std::int32_t number) const;
    // A walk over every entry in order.
    [[nodiscard]] EntryWalk entries() const { return EntryWalk(*this); }

    // How many bytes of the entry's data the file held when it was opened:
    // its size, less what lies past the end of the file; 0 for a negative
    // size or offset. What a copy delivers, unless the file changes.
    [[nodiscard]] std::int64_t storedBytes(const Entry& entry) const;
    // Reads the entry's data from byte `from` of the entry on into `buffer`:
    // at most buffer.size() bytes, never past the entry's size. Fewer bytes
    // only where the file ends; a read that fails is an error, never a
    // short read.
    [[nodiscard]] Result<std::size_t> read(const Entry& entry, std::int64_t from, std::span<char> buffer) const;
    // Streams the entry's data to `sink`, through `buffer` (or a buffer of
    // its own, of at most 1 MiB, when it is empty), until the entry's size is
    // copied, the file ends, a read fails or the sink refuses.
    CopyResult copy(const Entry& entry, const ByteSink& sink, std::span<char> buffer = {}) const;
    // The same into the file at `path`, created or replaced as OutputFile
    // does (tre/OutputFile.h): a path that names this archive itself gets a
    // new file, and this archive still reads what it opened.
    CopyResult copyToFile(const Entry& entry, const std::filesystem::path& path) const;

    // The open file's descriptor (a HANDLE on Windows), for callers that hand
    // the data to the system themselves (splice, sendfile): the archive keeps
    // it open, and it must not be closed. -1 for an archive in memory.
    [[nodiscard]] std::intptr_t nativeHandle() const;

    // Whether the file's size, modification time or change time differ from
    // when it was opened: someone wrote to it, and bytes read meanwhile may
    // mix two versions. Replacements made through OutputFile do not count.
    [[nodiscard]] Result<bool> changedSinceOpened() const;

private:
    friend class EntryWalk;
    friend struct detail::ArchiveAccess;

    explicit Archive(std::unique_ptr<detail::Source> source);
    // The header's fields; the read error, if any.
    std::error_code readHeader();

    std::unique_ptr<detail::Source> source_;
    std::int32_t storedCount_ = 0;
    std::int32_t headerWord_ = headerSize;
    std::int32_t entryCount_ = 0;
    std::int64_t size_ = 0;
};

} // namespace tre
