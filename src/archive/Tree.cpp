#include "tre/Tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "archive/Placement.h"

namespace tre {

namespace {

// The name eight bytes at a time, mixed with its folder's hash: children
// of different folders with the same name land apart, and a path's hash
// needs nothing but its components.
std::uint64_t hashOf(std::uint64_t folderHash, std::string_view name)
{
    constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15ULL;
    std::uint64_t hash = (folderHash + name.size()) * multiplier;
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + at, 8);
        hash = (hash ^ word) * multiplier;
        hash ^= hash >> 29U;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, name.data() + at, name.size() - at);
    hash = (hash ^ tail) * multiplier;
    return hash ^ (hash >> 32U);
}

void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    static_cast<void>(address);
#endif
}

} // namespace

// Builds a tree entry by entry, with the same outcomes as OutputTree meets
// on disk in an empty folder.
class TreeBuilder {
public:
    TreeBuilder(Tree& tree, std::int32_t entries) : tree_(tree)
    {
        const auto count = static_cast<std::size_t>(std::max(entries, 0));
        // a quarter to spare over one node an entry, and room for some folders
        tree_.slots_.assign(count * 4 / 3 + count / 16 + 64, Tree::freeSlot);
        // Room for every name and some folders, reserved at once: memory that
        // is reserved but never written takes no place, and growing would
        // copy tens of megabytes, more than once.
        tree_.nodes_.reserve(count + count / 8 + 1);
        tree_.names_.reserve((count + 1) * (Entry::nameFieldSize + 1));
        tree_.folders_.emplace_back();
        tree_.folderHashes_.push_back(0);
        tree_.nodes_.push_back({0, 0, 0, Tree::folderMark});
        tree_.names_ += '\0';
    }

    OutputTree::Created createFile(std::span<const std::string_view> path, std::int64_t offset, std::int64_t size)
    {
        Tree::Node folder = Tree::root;
        for (const std::string_view component : path.first(path.size() - 1)) {
            const std::size_t slot = tree_.probe(folder, component);
            if (tree_.slots_[slot] == Tree::freeSlot) {
                folder = addNode(slot, folder, component, Tree::folderMark, Tree::folderMark);
            } else if (const Tree::Node child = tree_.slots_[slot] & Tree::nodeMask; tree_.isFolder(child)) {
                folder = child;
            } else {
                return {OutputTree::Result::failed, Step::createFolder,
                        std::make_error_code(std::errc::not_a_directory)};
            }
        }
        const std::size_t slot = tree_.probe(folder, path.back());
        if (tree_.slots_[slot] == Tree::freeSlot) {
            addNode(slot, folder, path.back(), static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(size));
        } else if (const Tree::Node file = tree_.slots_[slot] & Tree::nodeMask; tree_.isFolder(file)) {
            return {OutputTree::Result::failed, Step::createFile, std::make_error_code(std::errc::is_a_directory)};
        } else {
            // a later entry replaces the earlier one
            tree_.nodes_[file].a = static_cast<std::uint32_t>(offset);
            tree_.nodes_[file].b = static_cast<std::uint32_t>(size);
        }
        return {OutputTree::Result::created, Step::createFile, {}};
    }

    // Fetches the slot where a file of this name would be looked for, so
    // that it is in the cache by the time the entry's turn comes: in a table
    // of megabytes nearly every file's first probe misses it otherwise. The
    // name is taken as it stands; one that becomes other components only
    // fetches in vain.
    void prepareFor(std::string_view name) const
    {
        std::uint64_t hash = tree_.folderHashes_[0];
        for (std::size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/')) {
            hash = hashOf(hash, name.substr(0, slash));
            name.remove_prefix(slash + 1);
        }
        prefetch(&tree_.slots_[tree_.slotOfHash(hashOf(hash, name)).index]);
    }

    // Whether the next entry (a file and folders on its way: a node for each
    // byte of its name at most) might not fit in a slot's node bits.
    [[nodiscard]] bool full() const { return tree_.nodes_.size() + Entry::nameFieldSize >= Tree::nodeMask; }

    // Lists each folder's children, in the order they were made: one pass to
    // count them, one to place them.
    void finish()
    {
        std::vector<Tree::FolderRecord>& folders = tree_.folders_;
        for (std::size_t node = 1; node < tree_.nodes_.size(); ++node) {
            Tree::FolderRecord& parent = folders[tree_.nodes_[tree_.nodes_[node].parent].a];
            ++parent.childCount;
            parent.subfolders += tree_.isFolder(static_cast<Tree::Node>(node)) ? 1 : 0;
        }
        std::vector<std::uint32_t> next(folders.size());
        std::uint32_t first = 0;
        for (std::size_t folder = 0; folder < folders.size(); ++folder) {
            folders[folder].firstChild = first;
            next[folder] = first;
            first += folders[folder].childCount;
        }
        tree_.children_.resize(tree_.nodes_.size() - 1);
        for (std::size_t node = 1; node < tree_.nodes_.size(); ++node) {
            tree_.children_[next[tree_.nodes_[tree_.nodes_[node].parent].a]++] = static_cast<Tree::Node>(node);
        }
        tree_.folders_.shrink_to_fit();
        tree_.folderHashes_.shrink_to_fit();
    }

private:
    Tree::Node addNode(std::size_t slot, Tree::Node parent, std::string_view name, std::uint32_t a, std::uint32_t b)
    {
        const auto node = static_cast<Tree::Node>(tree_.nodes_.size());
        const auto nameAt = static_cast<std::uint32_t>(tree_.names_.size());
        tree_.names_ += static_cast<char>(name.size()); // at most 65
        tree_.names_ += name;
        if (b == Tree::folderMark) {
            a = static_cast<std::uint32_t>(tree_.folders_.size());
            tree_.folders_.emplace_back();
            tree_.folderHashes_.push_back(hashOf(tree_.folderHashes_[tree_.nodes_[parent].a], name));
        }
        tree_.nodes_.push_back({nameAt, parent, a, b});
        tree_.slots_[slot] = (node & Tree::nodeMask) | tree_.slotOf(parent, name).tag;
        if ((tree_.nodes_.size() + 1) * 4 > tree_.slots_.size() * 3) {
            rehash(tree_.slots_.size() * 2);
        }
        return node;
    }

    void rehash(std::size_t size)
    {
        tree_.slots_.assign(size, Tree::freeSlot);
        for (Tree::Node node = 1; node < tree_.nodes_.size(); ++node) {
            const std::string_view name = tree_.name(node);
            const Tree::Slot slot = tree_.slotOf(tree_.nodes_[node].parent, name);
            std::size_t index = slot.index;
            while (tree_.slots_[index] != Tree::freeSlot) {
                index = index + 1 == size ? 0 : index + 1;
            }
            tree_.slots_[index] = node | slot.tag;
        }
    }

    struct ChainLink {
        std::string name;
        Tree::Node node;
    };

    Tree& tree_;
    std::vector<ChainLink> chain_;
};

std::string_view Tree::name(Node node) const
{
    const std::uint32_t at = nodes_[node].nameAt;
    return {names_.data() + at + 1, static_cast<unsigned char>(names_[at])};
}

Tree::Slot Tree::slotOf(Node folder, std::string_view name) const
{
    return slotOfHash(hashOf(folderHashes_[nodes_[folder].a], name));
}

Tree::Slot Tree::slotOfHash(std::uint64_t hash) const
{
    // the top bits scaled to the table, which needs no power of two; the
    // lowest as the tag
    return {static_cast<std::size_t>(((hash >> 32U) * slots_.size()) >> 32U),
            static_cast<std::uint32_t>(hash) & ~nodeMask};
}

std::size_t Tree::probe(Node folder, std::string_view name) const
{
    const auto [first, tag] = slotOf(folder, name);
    for (std::size_t slot = first;; slot = slot + 1 == slots_.size() ? 0 : slot + 1) {
        const std::uint32_t held = slots_[slot];
        if (held == freeSlot) {
            return slot;
        }
        const Node node = held & nodeMask;
        if ((held & ~nodeMask) == tag && nodes_[node].parent == folder && this->name(node) == name) {
            return slot;
        }
    }
}

Tree::Node Tree::find(Node folder, std::string_view name) const
{
    const std::uint32_t held = slots_[probe(folder, name)];
    return held == freeSlot ? none : held & nodeMask;
}

Result<Tree> Tree::build(const Archive& archive, PathRules rules, const Skipped& skipped)
{
    Tree tree;
    TreeBuilder builder(tree, archive.entryCount());
    // false once the tree can take no more
    const auto place = [&](const Entry& entry) {
        if (builder.full()) {
            return false;
        }
        const ExtractedEntry result = detail::placeEntry(entry, rules, [&](std::span<const std::string_view> path) {
            const std::int64_t size = archive.storedBytes(entry);
            return builder.createFile(path, size > 0 ? entry.offset : 0, size);
        });
        if (result.outcome != Outcome::written && skipped) {
            skipped(entry, result);
        }
        return true;
    };
    // entries are placed in order, a few behind the walk, so that each
    // one's slot has been fetched meanwhile
    constexpr std::size_t lookahead = 8;
    std::array<Entry, lookahead> pending;
    std::size_t walked = 0;
    EntryWalk walk = archive.entries();
    bool full = false;
    for (const Entry& entry : walk) {
        if (walked >= lookahead && !place(pending[walked % lookahead])) {
            full = true;
            break;
        }
        pending[walked % lookahead] = entry;
        builder.prepareFor(entry.name());
        ++walked;
    }
    for (std::size_t next = walked > lookahead ? walked - lookahead : 0; next < walked && !full; ++next) {
        full = !place(pending[next % lookahead]);
    }
    if (full) {
        return Error{Step::readArchive, std::make_error_code(std::errc::value_too_large)};
    }
    if (walk.error()) {
        return Error{Step::readArchive, walk.error()};
    }
    builder.finish();
    return tree;
}

} // namespace tre
