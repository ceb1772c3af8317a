#pragma once

// The tree of folders and files that a safe extraction writes into an
// empty folder, built in memory: for browsing an archive without
// extracting it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
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
// keep their numbers for the tree's life. About 26 bytes a node and the
// bytes of each name: a million entries of 20 to 64 bytes cost some 60 MB.
// Const operations may run from several threads at once.
class Tree {
public:
    using Node = std::uint32_t;
    static constexpr Node root = 0;
    static constexpr Node none = 0xFFFFFFFFU;

    // Called for each entry the tree leaves out, with the reason that an
    // extraction would give.
    using Skipped = std::function<void(const Entry& entry, const ExtractedEntry& outcome)>;

    // Walks the archive's directory. Errors (Step::readArchive): the
    // directory could not be read to its end; std::errc::value_too_large
    // past 2^27 nodes (a directory of gigabytes).
    static Result<Tree> build(const Archive& archive, PathRules rules = PathRules::posix, const Skipped& skipped = {});

    [[nodiscard]] std::size_t nodeCount() const { return nodes_.size(); }
    [[nodiscard]] bool isFolder(Node node) const { return nodes_[node].b == folderMark; }
    [[nodiscard]] std::string_view name(Node node) const;
    [[nodiscard]] Node parent(Node node) const { return nodes_[node].parent; }

    // The child of a folder with this name; `none` where there is none.
    [[nodiscard]] Node find(Node folder, std::string_view name) const;
    // A folder's children, in the order they were made.
    [[nodiscard]] std::span<const Node> children(Node folder) const
    {
        const FolderRecord& record = folders_[nodes_[folder].a];
        return {children_.data() + record.firstChild, record.childCount};
    }
    [[nodiscard]] std::uint32_t subfolderCount(Node folder) const { return folders_[nodes_[folder].a].subfolders; }

    // Where a file's bytes lie in the archive, and how many there are.
    [[nodiscard]] std::int64_t dataOffset(Node file) const { return nodes_[file].a; }
    [[nodiscard]] std::int64_t dataSize(Node file) const { return nodes_[file].b; }

private:
    static constexpr std::uint32_t folderMark = 0xFFFFFFFFU;
    // a slot holds a node's number below these bits and a tag of its hash in them
    static constexpr unsigned nodeBits = 27;
    static constexpr std::uint32_t nodeMask = (1U << nodeBits) - 1;
    static constexpr std::uint32_t freeSlot = 0xFFFFFFFFU;

    struct NodeRecord {
        std::uint32_t nameAt; // in names_: a length byte, then the name
        std::uint32_t parent;
        std::uint32_t a; // a file's data offset, a folder's index in folders_
        std::uint32_t b; // a file's data size, or folderMark
    };
    struct FolderRecord {
        std::uint32_t firstChild = 0; // in children_
        std::uint32_t childCount = 0;
        std::uint32_t subfolders = 0;
    };

    friend class TreeBuilder;
    struct Slot {
        std::size_t index;
        std::uint32_t tag; // in the bits above nodeBits
    };
    [[nodiscard]] Slot slotOf(Node folder, std::string_view name) const;
    [[nodiscard]] Slot slotOfHash(std::uint64_t hash) const;
    // The slot where the node is, or the free slot where it would go.
    [[nodiscard]] std::size_t probe(Node folder, std::string_view name) const;

    std::vector<NodeRecord> nodes_;
    std::vector<FolderRecord> folders_;
    // each folder's hash of its path, from which its children's are made:
    // a path's slot follows from its components alone
    std::vector<std::uint64_t> folderHashes_;
    std::vector<Node> children_;
    std::string names_;
    // open addressing over (folder's hash, name), with a tag of the hash beside
    // each node's number, so that a probe passes most nodes without reading
    // them
    std::vector<std::uint32_t> slots_;
};

} // namespace tre
