#include "cli/Extraction.h"

#include <memory>
#include <span>

#include "cli/Output.h"
#include "support/File.h"

namespace {

bool writeOutputFile(const String& outputPath, std::span<const char> data)
{
    File file = File::createForWriting(outputPath);
    if (!file.isOpen()) {
        return false;
    }
    const bool written = file.writeAll(data.data(), static_cast<std::int64_t>(data.size()));
    return file.close() && written;
}

} // namespace

bool extractEntry(std::ostream& out, const TreArchive& archive, std::int32_t entryNumber, const String& outputPath)
{
    if (entryNumber < 0 || entryNumber >= archive.entryCount()) {
        writeLine(out, "Invalid TRE_Filenum.");
        return true;
    }
    const std::int32_t size = archive.entrySize(entryNumber);
    // the report comes before any data is read, so it stands even when the copy fails
    writeLine(out, "Outputting file (", archive.entryName(entryNumber), ") to file (", outputPath, ").");
    writeLine(out, "Filesize is ", size, ", and file offset is ", archive.entryOffset(entryNumber), ".");

    // Sized by what the archive holds, not by the stored size, so a damaged
    // size never costs more memory than the file could supply. No zero fill:
    // only the bytes actually read are ever written out.
    const std::int32_t available = archive.entryBytesAvailable(entryNumber);
    const auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(available));
    const std::int32_t bytesRead = archive.readEntry(entryNumber, {buffer.get(), static_cast<std::size_t>(available)});

    // the entry is read whole before the output file is opened, so an output
    // path naming the archive itself is safe to truncate
    if (!writeOutputFile(outputPath, {buffer.get(), static_cast<std::size_t>(bytesRead)})) {
        writeLine(out, "Exit Message: Cannot write output file (", outputPath, ").");
        return false;
    }
    if (size < 0) {
        writeLine(out, "Exit Message: Entry ", entryNumber, " has an invalid size (", size, ").");
        return false;
    }
    if (bytesRead < size) {
        writeLine(out, "Exit Message: Read only ", bytesRead, " of ", size, " bytes of entry ", entryNumber, ".");
        return false;
    }
    return true;
}
