#include "cli/Extraction.h"

#include <algorithm>
#include <span>

#include "cli/Output.h"
#include "support/ByteBlock.h"
#include "support/File.h"

namespace {

// A copy streams through a buffer this large, as copy tools do: it stays in
// the processor's cache, and a gigabyte entry costs no gigabyte of memory.
constexpr std::int32_t streamChunk = std::int32_t{1} << 20;

struct CopyResult {
    bool written;
    std::int64_t bytesRead;
};

bool writeOutputFile(const String& outputPath, std::span<const char> data)
{
    File file = File::createForWriting(outputPath);
    if (!file.isOpen()) {
        return false;
    }
    const bool written = file.writeAll(data.data(), static_cast<std::int64_t>(data.size()));
    return file.close() && written;
}

// Reads the entry whole before the output file is opened, so an output path
// that names the archive itself can be truncated safely. The buffer is sized
// by what the archive holds, so a damaged size never costs more memory than
// the file could supply.
CopyResult copyWhole(const TreArchive& archive, std::int32_t entryNumber, const String& outputPath)
{
    const ByteBlock buffer(static_cast<std::size_t>(archive.entryBytesAvailable(entryNumber)));
    const std::int32_t bytesRead = archive.readEntry(entryNumber, buffer.span());
    return {writeOutputFile(outputPath, buffer.span().first(static_cast<std::size_t>(bytesRead))), bytesRead};
}

// Copies chunk by chunk until the entry is done or the archive runs out.
CopyResult copyStreaming(const TreArchive& archive, std::int32_t entryNumber, const String& outputPath)
{
    File output = File::createForWriting(outputPath);
    if (!output.isOpen()) {
        return {false, 0};
    }
    const std::int32_t size = archive.entrySize(entryNumber);
    const ByteBlock buffer(static_cast<std::size_t>(std::min(archive.entryBytesAvailable(entryNumber), streamChunk)));
    std::int32_t copied = 0;
    bool written = true;
    while (written && copied < size && buffer.size() > 0) {
        const std::int32_t got = archive.readEntry(entryNumber, buffer.span(), copied);
        written = output.writeAll(buffer.data(), got);
        copied += got;
        if (got < static_cast<std::int32_t>(buffer.size())) {
            break;
        }
    }
    return {output.close() && written, copied};
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

    // Only the bytes actually read are ever written out, and no buffer is
    // filled before it is read into.
    const CopyResult copy = archive.isArchiveFile(outputPath) ? copyWhole(archive, entryNumber, outputPath)
                                                              : copyStreaming(archive, entryNumber, outputPath);
    if (!copy.written) {
        writeLine(out, "Exit Message: Cannot write output file (", outputPath, ").");
        return false;
    }
    if (size < 0) {
        writeLine(out, "Exit Message: Entry ", entryNumber, " has an invalid size (", size, ").");
        return false;
    }
    if (copy.bytesRead < size) {
        writeLine(out, "Exit Message: Read only ", copy.bytesRead, " of ", size, " bytes of entry ", entryNumber, ".");
        return false;
    }
    return true;
}
