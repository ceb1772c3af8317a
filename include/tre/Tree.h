#pragma once

// The tree of folders and files that a safe extraction writes into an
// empty folder, built in memory: for browsing an archive without
// extracting it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tre/Archive.h"
#include "tre/EntryPath.h"
#include "tre/Error.h"
#include "tre/FolderExtraction.h"

namespace tre {

// Exactly what FolderExtraction leaves in an empty folder, decided by the
// same rules (the same unit decides for both): entries with unsafe names
// are absent; a later entry with the same path replaces an earlier one;
// where a file and a folder want the same path, the one that came first
// stays and the other entry is absent; a file holds the bytes an
// extraction would write (storedBytes(): short where the data runs past
// the end of the archive, none for a negative size).
//
// Nodes are numbered from 0, the root, in the order they were made, and
// keep their numbers for the tree's life. About 20 bytes a node and the
// bytes of each name: a million entries cost some 60 MB. Const operations
// may run from several threads at once.
class Tree {
public:
    using Node = std::uint32_t;
    static constexpr Node root = 0;
    static constexpr Node none = 0xFFFFFFFFU;

    // Called for each entry the tree leaves out, with the reason that an
    // extraction would give.
    using Skipped = std::function<void(const Entry& entry, const ExtractedEntry& outcome)>;

    // Walks the archive's directory. Errors: the directory could not be read
    // to its end (Step::readArchive).
    static Result<Tree> build(const Archive& archive, PathRules rules = PathRules::posix, const Skipped& skipped = {});

    [[nodiscard]] std::size_t nodeCount() const { return nodes_.size(); }
    [[nodiscard]] bool isFolder(Node node) const { return nodes_[node].b == folderMark; }
    [[nodiscard]] std::string_view name(Node node) const;
    [[nodiscard]] Node parent(Node node) const { return nodes_[node].parent; }

    // The child of a folder with this name; `none` where there is none.
    [[nodiscard]] Node find(Node folder, std::string_view name) const;
    // A folder's children in the order they were made: the first, then
    // each one's next; `none` after the last.
    [[nodiscard]] Node firstChild(Node folder) const { return folders_[nodes_[folder].a].firstChild; }
    [[nodiscard]] Node nextSibling(Node node) const { return nodes_[node].nextSibling; }
    [[nodiscard]] std::uint32_t subfolderCount(Node folder) const { return folders_[nodes_[folder].a].subfolders; }

    // Where a file's bytes lie in the archive, and how many there are.
    [[nodiscard]] std::int64_t dataOffset(Node file) const { return nodes_[file].a; }
    [[nodiscard]] std::int64_t dataSize(Node file) const { return nodes_[file].b; }

private:
    static constexpr std::uint32_t folderMark = 0xFFFFFFFFU;

    struct NodeRecord {
        std::uint32_t nameAt;      // in names_: a length byte, then the name
        std::uint32_t nextSibling;
        std::uint32_t parent;
        std::uint32_t a; // a file's data offset, a folder's index in folders_
        std::uint32_t b; // a file's data size, or folderMark
    };
    struct FolderRecord {
        Node firstChild = none;
        Node lastChild = none;
        std::uint32_t subfolders = 0;
    };

    friend class TreeBuilder;
    [[nodiscard]] std::size_t slotOf(Node folder, std::string_view name) const;

    std::vector<NodeRecord> nodes_;
    std::vector<FolderRecord> folders_;
    std::string names_;
    // open addressing over (parent, name): node numbers, `none` where free
    std::vector<Node> slots_;
};

} // namespace tre
