#include "tre/Tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "archive/extract/Placement.h"
#include "support/ByteBlock.h"

namespace tre {

namespace detail {

// The tree's tables. Each node is a record of four words; a folder's
// children are listed in one table, each folder's run of them together.
// Names are stored one after another, each behind a byte with its length.
// A hash table over (folder, name) finds a child: open addressing, each slot
// holding a node's number and, in the bits above it, a tag of the hash, so
// that a probe passes most nodes without reading them. A folder's hash is
// made from its own folder's and its name, so a path's slot follows from its
// components alone, which lets the builder fetch slots ahead of time.
struct TreeData {
    // in a folder's first word: the mark that it is a folder
    static constexpr std::uint32_t folderFlag = 0x80000000U;
    // a slot holds a node's number below these bits and a tag of its hash in them
    static constexpr unsigned nodeBits = 27;
    static constexpr std::uint32_t nodeMask = (1U << nodeBits) - 1;
    static constexpr std::uint32_t freeSlot = 0xFFFFFFFFU;
    // name offsets are 32-bit: names may take up to this many bytes
    static constexpr std::uint64_t maxNameBytes = 0xFFFFFFFFULL;

    struct NodeRecord {
        std::uint32_t nameAt; // in names: a length byte, then the name
        std::uint32_t parent;
        // a file's data offset (below 2^31), or folderFlag and the folder's index in `folders`
        std::uint32_t first;
        // a file's data size, or the folder's hash of its path
        std::uint32_t second;
    };
    struct FolderRecord {
        std::uint32_t firstChild = 0; // in children
        std::uint32_t childCount = 0;
        std::uint32_t subfolders = 0;
    };
    struct Slot {
        std::size_t index;
        std::uint32_t tag; // in the bits above nodeBits
    };

    std::vector<NodeRecord> nodes;
    // each file's entry number in its archive
    std::vector<std::int32_t> entryNumbers;
    // each file's archive, where there are several (empty for one)
    std::vector<std::uint32_t> archiveIndexes;
    std::vector<FolderRecord> folders;
    std::vector<Tree::Node> children;
    std::string names;
    std::vector<std::uint32_t> slots;

    [[nodiscard]] bool isFolder(Tree::Node node) const { return (nodes[node].first & folderFlag) != 0; }
    [[nodiscard]] const FolderRecord& folderOf(Tree::Node folder) const
    {
        return folders[nodes[folder].first & ~folderFlag];
    }
    [[nodiscard]] std::string_view name(Tree::Node node) const
    {
        const std::uint32_t at = nodes[node].nameAt;
        return {names.data() + at + 1, static_cast<unsigned char>(names[at])};
    }
    [[nodiscard]] Slot slotOf(Tree::Node folder, std::string_view name) const;
    [[nodiscard]] Slot slotOfHash(std::uint64_t hash) const;
    // The slot where the node is, or the free slot where it would go.
    [[nodiscard]] std::size_t probe(Tree::Node folder, std::string_view name) const;

    // What the tables hold (room reserved but never written takes none).
    [[nodiscard]] std::size_t memoryUsed() const
    {
        return nodes.size() * sizeof(NodeRecord) + entryNumbers.size() * sizeof(std::int32_t) +
               archiveIndexes.size() * sizeof(std::uint32_t) + folders.size() * sizeof(FolderRecord) +
               children.size() * sizeof(Tree::Node) + names.size() + slots.size() * sizeof(std::uint32_t);
    }
};

} // namespace detail

namespace {

using detail::TreeData;

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

// A folder keeps 32 bits of its path's hash, which its children's start from.
std::uint32_t folded(std::uint64_t hash) { return static_cast<std::uint32_t>(hash ^ (hash >> 32U)); }

void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    static_cast<void>(address);
#endif
}

// Per file and per folder, beside the name and its length byte: the node,
// the entry number, the folder's child list entry, and the slots at the
// table's mean load; a folder adds its record.
constexpr std::size_t fileCost = sizeof(TreeData::NodeRecord) + sizeof(std::int32_t) + sizeof(Tree::Node) + 6;
constexpr std::size_t folderCost = fileCost + sizeof(TreeData::FolderRecord);

Error tooLarge() { return Error{Step::buildTree, Errc::treeTooLarge}; }

// Builds a tree entry by entry, with the same outcomes as OutputTree meets
// on disk in an empty folder.
class TreeBuilder {
public:
    TreeBuilder(TreeData& tree, std::int64_t entries, bool severalArchives, std::uint64_t memoryLimit)
        : tree_(tree), entries_(std::max<std::int64_t>(entries, 0)), severalArchives_(severalArchives),
          memoryLimit_(memoryLimit)
    {
        const auto count = static_cast<std::size_t>(std::max<std::int64_t>(entries, 0));
        // a quarter to spare over one node an entry, and room for some folders
        freshSlots(count * 4 / 3 + count / 16 + 64);
        // Room for every name and some folders, reserved at once: memory that
        // is reserved but never written takes no place, and growing would
        // copy tens of megabytes, more than once.
        tree_.nodes.reserve(count + count / 8 + 1);
        tree_.entryNumbers.reserve(count + count / 8 + 1);
        tree_.names.reserve((count + 1) * (Entry::nameFieldSize + 1));
        adviseLargePages(tree_.nodes.data(), tree_.nodes.capacity() * sizeof(TreeData::NodeRecord));
        adviseLargePages(tree_.names.data(), tree_.names.capacity());
        tree_.folders.emplace_back();
        tree_.nodes.push_back({0, 0, TreeData::folderFlag, 0});
        tree_.entryNumbers.push_back(-1);
        if (severalArchives_) {
            tree_.archiveIndexes.push_back(0);
        }
        tree_.names += '\0';
    }

    void setArchive(std::uint32_t index) { archive_ = index; }
    void notePlaced() { ++placed_; }

    OutputTree::Created createFile(std::span<const std::string_view> path, const Entry& entry, std::int64_t offset,
                                   std::int64_t size)
    {
        Tree::Node folder = Tree::root;
        for (const std::string_view component : path.first(path.size() - 1)) {
            const std::size_t slot = tree_.probe(folder, component);
            if (tree_.slots[slot] == TreeData::freeSlot) {
                folder = addFolder(slot, folder, component);
            } else if (const Tree::Node child = tree_.slots[slot] & TreeData::nodeMask; tree_.isFolder(child)) {
                folder = child;
            } else {
                return {OutputTree::Result::failed, OutputTree::Making::folder,
                        std::make_error_code(std::errc::not_a_directory)};
            }
        }
        const std::size_t slot = tree_.probe(folder, path.back());
        const auto dataOffset = static_cast<std::uint32_t>(offset);
        const auto dataSize = static_cast<std::uint32_t>(size);
        if (tree_.slots[slot] == TreeData::freeSlot) {
            addNode(slot, folder, path.back(), dataOffset, dataSize, entry.number);
        } else if (const Tree::Node file = tree_.slots[slot] & TreeData::nodeMask; tree_.isFolder(file)) {
            return {OutputTree::Result::failed, OutputTree::Making::file,
                    std::make_error_code(std::errc::is_a_directory)};
        } else {
            // a later entry replaces the earlier one
            tree_.nodes[file].first = dataOffset;
            tree_.nodes[file].second = dataSize;
            tree_.entryNumbers[file] = entry.number;
            if (severalArchives_) {
                tree_.archiveIndexes[file] = archive_;
            }
        }
        return {OutputTree::Result::created, OutputTree::Making::file, {}};
    }

    // Fetches the slots where the folders and the file of this name would be
    // looked for, so that they are in the cache by the time the entry's turn
    // comes: in a table of megabytes nearly every first probe misses it
    // otherwise. The name is taken as it stands; one that becomes other
    // components only fetches in vain.
    void prepareFor(std::string_view name) const
    {
        std::uint32_t hash = tree_.nodes[Tree::root].second;
        for (std::size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/')) {
            const std::uint64_t folder = hashOf(hash, name.substr(0, slash));
            prefetch(&tree_.slots[tree_.slotOfHash(folder).index]);
            hash = folded(folder);
            name.remove_prefix(slash + 1);
        }
        prefetch(&tree_.slots[tree_.slotOfHash(hashOf(hash, name)).index]);
    }

    // Whether the next entry (a file and folders on its way: a node for
    // each byte of its name at most, and their names) might not fit: in a
    // slot's node bits, in the names' 32-bit offsets, or in the memory
    // allowed.
    [[nodiscard]] bool full() const
    {
        constexpr std::size_t mostNewNodes = Entry::nameFieldSize;
        constexpr std::size_t mostNewNameBytes = 2 * Entry::nameFieldSize;
        return tree_.nodes.size() + mostNewNodes >= TreeData::nodeMask ||
               tree_.names.size() + mostNewNameBytes > TreeData::maxNameBytes || memoryExceeded_;
    }

    // Lists each folder's children, in the order they were made: one pass to
    // count them, one to place them.
    void finish()
    {
        std::vector<TreeData::FolderRecord>& folders = tree_.folders;
        for (std::size_t node = 1; node < tree_.nodes.size(); ++node) {
            TreeData::FolderRecord& parent =
                folders[tree_.nodes[tree_.nodes[node].parent].first & ~TreeData::folderFlag];
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
        tree_.children.resize(tree_.nodes.size() - 1);
        for (std::size_t node = 1; node < tree_.nodes.size(); ++node) {
            const std::uint32_t parent = tree_.nodes[tree_.nodes[node].parent].first & ~TreeData::folderFlag;
            tree_.children[next[parent]++] = static_cast<Tree::Node>(node);
        }
        tree_.folders.shrink_to_fit();
    }

private:
    Tree::Node addFolder(std::size_t slot, Tree::Node parent, std::string_view name)
    {
        const auto index = static_cast<std::uint32_t>(tree_.folders.size());
        tree_.folders.emplace_back();
        return addNode(slot, parent, name, TreeData::folderFlag | index,
                       folded(hashOf(tree_.nodes[parent].second, name)), -1);
    }

    Tree::Node addNode(std::size_t slot, Tree::Node parent, std::string_view name, std::uint32_t first,
                       std::uint32_t second, std::int32_t entryNumber)
    {
        const auto node = static_cast<Tree::Node>(tree_.nodes.size());
        const auto nameAt = static_cast<std::uint32_t>(tree_.names.size());
        tree_.names += static_cast<char>(name.size()); // at most 65
        tree_.names += name;
        tree_.nodes.push_back({nameAt, parent, first, second});
        tree_.entryNumbers.push_back(entryNumber);
        if (severalArchives_) {
            tree_.archiveIndexes.push_back(archive_);
        }
        tree_.slots[slot] = (node & TreeData::nodeMask) | tree_.slotOf(parent, name).tag;
        if ((tree_.nodes.size() + 1) * 4 > tree_.slots.size() * 3) {
            grow();
        }
        // what the tables hold is weighed as they grow
        if ((node & 0xFFFU) == 0) {
            memoryExceeded_ = tree_.memoryUsed() > memoryLimit_;
        }
        return node;
    }

    // A table more than three quarters full grows: to twice its size, or to
    // what the nodes made so far say the whole tree will need, whichever is
    // more, so that a tree of far more nodes than entries (deep paths) is
    // not rehashed again and again.
    void grow()
    {
        const std::size_t nodes = tree_.nodes.size();
        std::size_t expected = nodes;
        if (placed_ > 0 && static_cast<std::size_t>(entries_) > placed_) {
            expected = nodes / placed_ * static_cast<std::size_t>(entries_) + nodes;
        }
        // a tree that will not fit is refused before it takes the memory
        const std::size_t perNode = sizeof(TreeData::NodeRecord) + sizeof(std::int32_t) + sizeof(Tree::Node) +
                                    sizeof(std::uint32_t) * 4 / 3 + tree_.names.size() / nodes;
        if (static_cast<std::uint64_t>(expected) * perNode > memoryLimit_) {
            memoryExceeded_ = true;
            return;
        }
        rehash(std::max(tree_.slots.size() * 2, expected * 4 / 3 + 64));
        if (expected > tree_.nodes.capacity()) {
            tree_.nodes.reserve(expected);
            tree_.entryNumbers.reserve(expected);
            tree_.names.reserve(tree_.names.size() / nodes * expected);
            adviseLargePages(tree_.nodes.data(), tree_.nodes.capacity() * sizeof(TreeData::NodeRecord));
            adviseLargePages(tree_.entryNumbers.data(), tree_.entryNumbers.capacity() * sizeof(std::int32_t));
            adviseLargePages(tree_.names.data(), tree_.names.capacity());
        }
        memoryExceeded_ = tree_.memoryUsed() > memoryLimit_;
    }

    // An empty table of `size` slots, in large pages where the system has
    // them: probes land anywhere in it, and each small page would cost its
    // own miss in the processor's table of pages.
    void freshSlots(std::size_t size)
    {
        std::vector<std::uint32_t> slots;
        slots.reserve(size);
        adviseLargePages(slots.data(), size * sizeof(std::uint32_t));
        slots.assign(size, TreeData::freeSlot);
        tree_.slots = std::move(slots);
    }

    void rehash(std::size_t size)
    {
        freshSlots(size);
        for (Tree::Node node = 1; node < tree_.nodes.size(); ++node) {
            const std::string_view name = tree_.name(node);
            const TreeData::Slot slot = tree_.slotOf(tree_.nodes[node].parent, name);
            std::size_t index = slot.index;
            while (tree_.slots[index] != TreeData::freeSlot) {
                index = index + 1 == size ? 0 : index + 1;
            }
            tree_.slots[index] = node | slot.tag;
        }
    }

    TreeData& tree_;
    std::int64_t entries_;
    // entries placed so far
    std::size_t placed_ = 0;
    bool severalArchives_;
    std::uint64_t memoryLimit_;
    std::uint32_t archive_ = 0;
    bool memoryExceeded_ = false;
};

// Places one archive's entries in order, a few behind the walk, so that
// each one's slot has been fetched meanwhile. False once the tree can take
// no more.
Result<bool> placeArchive(TreeBuilder& builder, const Archive& archive, std::size_t index, const Tree::Options& options)
{
    const auto place = [&](const Entry& entry) {
        if (builder.full()) {
            return false;
        }
        const ExtractedEntry result =
            detail::placeEntry(entry, options.rules, [&](std::span<const std::string_view> path) {
                const std::int64_t size = archive.storedBytes(entry);
                return builder.createFile(path, entry, size > 0 ? entry.offset : 0, size);
            });
        if (result.outcome != Outcome::written && options.skipped) {
            options.skipped(index, entry, result);
        }
        builder.notePlaced();
        return true;
    };
    constexpr std::size_t lookahead = 8;
    std::array<Entry, lookahead> pending;
    std::size_t walked = 0;
    EntryWalk walk = archive.entries();
    Entry entry;
    while (walk.next(entry)) {
        if (walked >= lookahead && !place(pending[walked % lookahead])) {
            return false;
        }
        pending[walked % lookahead] = entry;
        builder.prepareFor(entry.name());
        ++walked;
    }
    for (std::size_t next = walked > lookahead ? walked - lookahead : 0; next < walked; ++next) {
        if (!place(pending[next % lookahead])) {
            return false;
        }
    }
    if (walk.error()) {
        return Error{Step::readArchive, walk.error()};
    }
    return true;
}

} // namespace

namespace detail {

TreeData::Slot TreeData::slotOf(Tree::Node folder, std::string_view name) const
{
    return slotOfHash(hashOf(nodes[folder].second, name));
}

TreeData::Slot TreeData::slotOfHash(std::uint64_t hash) const
{
    // the top bits scaled to the table, which needs no power of two; the
    // lowest as the tag
    return {static_cast<std::size_t>(((hash >> 32U) * slots.size()) >> 32U),
            static_cast<std::uint32_t>(hash) & ~nodeMask};
}

std::size_t TreeData::probe(Tree::Node folder, std::string_view name) const
{
    const auto [first, tag] = slotOf(folder, name);
    for (std::size_t slot = first;; slot = slot + 1 == slots.size() ? 0 : slot + 1) {
        const std::uint32_t held = slots[slot];
        if (held == freeSlot) {
            return slot;
        }
        const Tree::Node node = held & nodeMask;
        if ((held & ~nodeMask) == tag && nodes[node].parent == folder && this->name(node) == name) {
            return slot;
        }
    }
}

} // namespace detail

Tree::Tree(std::unique_ptr<detail::TreeData> data) : data_(std::move(data)) {}
Tree::Tree(Tree&& other) noexcept = default;
Tree& Tree::operator=(Tree&& other) noexcept = default;
Tree::~Tree() = default;

std::size_t Tree::bytesPerFile() { return fileCost; }
std::size_t Tree::bytesPerFolder() { return folderCost; }

Result<Tree> Tree::build(const Archive& archive, const Options& options)
{
    const std::array<const Archive*, 1> one{&archive};
    return build(one, options);
}

Result<Tree> Tree::build(std::span<const Archive* const> archives, const Options& options)
{
    std::int64_t entries = 0;
    for (const Archive* archive : archives) {
        entries += archive->entryCount();
    }
    // every entry a file at least: a tree that cannot fit is refused before it is built
    if (static_cast<std::uint64_t>(entries) * (fileCost + 2) > options.memoryLimit) {
        return tooLarge();
    }
    // a machine that cannot give the tree its memory gets the same answer
    // as one that would not have it to spare
    try {
        auto data = std::make_unique<TreeData>();
        TreeBuilder builder(*data, entries, archives.size() > 1, options.memoryLimit);
        for (std::size_t index = 0; index < archives.size(); ++index) {
            builder.setArchive(static_cast<std::uint32_t>(index));
            const Result<bool> placed = placeArchive(builder, *archives[index], index, options);
            if (!placed.has_value()) {
                return placed.error();
            }
            if (!*placed) {
                return tooLarge();
            }
        }
        builder.finish();
        if (data->memoryUsed() > options.memoryLimit) {
            return tooLarge();
        }
        return Tree(std::move(data));
    } catch (const std::bad_alloc&) {
        return tooLarge();
    }
}

std::size_t Tree::nodeCount() const { return data_->nodes.size(); }
bool Tree::isFolder(Node node) const { return data_->isFolder(node); }
std::string_view Tree::name(Node node) const { return data_->name(node); }
Tree::Node Tree::parent(Node node) const { return data_->nodes[node].parent; }

std::string Tree::path(Node node) const
{
    std::vector<std::string_view> components;
    for (; node != root; node = parent(node)) {
        components.push_back(name(node));
    }
    std::string joined;
    std::reverse(components.begin(), components.end());
    for (const std::string_view component : components) {
        if (!joined.empty()) {
            joined += '/';
        }
        joined += component;
    }
    return joined;
}

Tree::Node Tree::find(Node folder, std::string_view name) const
{
    const std::uint32_t held = data_->slots[data_->probe(folder, name)];
    return held == TreeData::freeSlot ? none : held & TreeData::nodeMask;
}

std::span<const Tree::Node> Tree::children(Node folder) const
{
    const TreeData::FolderRecord& record = data_->folderOf(folder);
    return {data_->children.data() + record.firstChild, record.childCount};
}

std::uint32_t Tree::subfolderCount(Node folder) const { return data_->folderOf(folder).subfolders; }

std::int64_t Tree::dataOffset(Node file) const { return data_->nodes[file].first; }
std::int64_t Tree::dataSize(Node file) const { return data_->nodes[file].second; }

std::size_t Tree::archiveIndex(Node file) const
{
    return data_->archiveIndexes.empty() ? 0 : data_->archiveIndexes[file];
}

std::int32_t Tree::entryNumber(Node file) const { return data_->entryNumbers[file]; }

std::size_t Tree::memoryUsed() const { return data_->memoryUsed(); }

} // namespace tre
