#pragma once

// Writing TRE archives: a plan of what goes in, checked against every limit
// of the format before a byte is written, then written to a file or to any
// sink of bytes.
//
// The layout is fixed, so the same plan always gives the same bytes: the
// 8-byte header, one 74-byte record per entry, then each entry's bytes in
// the directory's order, contiguous, with nothing between or after them.
// A name field holds the name, a NUL and zeros to its end (a name of 65
// bytes, copied from an archive whose field it filled, fills it again).
//
//     tre::ArchivePlan plan;
//     plan.addBytes("readme.txt", std::as_bytes(std::span(text)));
//     plan.addFile("data/level1.dat", "build/level1.dat");
//     const tre::PlanCheck check = plan.check();
//     if (!check.ok()) { ... } // check.problems says what and which entry
//     tre::Result<std::int64_t> written = tre::writeArchive(plan, "new.tre");

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tre/Api.h"
#include "tre/Archive.h"
#include "tre/Error.h"

namespace tre {

namespace detail {
struct PlanData;
struct PlanAccess;
} // namespace detail

// One thing check() found that the format cannot hold, or an input that
// cannot be read.
struct PlanProblem {
    // the entry (its index in the plan), or wholeArchive
    static constexpr std::size_t wholeArchive = std::numeric_limits<std::size_t>::max();
    std::size_t entry = wholeArchive;
    // Step::planArchive with Errc::nameTooLong, Errc::nameHoldsNul,
    // Errc::entryTooLarge or Errc::archiveTooLarge; Step::readFile with the
    // system's reason why a file cannot be read
    Error error;
    // for entryTooLarge the entry's size, for archiveTooLarge the archive's
    // (or its entry count, where there are too many entries)
    std::int64_t size = 0;
};

struct PlanCheck {
    std::vector<PlanProblem> problems;
    // the size of the archive the plan makes, in bytes
    std::int64_t archiveSize = 0;
    [[nodiscard]] bool ok() const { return problems.empty(); }
};

// What goes into a new archive: the header word, and the entries in the
// order they are written, each with its name, prefix byte and where its
// bytes come from (a file, a range of another archive, or a caller's
// buffer). Adding takes no time and reads nothing; check() looks at every
// input. A plan of a million entries costs some 30 bytes an entry beside
// the names.
class TRE_API ArchivePlan {
public:
    static constexpr std::int32_t defaultHeaderWord = 8;
    // The largest entry and archive the format's signed 32-bit offsets and
    // sizes can describe.
    static constexpr std::int64_t sizeLimit = std::numeric_limits<std::int32_t>::max();

    ArchivePlan();
    ArchivePlan(ArchivePlan&& other) noexcept;
    ArchivePlan& operator=(ArchivePlan&& other) noexcept;
    ArchivePlan(const ArchivePlan&) = delete;
    ArchivePlan& operator=(const ArchivePlan&) = delete;
    ~ArchivePlan();

    // The header's second word, as stored: 8 unless set.
    void setHeaderWord(std::int32_t word);
    [[nodiscard]] std::int32_t headerWord() const;

    // Each appends an entry and returns its index. The file is read when the
    // archive is written: its size and modification time when check() runs
    // must still be its own then.
    std::size_t addFile(std::string_view name, const std::filesystem::path& path, std::uint8_t prefixByte = 0);
    // The caller's bytes, not copied: they must outlive the writing.
    std::size_t addBytes(std::string_view name, std::span<const std::byte> bytes, std::uint8_t prefixByte = 0);
    // Another archive's entry, with its name, prefix byte and the bytes the
    // archive holds of it (storedBytes(): fewer than its size where its data
    // runs past the end of the archive, none where its size or offset is
    // negative). The archive is shared, so it may be destroyed meanwhile.
    std::size_t addEntry(const Archive& archive, const Entry& from);

    // Room for this many entries, made at once (growing would copy what is
    // there, more than once, for a large plan).
    void reserve(std::size_t entries);

    // Where an entry's bytes come from, replaced: its name (a full field
    // too), place and prefix byte stay.
    void replaceWithFile(std::size_t index, const std::filesystem::path& path);
    void replaceWithBytes(std::size_t index, std::span<const std::byte> bytes);

    [[nodiscard]] std::size_t entryCount() const;
    [[nodiscard]] std::string_view name(std::size_t index) const;
    [[nodiscard]] std::uint8_t prefixByte(std::size_t index) const;
    // The entry's size: known for buffers and archive entries, and for
    // files once check() has looked at them (-1 before).
    [[nodiscard]] std::int64_t size(std::size_t index) const;

    // Looks at every entry: names of at most 64 bytes (65 only where copied
    // from a field they filled) without a NUL, sizes the format can hold,
    // files that exist and may be read (their sizes and modification times
    // are taken here), at most 2^31 - 1 entries and bytes in all. One stat
    // and one access check a file.
    [[nodiscard]] PlanCheck check();

private:
    friend struct detail::PlanAccess;
    std::unique_ptr<detail::PlanData> data_;
};

// How far a write is.
struct WriteProgress {
    // the entry whose bytes are being copied (its index in the plan)
    std::size_t entry = 0;
    // entries whose bytes are all written, and bytes written in all
    std::size_t entriesDone = 0;
    std::int64_t bytesDone = 0;
};

struct WriteOptions {
    // Called as each entry's bytes start, and every 64 MiB within an entry;
    // returning false stops the write (std::errc::operation_canceled). An
    // error while an entry's bytes are copied is that entry's: the last one
    // this was called for.
    std::function<bool(const WriteProgress&)> progress;
};

// Writes the plan (checked first where check() has not passed) to the file
// at `path`: a new file in its folder, flushed to the disk and moved over
// `path` only once complete, so that a crash, a full disk or a stop at any
// moment leaves the old file or the new one, never a mixture, and no
// temporary file behind but where the process is killed outright. A file it
// replaces keeps its mode (and owner, where the user may give it); a new one
// gets 0666 less the umask. Bytes are copied inside the kernel where the
// system can. The value is the archive's size. Errors: the first problem of
// check() (Step::planArchive or Step::readFile); Step::readFile with
// Errc::changedWhileRead where a file's size or modification time changed
// since check(), or it could not be read to its end (or an archive entry's
// bytes are no longer all there); the system's reason for a file that
// cannot be read (Step::readFile) or written (Step::createFile,
// Step::writeFile, Step::closeFile).
[[nodiscard]] TRE_API Result<std::int64_t> writeArchive(ArchivePlan& plan, const std::filesystem::path& path,
                                                        const WriteOptions& options = {});
// The same to any sink of bytes (a pipe, a socket, memory), in order: what
// reached the sink before an error stays there.
[[nodiscard]] TRE_API Result<std::int64_t> writeArchive(ArchivePlan& plan, const ByteSink& sink,
                                                        const WriteOptions& options = {});

} // namespace tre
