#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pack/PackRequest.h"
#include "support/Folders.h"

// A file that goes into the archive.
struct InputFile {
    // the entry's name: the path as given, `/` between its parts, without
    // "." parts (UTF-8 on Windows)
    std::string name;
    // the PATH it was found under (InputWalk::root())
    std::uint32_t root = 0;
};

// A PATH as given: where it is, its entry name, and how messages show it.
struct InputRoot {
    std::filesystem::path path;
    std::string name;
    std::string shown;
};

// Why something named was not taken.
enum class LeftOut {
    unreadable, // it could not be looked at or listed: `reason` says why
    link,       // a symbolic link, without -L
    special,    // a FIFO, a socket or a device
    loop,       // with -L, a link back to a folder it lies in
    theArchive, // OUT itself: not a failure
};

struct WalkReport {
    // what was left out, and why; the shown path and the system's reason
    std::function<void(LeftOut why, const std::string& shown, const std::error_code& reason)> leftOut;
};

// Whether a PATH may be given (relative, no ".." part), or why not.
std::optional<std::string> refusedPath(const std::string& path);

// The entry name of a PATH as given: its parts joined with `/`, "." and
// empty parts dropped ("" for the folder itself).
std::string entryNameOf(const std::string& path);

// Walks every PATH (files, and folders to every depth) into the files they
// name, in byte order of their names.
class InputWalk {
public:
    InputWalk(bool followLinks, std::optional<ItemIdentity> output, WalkReport report)
        : followLinks_(followLinks), output_(output), report_(std::move(report))
    {
    }

    void add(const PathArgument& argument);
    // Sorted by name; equal names stay in the order they were met.
    [[nodiscard]] std::vector<InputFile> takeFiles();

    // The file to read, and the path as the user wrote it (with its -C
    // folder), for messages.
    [[nodiscard]] std::filesystem::path pathOf(const InputFile& file) const;
    [[nodiscard]] std::string shownOf(const InputFile& file) const;

private:
    // what `name` adds below its root's name
    [[nodiscard]] static std::string_view below(const InputRoot& root, const std::string& name);
    void visit(const std::filesystem::path& path, ItemKind kind, ItemIdentity identity, const std::string& name);
    void walkFolder(const std::filesystem::path& path, const std::string& name);
    [[nodiscard]] bool isOutput(const ItemIdentity& identity, const std::filesystem::path& folder,
                                const std::string& item) const;

    std::vector<InputRoot> roots_;

    bool followLinks_;
    std::optional<ItemIdentity> output_;
    WalkReport report_;
    std::vector<InputFile> files_;
    // the folders being walked, to tell a link back to one of them (-L)
    std::vector<ItemIdentity> ancestors_;
};
