#include "cli/Listing.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

#include "cli/Output.h"
#include "support/ByteBlock.h"
#include "support/File.h"

namespace {

// The longest listing line: entry number, ": ", a whole name field.
constexpr std::size_t maxLineSize = 16 + 2 + TreEntry::nameFieldSize;

// Writes the listing line of an entry, without a line end, at `at`, which
// has room for maxLineSize bytes; returns where the line ends.
char* formatLine(char* at, std::int32_t entryNumber, const TreEntry& entry, const ListingStyle& style)
{
    at = std::to_chars(at, at + 16, entryNumber).ptr;
    *at++ = ':';
    *at++ = ' ';
    return copyShownName(at, entry.nameText(), style.terminal);
}

// Hands the listing line of each entry to `sink` in entry-number order, until
// a record cannot be read or the sink refuses; returns the records read.
// `sink(n, entry)` formats the line itself, where it wants it.
template <typename Sink> std::int32_t forEachEntry(const TreArchive& archive, Sink&& sink)
{
    // Each record is copied one step ahead of its use: reading bytes right
    // after they were written stalls the processor.
    std::array<TreEntry, 2> entries{};
    bool haveNext = archive.readRecord(0, entries[0]);
    for (std::int32_t entryNumber = 0; entryNumber < archive.entryCount(); ++entryNumber) {
        if (!haveNext) {
            return entryNumber;
        }
        const TreEntry& entry = entries[static_cast<std::size_t>(entryNumber) & 1U];
        haveNext = entryNumber + 1 < archive.entryCount() &&
                   archive.readRecord(entryNumber + 1, entries[static_cast<std::size_t>(entryNumber + 1) & 1U]);
        if (!sink(entryNumber, entry)) {
            return entryNumber + 1;
        }
    }
    return archive.entryCount();
}

// The list file's text goes through one buffer, written out whenever it
// fills: a few large writes instead of one per line. Every write is checked.
class BufferedWriter {
public:
    explicit BufferedWriter(File& file) : file_(file), buffer_(bufferSize) {}

    // Room for `size` more bytes; commit() says how many were used.
    char* space(std::size_t size)
    {
        if (size > buffer_.size() - used_) {
            flush();
        }
        return buffer_.data() + used_;
    }

    void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

    bool finish()
    {
        flush();
        return written_;
    }

private:
    static constexpr std::size_t bufferSize = std::size_t{1} << 20;

    void flush()
    {
        written_ = written_ && file_.writeAll(buffer_.data(), static_cast<std::int64_t>(used_));
        used_ = 0;
    }

    File& file_;
    ByteBlock buffer_;
    std::size_t used_ = 0;
    bool written_ = true;
};

bool writeListing(File& file, const TreArchive& archive, std::int32_t& recordsRead)
{
    if (!file.isOpen()) {
        return false;
    }
    BufferedWriter writer(file);
    const std::string_view lineEnd = textFileLineEnd;
    recordsRead = forEachEntry(archive, [&](std::int32_t entryNumber, const TreEntry& entry) {
        char* end = formatLine(writer.space(maxLineSize + lineEnd.size()), entryNumber, entry, ListingStyle{});
        writer.commit(std::copy(lineEnd.begin(), lineEnd.end(), end));
        return true;
    });
    return writer.finish();
}

bool reportShortDirectory(std::ostream& out, const TreArchive& archive, std::int32_t recordsRead)
{
    if (recordsRead < archive.entryCount()) {
        writeLine(out, "Exit Message: Read only ", recordsRead, " of ", archive.entryCount(), " directory records.");
        return false;
    }
    return true;
}

} // namespace

std::int32_t listDirectory(std::ostream& out, const TreArchive& archive, const ListingStyle& style)
{
    std::array<char, maxLineSize> line{};
    return forEachEntry(archive, [&](std::int32_t entryNumber, const TreEntry& entry) {
        const char* end = formatLine(line.data(), entryNumber, entry, style);
        writeLine(out, std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
        return out.good();
    });
}

bool listToConsole(std::ostream& out, const TreArchive& archive, const ListingStyle& style)
{
    const std::int32_t recordsRead = listDirectory(out, archive, style);
    return !out.good() || reportShortDirectory(out, archive, recordsRead);
}

bool listToFile(std::ostream& out, const TreArchive& archive, const String& listPath)
{
    std::int32_t recordsRead = 0;
    bool written = false;
    if (archive.isArchiveFile(listPath)) {
        // the archive's path gets a new file; the loaded one stays open for later actions
        ReplacementFile replacement(listPath);
        written = writeListing(replacement.file(), archive, recordsRead) && replacement.commit();
    } else {
        File file = File::createForWriting(listPath);
        written = writeListing(file, archive, recordsRead) && file.close();
    }
    if (!written) {
        writeLine(out, "Exit Message: Cannot write list file (", listPath, ").");
        return false;
    }
    return reportShortDirectory(out, archive, recordsRead);
}
