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
// and a count of zero or less reads as empty. checkArchive() (tre/Check.h)
// says what is damaged.

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
#include <vector>

#include "tre/Api.h"
#include "tre/Error.h"

namespace tre {

namespace detail {
struct ArchiveState;
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

// Receives a copy's bytes in order; an error code stops the copy.
using ByteSink = std::function<std::error_code(std::span<const char> bytes)>;

class Archive;

// A walk over the directory front to back, reading records ahead in large
// reads (at most 1 MiB at a time, whatever the directory's size). A walk is
// used by one thread; any number of walks may run on one archive at once. It
// shares the archive's insides, so it stays valid when the Archive object
// is moved or destroyed.
//
// As a range it gives each entry as a Result, so that a directory that
// cannot be read to its end is never mistaken for a shorter one: the last
// element is then the error.
//
//     for (const tre::Result<tre::Entry>& entry : archive.entries()) {
//         if (!entry) {
//             std::cerr << entry.error().message() << '\n'; // the file shrank, or a read failed
//             break;
//         }
//         std::cout << entry->number << ": " << entry->name() << '\n';
//     }
//
// next() is the same walk without a Result per entry, for loops that check
// error() once at the end.
class TRE_API EntryWalk {
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
        using value_type = Result<Entry>;
        using difference_type = std::ptrdiff_t;
        using iterator_concept = std::input_iterator_tag;

        Iterator() = default;
        const Result<Entry>& operator*() const { return current_; }
        const Result<Entry>* operator->() const { return &current_; }
        Iterator& operator++()
        {
            Entry entry;
            if (walk_ == nullptr || !current_.has_value()) {
                walk_ = nullptr; // the error was the last element
            } else if (walk_->next(entry)) {
                current_ = entry;
            } else if (walk_->error()) {
                current_ = Error{Step::readArchive, walk_->error()};
            } else {
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
        Result<Entry> current_ = Entry{};
    };

    // Reads the first entry; iterate once only.
    Iterator begin() { return ++Iterator(this); }
    [[nodiscard]] std::default_sentinel_t end() const { return {}; }

private:
    std::shared_ptr<const detail::ArchiveState> archive_;
    std::unique_ptr<detail::WalkWindow> window_;
    std::int32_t recordsRead_ = 0;
    std::error_code error_;
};

// One archive, opened once and held open until it is destroyed (and every
// walk, extraction and tree made from it is): every read goes to the file
// that was opened, so an archive renamed, replaced or deleted meanwhile
// keeps serving what was opened. Opening reads the header only; directory
// records are read when asked for, so a directory costs no memory whatever
// its size.
//
// Costs: entry(n) is one read of 74 bytes (a pread); a walk reads 1 MiB of
// records at a time; findEntry() walks the whole directory; read() and
// copy() read the entry's bytes, 1 MiB at a time at most.
//
// Every const operation may be called from several threads at once: none
// keeps state between calls (reads are positioned, and a walk keeps its
// records in the walk). A moved-from Archive may only be assigned or
// destroyed.
class TRE_API Archive {
public:
    static constexpr std::int64_t headerSize = 8;
    static constexpr std::int64_t recordSize = 74;

    // Opens the archive at `path`, which must be an existing regular file (a
    // link to one is followed). Never creates a file, and never waits (a
    // FIFO without a writer is refused at once). Errors (Step::openArchive,
    // or Step::readArchive for the header): the system's reason (no such
    // file, permission denied, ...), std::errc::is_a_directory for a
    // folder, Errc::notRegularFile for anything else that is not a regular
    // file.
    static Result<Archive> open(const std::filesystem::path& path);
    // An archive held in memory, copied into it: for tests, fuzzers and
    // callers that hold the file already. It cannot fail.
    static Archive fromBytes(std::string bytes);
    // An archive over the caller's bytes, not copied: they must outlive the
    // archive and everything made from it (walks, trees, extractions).
    static Archive overBytes(std::span<const std::byte> bytes);

    Archive(Archive&& other) noexcept;
    Archive& operator=(Archive&& other) noexcept;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive();

    // The header's fields as stored (0 and 8 where the file is too short to
    // hold a header).
    [[nodiscard]] std::int32_t storedCount() const;
    [[nodiscard]] std::int32_t headerWord() const;
    // The records the file holds, up to what the header claims: entries
    // are numbered 0 to entryCount() - 1.
    [[nodiscard]] std::int32_t entryCount() const;
    // The file's size in bytes when it was opened.
    [[nodiscard]] std::int64_t size() const;

    // Looks one entry up by number. Errors (Step::readArchive):
    // Errc::noSuchEntry outside the directory, Errc::recordMissing where the
    // file no longer holds the record, or the read error.
    [[nodiscard]] Result<Entry> entry(std::int32_t number) const;

    // Which of several entries with the same name findEntry() gives: the
    // last is the one that an extraction leaves, as later entries replace
    // earlier ones.
    enum class Match { first, last };
    // Looks an entry up by its whole name (bytes compared as they are).
    // Errors (Step::readArchive): Errc::noSuchEntry where no entry has that
    // name, or why the directory could not be read far enough to know.
    [[nodiscard]] Result<Entry> findEntry(std::string_view name, Match which = Match::last) const;

    // A walk over every entry in order.
    [[nodiscard]] EntryWalk entries() const { return EntryWalk(*this); }

    // How many bytes of the entry's data the file held when it was opened:
    // its size, less what lies past the end of the file; 0 for a negative
    // size or offset. What a copy delivers, unless the file changes.
    [[nodiscard]] std::int64_t storedBytes(const Entry& entry) const;
    // Reads the entry's data from byte `from` of the entry on into `buffer`:
    // at most buffer.size() bytes, never past the entry's size. Fewer bytes
    // only where the file ends; none for a `from` outside 0 to size - 1, an
    // empty buffer or a negative offset. A read that fails is an error
    // (Step::readArchive), never a short read.
    [[nodiscard]] Result<std::size_t> read(const Entry& entry, std::int64_t from, std::span<char> buffer) const;
    // The entry's whole data. Errors (Step::readArchive):
    // Errc::invalidEntry for a negative size or offset, Errc::dataMissing
    // where the file does not hold all of it, or the read error. Allocates
    // the entry's size only once the file is known to hold that much.
    [[nodiscard]] Result<std::vector<std::byte>> readBytes(const Entry& entry) const;
    [[nodiscard]] Result<std::string> readString(const Entry& entry) const;
    // Streams the entry's data to `sink`, through `buffer` (or a buffer of
    // its own, of at most 1 MiB, when it is empty), until the entry's size is
    // copied or the file ends; the value is the bytes copied, fewer than the
    // size only where the file ends. Errors: Step::readArchive where a read
    // fails, Step::writeFile with the sink's code where it refuses.
    [[nodiscard]] Result<std::int64_t> copy(const Entry& entry, const ByteSink& sink,
                                            std::span<char> buffer = {}) const;
    // The same into the file at `path`, created or replaced as OutputFile
    // does (tre/OutputFile.h): a path that names this archive itself gets a
    // new file, and this archive still reads what it opened. That new file
    // takes the archive's name only once it is written whole; any other file
    // is written in place, and holds what was written.
    [[nodiscard]] Result<std::int64_t> copyToFile(const Entry& entry, const std::filesystem::path& path) const;

    // The open file's descriptor (a HANDLE on Windows), for callers that hand
    // the data to the system themselves (splice, sendfile): the archive keeps
    // it open, and it must not be closed. -1 for an archive in memory.
    [[nodiscard]] std::intptr_t nativeHandle() const;

    // Whether the file's size, modification time or change time differ from
    // when it was opened: someone wrote to it (or renamed, linked or chmod-ed
    // it), and bytes read meanwhile may mix two versions. Replacements made
    // through OutputFile do not count.
    [[nodiscard]] Result<bool> changedSinceOpened() const;
    // Whether its size or modification time differ: someone wrote to it. A
    // rename or a new link, which move the change time only, do not count.
    [[nodiscard]] Result<bool> writtenSinceOpened() const;

private:
    friend struct detail::ArchiveAccess;
    explicit Archive(std::shared_ptr<detail::ArchiveState> state);
    std::shared_ptr<detail::ArchiveState> state_;
};

} // namespace tre
