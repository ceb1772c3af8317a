// Builds the tree of any bytes as an archive and compares it with a plain
// reference: a map from path to what an extraction leaves there, made by
// applying -x's rules to the entries in order, one folder at a time.
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "tre/Archive.h"
#include "tre/EntryPath.h"
#include "tre/Tree.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// "/" for a folder; otherwise a file's data offset and size.
using Item = std::pair<std::int64_t, std::int64_t>;
constexpr Item folderItem{-1, -1};

std::map<std::string, Item> reference(const tre::Archive& archive)
{
    std::map<std::string, Item> items;
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        const auto components = tre::entryPathComponents(entry.name(), tre::PathRules::posix);
        if (!components) {
            continue;
        }
        std::string path;
        bool blocked = false;
        for (std::size_t i = 0; i + 1 < components->size() && !blocked; ++i) {
            path += std::string((*components)[i]) + "/";
            const auto [found, made] = items.emplace(path.substr(0, path.size() - 1), folderItem);
            blocked = !made && found->second != folderItem; // a file stands where the folder should
        }
        path += std::string(components->back());
        const auto found = items.find(path);
        if (blocked || (found != items.end() && found->second == folderItem)) {
            continue;
        }
        const std::int64_t size = archive.storedBytes(entry);
        items[path] = {size > 0 ? entry.offset : 0, size};
    }
    return items;
}

void flatten(const tre::Tree& tree, tre::Tree::Node folder, const std::string& prefix,
             std::map<std::string, Item>& items)
{
    for (const tre::Tree::Node node : tree.children(folder)) {
        const std::string path = prefix + std::string(tree.name(node));
        require(tree.find(folder, tree.name(node)) == node && tree.parent(node) == folder);
        require(tree.path(node) == path);
        require(items.emplace(path, tree.isFolder(node) ? folderItem : Item{tree.dataOffset(node), tree.dataSize(node)})
                    .second);
        if (tree.isFolder(node)) {
            flatten(tree, node, path + "/", items);
        }
    }
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tre::Archive archive = tre::Archive::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    const tre::Result<tre::Tree> tree = tre::Tree::build(archive);
    require(tree.has_value());
    std::map<std::string, Item> built;
    flatten(*tree, tre::Tree::root, "", built);
    require(built == reference(archive));
    require(tree->nodeCount() == built.size() + 1);
    return 0;
}
