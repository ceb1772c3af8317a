// Loads any bytes as an archive and walks every entry through every accessor
// and readEntry, checking that nothing is read that the file does not hold.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "ArchiveWriter.h"
#include "FuzzFiles.h"
#include "archive/TreArchive.h"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = fuzzFolder() + "/archive.tre";
    writeFile(path, std::string(reinterpret_cast<const char*>(data), size));

    TreArchive archive;
    if (archive.load(String(path.c_str())) != TreArchive::LoadResult::loaded) {
        std::abort();
    }
    // every record must come from bytes that are really there
    if (static_cast<std::size_t>(archive.entryCount()) * TreArchive::recordSize + TreArchive::headerSize > size &&
        archive.entryCount() != 0) {
        std::abort();
    }
    for (std::int32_t entry = 0; entry < archive.entryCount(); ++entry) {
        const String name = archive.entryName(entry);
        if (name.length() > static_cast<std::int32_t>(TreEntry::nameFieldSize) ||
            std::strlen(name.c_str()) != static_cast<std::size_t>(name.length())) {
            std::abort();
        }
        const std::int32_t entrySize = archive.entrySize(entry);
        const std::optional<TreEntry> record = archive.entry(entry);
        if (!record || record->size != entrySize || record->offset != archive.entryOffset(entry) ||
            record->nameText() != name.c_str()) {
            std::abort();
        }
        // what the file holds of the entry: all that a read may deliver
        const std::int32_t offset = archive.entryOffset(entry);
        const auto available = static_cast<std::int32_t>(
            entrySize <= 0 || offset < 0 || static_cast<std::size_t>(offset) >= size
                ? 0
                : std::min<std::int64_t>(entrySize, static_cast<std::int64_t>(size) - offset));
        // one byte more than available, which must stay unwritten
        const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(available) + 1);
        buffer[static_cast<std::size_t>(available)] = '#';
        const std::int32_t bytesRead =
            archive.readEntry(entry, {buffer.get(), static_cast<std::size_t>(available) + 1});
        if (bytesRead != available || buffer[static_cast<std::size_t>(available)] != '#') {
            std::abort();
        }
        if (bytesRead > 0 && std::memcmp(buffer.get(), data + offset, static_cast<std::size_t>(bytesRead)) != 0) {
            std::abort();
        }
    }
    return 0;
}
