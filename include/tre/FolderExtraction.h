#pragma once

// Safe extraction of entries into a folder, by their names.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tre/Api.h"
#include "tre/Archive.h"
#include "tre/Error.h"

namespace tre {

namespace detail {
struct ExtractionState;
}

enum class Outcome {
    written,               // the file was created and filled with what the archive holds (`bytes`)
    unsafeName,            // the name cannot become a path (entryPathComponents)
    throughLink,           // a link stands where one of the entry's folders should be
    wouldOverwriteArchive, // the path leads to the archive itself
    failed,                // the file could not be created, written or filled from the archive: `error` says why
    notAttempted,          // an earlier entry found the disk full or a quota exceeded
};

// "written", "unsafe name", ...
TRE_API const char* describe(Outcome outcome) noexcept;

struct ExtractedEntry {
    Outcome outcome = Outcome::notAttempted;
    // The path's components below the folder: views into the entry's name,
    // valid as long as the Entry. Empty for an unsafe name.
    std::vector<std::string_view> path;
    // For `failed`: what was being done, and the reason. Where a file stands
    // where a folder of the path is needed the reason is "not a directory";
    // where a folder stands at the file's own path, "is a directory"; where
    // the archive could not be read, the step is Step::readArchive.
    Error error;
    // The bytes copied into the file (`written`, and `failed` once the file
    // was created). The entry is whole when it is `written` and bytes ==
    // entry.size: fewer where its data runs past the end of the archive; an
    // entry with a negative size gets an empty file.
    std::int64_t bytes = 0;

    // "written", "unsafe name", "creating a file: Permission denied", ...
    [[nodiscard]] std::string message() const
    {
        return outcome == Outcome::failed ? error.message() : std::string(describe(outcome));
    }
};

// A folder that entries are extracted into, under every rule of a safe
// extraction:
// - names become paths by entryPathComponents() under the platform's rules;
//   unsafe names are skipped;
// - nothing is written outside the folder, and no link inside it is ever
//   followed: a link where a folder of a path should be skips the entry, and
//   a file, link or hard link at the entry's own path is replaced by a new
//   file, never written through;
// - the archive itself is never overwritten, whatever name leads to it;
// - a later entry with the same path replaces the earlier one;
// - once the disk is full or a quota exceeded, nothing more is attempted.
// The folders of the last path stay open, so entries that share folders
// create and check them once.
//
//     tre::Result<tre::FolderExtraction> folder = tre::FolderExtraction::open(archive, "out");
//     if (!folder) {
//         std::cerr << folder.error().message() << '\n'; // "creating a folder: Permission denied"
//         return 1;
//     }
//     const tre::Pattern selection("*.txt");
//     for (const tre::Result<tre::Entry>& entry : archive.entries()) {
//         if (!entry) {
//             break; // the directory could not be read to its end
//         }
//         if (selection.matches(entry->name())) {
//             const tre::ExtractedEntry result = folder->extract(*entry);
//             std::cout << entry->name() << ": " << result.message() << '\n';
//         }
//     }
//
// It shares the archive's insides, so it stays valid when the Archive object
// is moved or destroyed.
class TRE_API FolderExtraction {
public:
    // Creates the folder with its missing parents where needed and opens it.
    // Errors (Step::createFolder): the system's reason ("no such file or
    // directory" for an empty path); "not a directory"
    // where the path, or a folder on the way, is a file. A folder given as a
    // link to a folder is used: the caller chose it.
    static Result<FolderExtraction> open(const Archive& archive, const std::filesystem::path& folder);

    FolderExtraction(FolderExtraction&& other) noexcept;
    FolderExtraction& operator=(FolderExtraction&& other) noexcept;
    FolderExtraction(const FolderExtraction&) = delete;
    FolderExtraction& operator=(const FolderExtraction&) = delete;
    ~FolderExtraction();

    // Extracts one entry. `created`, when given, is called with the result so
    // far once the entry's file has been created (outcome `written`, nothing
    // copied yet) or could not be (`failed`), before any byte is copied: the
    // moment to tell what is about to be written. It is not called for the
    // entries skipped by name, link or the archive, nor once out of space.
    [[nodiscard]] ExtractedEntry extract(const Entry& entry,
                                         const std::function<void(const ExtractedEntry&)>& created = {});

    // Whether an entry found the disk full or a quota exceeded.
    [[nodiscard]] bool outOfSpace() const;

private:
    explicit FolderExtraction(std::unique_ptr<detail::ExtractionState> state);
    std::unique_ptr<detail::ExtractionState> state_;
};

} // namespace tre
