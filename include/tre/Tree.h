#pragma once

// The tree of folders and files that a safe extraction writes into an
// empty folder, built in memory: for browsing archives without extracting
// them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "tre/Api.h"
#include "tre/Archive.h"
#include "tre/EntryPath.h"
#include "tre/Error.h"
#include "tre/FolderExtraction.h"

namespace tre {

namespace detail {
struct TreeData;
}

// Called for each entry a tree leaves out, with the archive's index (0 for
// a tree of one archive) and the reason that an extraction would give.
using TreeSkipped = std::function<void(std::size_t archive, const Entry& entry, const ExtractedEntry& outcome)>;

// How a tree is built.
struct TreeOptions {
    // the rules that decide which names may become paths
    PathRules rules = PathRules::posix;
    // the most memory the tree may take, in bytes: a tree that would need
    // more is refused before it takes it
    std::uint64_t memoryLimit = std::numeric_limits<std::uint64_t>::max();
    TreeSkipped skipped;
};

// Exactly what FolderExtraction leaves in an empty folder, decided by the
// same rules (the same unit decides for both): entries with unsafe names
// are absent; a later entry with the same path replaces an earlier one;
// where a file and a folder want the same path, the one that came first
// stays and the other entry is absent; a file holds the bytes an
// extraction would write (storedBytes(): short where the data runs past
// the end of the archive, none for a negative size). Built from several
// archives, it is what extracting each of them in turn into the same
// folder leaves: their entries are placed in that order, under the same
// rules, and each file remembers the archive it came from.
//
// Nodes are numbered from 0, the root, and keep their numbers for the
// tree's life. Memory: about bytesPerFile() for each file and
// bytesPerFolder() for each folder, beside the bytes of their names.
// Const operations may run from several threads at once.
class TRE_API Tree {
public:
    using Node = std::uint32_t;
    static constexpr Node root = 0;
    static constexpr Node none = 0xFFFFFFFFU;

    using Skipped = TreeSkipped;
    using Options = TreeOptions;

    // Walks the archive's directory. Errors: Step::readArchive where the
    // directory could not be read to its end; Errc::treeTooLarge
    // (Step::buildTree) past 2^27 nodes or 4 GiB of names (about 66
    // million entries), or past the memory limit.
    static Result<Tree> build(const Archive& archive, const Options& options = {});
    // The same over several archives, in order, later ones placed over
    // earlier ones. The archives are only read while the tree is built.
    static Result<Tree> build(std::span<const Archive* const> archives, const Options& options = {});

    // Measured costs, for a budget: the bytes a file and a folder take,
    // beside their names' bytes and one byte for each name.
    [[nodiscard]] static std::size_t bytesPerFile();
    [[nodiscard]] static std::size_t bytesPerFolder();

    Tree(Tree&& other) noexcept;
    Tree& operator=(Tree&& other) noexcept;
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
    ~Tree();

    [[nodiscard]] std::size_t nodeCount() const;
    [[nodiscard]] bool isFolder(Node node) const;
    // The node's own name (empty for the root), and its folder (the root's
    // is the root).
    [[nodiscard]] std::string_view name(Node node) const;
    [[nodiscard]] Node parent(Node node) const;
    // The path below the root, components joined with `/` ("" for the root).
    [[nodiscard]] std::string path(Node node) const;

    // The child of a folder with this name; `none` where there is none.
    [[nodiscard]] Node find(Node folder, std::string_view name) const;
    // A folder's children, in the order they were made.
    [[nodiscard]] std::span<const Node> children(Node folder) const;
    [[nodiscard]] std::uint32_t subfolderCount(Node folder) const;

    // Where a file's bytes lie in its archive, and how many there are.
    [[nodiscard]] std::int64_t dataOffset(Node file) const;
    [[nodiscard]] std::int64_t dataSize(Node file) const;
    // The archive a file came from (its index among those given), and the
    // number of the entry in it that the file holds.
    [[nodiscard]] std::size_t archiveIndex(Node file) const;
    [[nodiscard]] std::int32_t entryNumber(Node file) const;

    // The memory the tree holds, in bytes.
    [[nodiscard]] std::size_t memoryUsed() const;

private:
    explicit Tree(std::unique_ptr<detail::TreeData> data);
    std::unique_ptr<detail::TreeData> data_;
};

} // namespace tre
