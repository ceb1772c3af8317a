#pragma once

// What an ArchivePlan holds, compactly: a million entries cost some 32
// bytes each beside their names, which lie one after another in one
// string. Internal to the library.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archive/read/ArchiveState.h"
#include "tre/Writer.h"

namespace tre::detail {

enum class SourceKind : std::uint8_t { file, bytes, archive };

struct PlannedEntry {
    std::uint32_t nameAt = 0; // in PlanData::names
    std::uint8_t nameLength = 0;
    std::uint8_t prefixByte = 0;
    SourceKind kind = SourceKind::bytes;
    // the name filled its field in the archive it came from (65 bytes, no NUL)
    bool fullField : 1 = false;
    // an archive's entry whose record, at the same data offset, is the one
    // this entry gets: its name field holds zeros after the name, and its
    // bytes are all there
    bool recordAsIs : 1 = false;
    // a file: its index in paths; bytes: in buffers; an archive: in archives
    std::uint32_t source = 0;
    // an archive's entry: where its bytes start there (its record's offset)
    std::int32_t offset = 0;
    // the bytes it takes (-1 for a file not yet looked at)
    std::int64_t size = 0;
    // a file: its modification time when check() looked at it; an
    // archive's entry: its number there
    std::int64_t modified = 0;
};

struct PlanData {
    std::int32_t headerWord = ArchivePlan::defaultHeaderWord;
    std::string names;
    std::vector<PlannedEntry> entries;
    // the files' paths, one after another, each with the place where it starts
    NativePath pathChars;
    std::vector<std::uint64_t> pathAt;
    std::vector<std::span<const std::byte>> buffers;
    std::vector<std::shared_ptr<ArchiveState>> archives;
    // names past what 32-bit offsets reach: the plan is far past any limit
    bool overflowed = false;
    // check() found nothing wrong, and nothing changed since; the size it found
    bool checked = false;
    std::int64_t archiveSize = 0;
};

inline NativePathView pathOf(const PlanData& data, std::uint32_t file)
{
    return NativePathView(data.pathChars).substr(data.pathAt[file], data.pathAt[file + 1] - data.pathAt[file]);
}

struct PlanAccess {
    static PlanData& data(ArchivePlan& plan) { return *plan.data_; }
};

} // namespace tre::detail
