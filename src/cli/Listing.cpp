#include "cli/Listing.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

#include "cli/EntryWalk.h"
#include "cli/Output.h"
#include "support/ByteBlock.h"
#include "support/File.h"

namespace {

constexpr std::size_t numberSize = 16;
constexpr std::string_view bytesAtOffset = " bytes at offset ";
// The longest listing line: "N: name (S bytes at offset O)", a whole name field.
constexpr std::size_t maxLineSize =
    numberSize + 2 + TreEntry::nameFieldSize + 2 + numberSize + bytesAtOffset.size() + numberSize + 1;

char* appendNumber(char* at, std::int32_t number) { return std::to_chars(at, at + numberSize, number).ptr; }

// Writes the listing line of an entry, without a line end, at `at`, which
// has room for maxLineSize bytes; returns where the line ends.
char* formatLine(char* at, std::int32_t entryNumber, const TreEntry& entry, const ListingStyle& style)
{
    at = appendNumber(at, entryNumber);
    *at++ = ':';
    *at++ = ' ';
    at = copyShownName(at, entry.nameText(), style.terminal);
    if (style.verbose) {
        *at++ = ' ';
        *at++ = '(';
        at = appendNumber(at, entry.size);
        at = std::copy(bytesAtOffset.begin(), bytesAtOffset.end(), at);
        at = appendNumber(at, entry.offset);
        *at++ = ')';
    }
    return at;
}

// The list file's text goes through one buffer, written out whenever it
// fills: a few large writes instead of one per line. Every write is checked.
class BufferedWriter {
public:
    // `expectedSize` bounds the buffer, so a short listing takes no megabyte
    BufferedWriter(File& file, std::size_t expectedSize) : file_(file), buffer_(std::min(expectedSize, maxBufferSize))
    {
    }

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
    static constexpr std::size_t maxBufferSize = std::size_t{1} << 20;

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

bool writeListing(File& file, const TreArchive& archive, const ListingStyle& style, std::int32_t& recordsRead)
{
    if (!file.isOpen()) {
        return false;
    }
    const std::string_view lineEnd = textFileLineEnd;
    BufferedWriter writer(file, (static_cast<std::size_t>(archive.entryCount()) + 1) * (maxLineSize + lineEnd.size()));
    recordsRead = forEachSelectedEntry(archive, style.selection, [&](std::int32_t entryNumber, const TreEntry& entry) {
        char* end = formatLine(writer.space(maxLineSize + lineEnd.size()), entryNumber, entry, style);
        writer.commit(std::copy(lineEnd.begin(), lineEnd.end(), end));
        return true;
    });
    return writer.finish();
}

} // namespace

std::int32_t listDirectory(std::ostream& out, const TreArchive& archive, const ListingStyle& style)
{
    std::array<char, maxLineSize> line{};
    return forEachSelectedEntry(archive, style.selection, [&](std::int32_t entryNumber, const TreEntry& entry) {
        const char* end = formatLine(line.data(), entryNumber, entry, style);
        writeLine(out, std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
        return out.good();
    });
}

bool listToConsole(std::ostream& out, const TreArchive& archive, const ListingStyle& style)
{
    const std::int32_t recordsRead = listDirectory(out, archive, style);
    // a listing cut short by standard output itself is the driver's to report
    return !out.good() || reportShortDirectory(out, archive, recordsRead);
}

bool listToFile(std::ostream& out, const TreArchive& archive, const String& listPath, const ListingStyle& style)
{
    ListingStyle asStored = style;
    asStored.terminal = false;
    std::int32_t recordsRead = 0;
    const bool written = writeOutputFile(
        archive, listPath, [&](File& file) { return writeListing(file, archive, asStored, recordsRead); });
    if (!written) {
        writeLine(out, "Exit Message: Cannot write list file (", listPath, ").");
        return false;
    }
    return reportShortDirectory(out, archive, recordsRead);
}
