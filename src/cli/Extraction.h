#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "archive/TreArchive.h"
#include "support/File.h"
#include "support/String.h"

// Copies entry `entryNumber` into the file at outputPath, reporting on `out`
// what it copies; names are shown terminal-safe when `terminal` is set.
// Returns false when it printed an "Exit Message" line (the output file could
// not be written, or the entry could not be read whole); an entry number out
// of range is reported but is not a failure.
bool extractEntry(std::ostream& out, const TreArchive& archive, std::int32_t entryNumber, const String& outputPath,
                  bool terminal = false);

struct CopyResult {
    bool written;
    std::int64_t bytesRead;
};

// A copy streams through a buffer this large, as copy tools do: it stays in
// the processor's cache, and a gigabyte entry costs no gigabyte of memory.
inline constexpr std::size_t copyBufferSize = std::size_t{1} << 20;

// The two report lines of an entry about to be copied to `path` (both as
// shown), without the last line end: they stand before any data is read.
std::string copyReport(std::string_view shownName, std::string_view path, const TreEntry& entry);

// The "Exit Message" line for a copy that did not deliver the entry whole
// (the output could not be written, the size is invalid, the archive ran
// out); none when it did.
std::optional<std::string> copyFailure(std::int32_t entryNumber, const TreEntry& entry, const CopyResult& copy,
                                       std::string_view path);

// Streams the entry's data into an open file through `buffer`, until `size`
// bytes are copied or the archive runs out; only bytes actually read are
// written. Does not close the file.
CopyResult copyEntryData(File& output, const TreArchive& archive, std::int32_t entryNumber, std::int32_t size,
                         std::span<char> buffer);
