#include "cli/Extraction.h"

#include <algorithm>
#include <span>

#include "cli/Output.h"
#include "support/ByteBlock.h"

namespace {

CopyResult copyToPath(const TreArchive& archive, std::int32_t entryNumber, std::int32_t size, const String& outputPath)
{
    // sized by the stored size alone, never by what the file holds at the start
    const ByteBlock buffer(size > 0 ? std::min(static_cast<std::size_t>(size), copyBufferSize) : 0);
    CopyResult copy{};
    const bool written = writeOutputFile(archive, outputPath, [&](File& output) {
        copy = copyEntryData(output, archive, entryNumber, size, buffer.span());
        return copy.written;
    });
    copy.written = written;
    return copy;
}

} // namespace

CopyResult copyEntryData(File& output, const TreArchive& archive, std::int32_t entryNumber, std::int32_t size,
                         std::span<char> buffer)
{
    if (!output.isOpen()) {
        return {false, 0};
    }
    std::int32_t copied = 0;
    while (copied < size && !buffer.empty()) {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size - copied, std::ssize(buffer)));
        const std::int32_t got = archive.readEntry(entryNumber, buffer.first(wanted), copied);
        if (!output.writeAll(buffer.data(), got)) {
            return {false, copied};
        }
        copied += got;
        if (static_cast<std::size_t>(got) < wanted) {
            break; // the archive ends inside the entry
        }
    }
    return {true, copied};
}

std::string copyReport(std::string_view shownName, std::string_view path, const TreEntry& entry)
{
    std::string text = "Outputting file (";
    text.append(shownName).append(") to file (").append(path).append(").\nFilesize is ");
    return text + std::to_string(entry.size) + ", and file offset is " + std::to_string(entry.offset) + ".";
}

std::optional<std::string> copyFailure(std::int32_t entryNumber, const TreEntry& entry, const CopyResult& copy,
                                       std::string_view path)
{
    const std::string number = std::to_string(entryNumber);
    if (!copy.written) {
        return "Exit Message: Cannot write output file (" + std::string(path) + ").";
    }
    if (entry.size < 0) {
        return "Exit Message: Entry " + number + " has an invalid size (" + std::to_string(entry.size) + ").";
    }
    if (copy.bytesRead < entry.size) {
        return "Exit Message: Read only " + std::to_string(copy.bytesRead) + " of " + std::to_string(entry.size) +
               " bytes of entry " + number + ".";
    }
    return std::nullopt;
}

bool extractEntry(std::ostream& out, const TreArchive& archive, std::int32_t entryNumber, const String& outputPath,
                  bool terminal)
{
    if (entryNumber < 0 || entryNumber >= archive.entryCount()) {
        writeLine(out, "Invalid TRE_Filenum.");
        return true;
    }
    const std::optional<TreEntry> entry = archive.entry(entryNumber);
    if (!entry) {
        writeLine(out, "Exit Message: Cannot read the directory record of entry ", entryNumber, ".");
        return false;
    }
    // the report comes before any data is read, so it stands even when the copy fails
    writeLine(out, copyReport(shownName(entry->nameText(), terminal), outputPath.c_str(), *entry));
    const CopyResult copy = copyToPath(archive, entryNumber, entry->size, outputPath);
    if (const std::optional<std::string> failure = copyFailure(entryNumber, *entry, copy, outputPath.c_str())) {
        writeLine(out, *failure);
        return false;
    }
    return true;
}
