#include "tre/Tree.h"

#include <algorithm>

#include "archive/Placement.h"

namespace tre {

namespace {

// FNV-1a over the name, mixed with the parent: children of different
// folders with the same name land apart.
std::uint64_t hashOf(Tree::Node parent, std::string_view name)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL ^ (std::uint64_t{parent} * 0x9E3779B97F4A7C15ULL);
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

} // namespace

// Builds a tree entry by entry, with the same outcomes as OutputTree meets
// on disk in an empty folder.
class TreeBuilder {
public:
    TreeBuilder(Tree& tree, std::int32_t entries) : tree_(tree)
    {
        // a quarter to spare over one node an entry, and room for some folders
        const auto count = static_cast<std::size_t>(std::max(entries, 0));
        tree_.slots_.assign(count * 4 / 3 + count / 16 + 64, Tree::none);
        tree_.nodes_.reserve(static_cast<std::size_t>(entries) + 1);
        addNode(0, {}, true, 0, 0);
    }

    OutputTree::Created createFile(std::span<const std::string_view> path, std::int64_t offset, std::int64_t size)
    {
        Tree::Node folder = Tree::root;
        for (const std::string_view component : path.first(path.size() - 1)) {
            Tree::Node child = tree_.find(folder, component);
            if (child == Tree::none) {
                child = addNode(folder, component, true, 0, 0);
            } else if (!tree_.isFolder(child)) {
                return {OutputTree::Result::failed, Step::createFolder, std::make_error_code(std::errc::not_a_directory)};
            }
            folder = child;
        }
        const Tree::Node file = tree_.find(folder, path.back());
        if (file == Tree::none) {
            addNode(folder, path.back(), false, offset, size);
        } else if (tree_.isFolder(file)) {
            return {OutputTree::Result::failed, Step::createFile, std::make_error_code(std::errc::is_a_directory)};
        } else {
            // a later entry replaces the earlier one
            tree_.nodes_[file].a = static_cast<std::uint32_t>(offset);
            tree_.nodes_[file].b = static_cast<std::uint32_t>(size);
        }
        return {OutputTree::Result::created, Step::createFile, {}};
    }

    void finish()
    {
        tree_.nodes_.shrink_to_fit();
        tree_.folders_.shrink_to_fit();
        tree_.names_.shrink_to_fit();
    }

private:
    Tree::Node addNode(Tree::Node parent, std::string_view name, bool folder, std::int64_t offset, std::int64_t size)
    {
        const auto node = static_cast<Tree::Node>(tree_.nodes_.size());
        const auto nameAt = static_cast<std::uint32_t>(tree_.names_.size());
        tree_.names_ += static_cast<char>(name.size()); // at most 65
        tree_.names_ += name;
        Tree::NodeRecord record{nameAt, Tree::none, parent, static_cast<std::uint32_t>(offset),
                                static_cast<std::uint32_t>(size)};
        if (folder) {
            record.a = static_cast<std::uint32_t>(tree_.folders_.size());
            record.b = Tree::folderMark;
            tree_.folders_.emplace_back();
        }
        tree_.nodes_.push_back(record);
        if (node != Tree::root) {
            Tree::FolderRecord& siblings = tree_.folders_[tree_.nodes_[parent].a];
            if (siblings.lastChild == Tree::none) {
                siblings.firstChild = node;
            } else {
                tree_.nodes_[siblings.lastChild].nextSibling = node;
            }
            siblings.lastChild = node;
            siblings.subfolders += folder ? 1 : 0;
            insert(node);
        }
        return node;
    }

    void insert(Tree::Node node)
    {
        if ((tree_.nodes_.size() + 1) * 4 > tree_.slots_.size() * 3) {
            rehash(tree_.slots_.size() * 2);
        }
        std::size_t slot = tree_.slotOf(tree_.nodes_[node].parent, tree_.name(node));
        while (tree_.slots_[slot] != Tree::none) {
            slot = slot + 1 == tree_.slots_.size() ? 0 : slot + 1;
        }
        tree_.slots_[slot] = node;
    }

    void rehash(std::size_t size)
    {
        tree_.slots_.assign(size, Tree::none);
        for (Tree::Node node = 1; node < tree_.nodes_.size(); ++node) {
            insert(node);
        }
    }

    Tree& tree_;
};

std::string_view Tree::name(Node node) const
{
    const std::uint32_t at = nodes_[node].nameAt;
    return {names_.data() + at + 1, static_cast<unsigned char>(names_[at])};
}

std::size_t Tree::slotOf(Node folder, std::string_view name) const
{
    // the hash's top bits scaled to the table, which needs no power of two
    return static_cast<std::size_t>(((hashOf(folder, name) >> 32U) * slots_.size()) >> 32U);
}

Tree::Node Tree::find(Node folder, std::string_view name) const
{
    for (std::size_t slot = slotOf(folder, name);; slot = slot + 1 == slots_.size() ? 0 : slot + 1) {
        const Node node = slots_[slot];
        if (node == none || (nodes_[node].parent == folder && this->name(node) == name)) {
            return node;
        }
    }
}

Result<Tree> Tree::build(const Archive& archive, PathRules rules, const Skipped& skipped)
{
    Tree tree;
    TreeBuilder builder(tree, archive.entryCount());
    EntryWalk walk = archive.entries();
    for (const Entry& entry : walk) {
        const ExtractedEntry result =
            detail::placeEntry(entry, rules, [&](std::span<const std::string_view> path) {
                const std::int64_t size = archive.storedBytes(entry);
                return builder.createFile(path, size > 0 ? entry.offset : 0, size);
            });
        if (result.outcome != Outcome::written && skipped) {
            skipped(entry, result);
        }
    }
    if (walk.error()) {
        return Error{Step::readArchive, walk.error()};
    }
    builder.finish();
    return tree;
}

} // namespace tre
