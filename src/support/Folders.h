#pragma once

// What the programs need to walk folders quickly: a folder's items with
// their kinds as the listing gives them (one system call for many items,
// no look at each), and a look at one path. Bodies: FoldersPosix.cpp and
// FoldersWindows.cpp.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

enum class ItemKind { file, folder, link, other };

// Which file a path names, whatever names lead to it.
struct ItemIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const ItemIdentity&, const ItemIdentity&) = default;
};

struct FolderItem {
    // the item's name: its bytes on POSIX, UTF-8 on Windows
    std::string name;
    ItemKind kind = ItemKind::other;
    // where the listing tells it (else index 0): which file it is
    ItemIdentity identity;
};

// The items of a folder, in the order the system lists them (without "."
// and ".."), or the reason it cannot be listed.
[[nodiscard]] std::error_code listFolder(const std::filesystem::path& folder, std::vector<FolderItem>& items);

// What the path names: with `followLinks`, what a link there leads to.
[[nodiscard]] std::error_code lookAtPath(const std::filesystem::path& path, bool followLinks, ItemKind& kind,
                                         ItemIdentity& identity);

// The child of `folder` with this name (bytes or UTF-8, as listFolder gives).
std::filesystem::path childPath(const std::filesystem::path& folder, const std::string& name);
