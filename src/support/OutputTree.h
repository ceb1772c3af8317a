#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/File.h"
#include "support/String.h"

// A folder that the tool writes a tree of files into. Inside it no link is
// ever followed: a link (symbolic link, junction) where a folder of a path
// should be is reported, and a file's own path always gets a new file,
// replacing whatever is there (a file, a link, another hard link) instead of
// writing through it. The folders of the last path stay open, so entries
// that share folders create and check them once.
class OutputTree {
public:
    enum class Result {
        created,
        throughLink, // a link where a folder of the path should be
        blocked,     // a file where a folder is needed, or a folder where the file should go
        outOfSpace,  // the disk is full or a quota exceeded
        kept,        // the path already names the file that must be kept
        failed,
    };

    OutputTree() = default;
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;
    ~OutputTree();

    // Creates the folder with its missing parents and opens it; false when
    // that fails or the path is not a folder. A folder given as a link to a
    // folder is used: the user chose it.
    bool open(const String& folder);
    // Creates the folders on the way (every component but the last) and a
    // new, empty file at the last one, open for writing in `file`. Where that
    // path already leads (through any link, or as another hard link) to the
    // file `keep`, nothing is changed.
    Result createFile(std::span<const std::string_view> components, File& file,
                      const std::optional<FileIdentity>& keep = std::nullopt);

private:
    struct OpenFolder {
        std::string name;
        std::intptr_t handle;
    };

    // Keeps the open folders that the new path shares; closes the rest.
    std::size_t keepSharedFolders(std::span<const std::string_view> folders);
    // Opens (creating) one more folder below the last open one.
    Result openFolder(std::string_view name);
    Result createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep);
    static void closeFolder(std::intptr_t handle);

    std::intptr_t root_ = -1;
    std::string rootPath_;
    std::vector<OpenFolder> chain_;
};
