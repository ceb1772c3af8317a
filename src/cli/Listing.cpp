#include "cli/Listing.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/Output.h"
#include "support/ByteBlock.h"
#include "support/File.h"

namespace {

void formatLine(std::string& line, std::int32_t entryNumber, const TreEntry& entry, const ListingStyle& style)
{
    line.clear();
    std::array<char, 16> digits{};
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), entryNumber).ptr;
    line.append(digits.data(), static_cast<std::size_t>(end - digits.data()));
    line += ": ";
    appendShownName(line, entry.nameText(), style.terminal);
}

// Hands the listing line of each entry to `sink` in entry-number order, until
// a record cannot be read or the sink refuses; returns the records read.
template <typename Sink> std::int32_t forEachLine(const TreArchive& archive, const ListingStyle& style, Sink&& sink)
{
    std::string line;
    for (std::int32_t entryNumber = 0; entryNumber < archive.entryCount(); ++entryNumber) {
        const std::optional<TreEntry> entry = archive.entry(entryNumber);
        if (!entry) {
            return entryNumber;
        }
        formatLine(line, entryNumber, *entry, style);
        if (!sink(line)) {
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

    void append(std::string_view text)
    {
        if (text.size() > buffer_.size() - used_) {
            flush();
        }
        std::memcpy(buffer_.data() + used_, text.data(), text.size());
        used_ += text.size();
    }

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
    recordsRead = forEachLine(archive, ListingStyle{}, [&](const std::string& line) {
        writer.append(line);
        writer.append(textFileLineEnd);
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
    return forEachLine(archive, style, [&](const std::string& line) {
        writeLine(out, line);
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
