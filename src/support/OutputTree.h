#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "support/File.h"

namespace tre {

// A folder that a tree of files is written into. Inside it no link is ever
// followed: a link (symbolic link, junction) where a folder of a path should
// be is reported, and a file's own path always gets a new file, replacing
// whatever is there (a file, a link, another hard link) instead of writing
// through it. Folders are opened for searching only, so a folder that may
// be written but not read (a drop box) serves as well as any. The folders
// of the last path stay open, so entries that share folders create and
// check them once. The platform bodies are OutputTreePosix.cpp and
// OutputTreeWindows.cpp.
class OutputTree {
public:
    enum class Result {
        created,
        throughLink, // a link where a folder of the path should be
        kept,        // the path already leads to the file that must be kept
        failed,      // `at` and `error` say what failed and why
    };
    // what was being made: a folder on the way, or the file itself
    enum class Making { folder, file };
    struct Created {
        Result result = Result::failed;
        Making at = Making::file;
        std::error_code error;
    };

    OutputTree() = default;
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;
    ~OutputTree();

    // Creates the folder with its missing parents and opens it. A folder
    // given as a link to a folder is used: the caller chose it. An empty
    // path names no folder.
    [[nodiscard]] std::error_code open(const std::filesystem::path& folder);
    // Creates the folders on the way (every component but the last) and a
    // new, empty file at the last one, open for writing in `file`. Where that
    // path already leads (through any link, or as another hard link) to the
    // file `keep`, nothing is changed. A file where a folder is needed fails
    // with "not a directory", a folder where the file should go with "is a
    // directory".
    [[nodiscard]] Created createFile(std::span<const std::string_view> components, File& file,
                                     const std::optional<FileIdentity>& keep = std::nullopt);

private:
    struct OpenFolder {
        std::string name;
        std::intptr_t handle;
    };

    // Keeps the open folders that the new path shares; closes the rest.
    std::size_t keepSharedFolders(std::span<const std::string_view> folders);
    // Opens (creating) one more folder below the last open one.
    Created openFolder(std::string_view name);
    Created createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep);
    static void closeFolder(std::intptr_t handle);

    std::intptr_t root_ = -1;
    std::vector<OpenFolder> chain_;
};

} // namespace tre
