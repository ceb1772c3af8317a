#include "pack/Inputs.h"

#include <algorithm>

#include "support/Console.h"

namespace {

#if defined(_WIN32)
constexpr std::string_view separators = "/\\";
#else
constexpr std::string_view separators = "/";
#endif

std::vector<std::string_view> partsOf(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t end = std::min(path.find_first_of(separators), path.size());
        parts.push_back(path.substr(0, end));
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return parts;
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : name.empty() ? folder : folder + "/" + name;
}

} // namespace

std::optional<std::string> refusedPath(const std::string& path)
{
    const bool absolute = !path.empty() && separators.find(path.front()) != std::string_view::npos;
#if defined(_WIN32)
    const bool drive = path.size() >= 2 && path[1] == ':';
#else
    const bool drive = false;
#endif
    if (absolute || drive) {
        return "'" + path + "' is an absolute path: give it relative to -C DIR";
    }
    const std::vector<std::string_view> parts = partsOf(path);
    if (std::find(parts.begin(), parts.end(), "..") != parts.end()) {
        return "'" + path + "' has a '..' part: give it relative to -C DIR";
    }
    if (path.empty()) {
        return "an empty PATH names nothing";
    }
    return std::nullopt;
}

std::string entryNameOf(const std::string& path)
{
    std::string name;
    for (const std::string_view part : partsOf(path)) {
        if (!part.empty() && part != ".") {
            name = joined(name, std::string(part));
        }
    }
    return name;
}

void InputWalk::add(const PathArgument& argument)
{
    const std::filesystem::path folder =
        argument.folder.empty() ? std::filesystem::path() : toNativePath(argument.folder.c_str());
    const std::filesystem::path path = folder / toNativePath(argument.path.c_str());
    // as the user would name it: "tree/a" for -C tree a, "tree" for -C tree .
    const std::string name = entryNameOf(argument.path);
    std::string folderShown = argument.folder;
    while (folderShown.size() > 1 && separators.find(folderShown.back()) != std::string_view::npos) {
        folderShown.pop_back();
    }
    std::string shown = joined(folderShown, name);
    if (shown.empty()) {
        shown = argument.path;
    }
    roots_.push_back({path, name, shown});
    ItemKind kind = ItemKind::other;
    ItemIdentity identity;
    if (const std::error_code error = lookAtPath(path, false, kind, identity)) {
        report_.leftOut(LeftOut::unreadable, shown, error);
        return;
    }
    visit(path, kind, identity, name);
}

std::string_view InputWalk::below(const InputRoot& root, const std::string& name)
{
    const std::size_t prefix = root.name.empty() ? 0 : root.name.size() + 1;
    return std::string_view(name).substr(std::min(prefix, name.size()));
}

std::filesystem::path InputWalk::pathOf(const InputFile& file) const
{
    const InputRoot& root = roots_[file.root];
    const std::string_view rest = below(root, file.name);
    return rest.empty() ? root.path : root.path / toNativePath(std::string(rest).c_str());
}

std::string InputWalk::shownOf(const InputFile& file) const
{
    const InputRoot& root = roots_[file.root];
    return joined(root.shown, std::string(below(root, file.name)));
}

bool InputWalk::isOutput(const ItemIdentity& identity, const std::filesystem::path& folder,
                         const std::string& item) const
{
    if (!output_) {
        return false;
    }
    if (identity.index != 0) {
        return identity == *output_;
    }
    // where a listing does not tell which file an item is, a look does
    ItemKind kind = ItemKind::other;
    ItemIdentity looked;
    return !lookAtPath(item.empty() ? folder : childPath(folder, item), true, kind, looked) && looked == *output_;
}

void InputWalk::visit(const std::filesystem::path& path, ItemKind kind, ItemIdentity identity, const std::string& name)
{
    const auto shown = [&] { return shownOf({name, static_cast<std::uint32_t>(roots_.size() - 1)}); };
    if (kind == ItemKind::link) {
        if (!followLinks_) {
            report_.leftOut(LeftOut::link, shown(), {});
            return;
        }
        if (const std::error_code error = lookAtPath(path, true, kind, identity)) {
            report_.leftOut(LeftOut::unreadable, shown(), error);
            return;
        }
    }
    switch (kind) {
    case ItemKind::file:
        if (isOutput(identity, path, {})) {
            report_.leftOut(LeftOut::theArchive, shown(), {});
        } else {
            files_.push_back({name, static_cast<std::uint32_t>(roots_.size() - 1)});
        }
        return;
    case ItemKind::folder: {
        if (followLinks_) {
            // a folder's own identity, where its listing gave its parent's view
            ItemKind ignored = ItemKind::folder;
            if (lookAtPath(path, true, ignored, identity)) {
                identity = {};
            }
            if (identity.index != 0 && std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end()) {
                report_.leftOut(LeftOut::loop, shown(), {});
                return;
            }
        }
        ancestors_.push_back(identity);
        walkFolder(path, name);
        ancestors_.pop_back();
        return;
    }
    case ItemKind::link:
    case ItemKind::other:
        report_.leftOut(LeftOut::special, shown(), {});
        return;
    }
}

void InputWalk::walkFolder(const std::filesystem::path& path, const std::string& name)
{
    std::vector<FolderItem> items;
    if (const std::error_code error = listFolder(path, items)) {
        report_.leftOut(LeftOut::unreadable, shownOf({name, static_cast<std::uint32_t>(roots_.size() - 1)}), error);
        return;
    }
    // in byte order, so that messages come in the same order on every machine
    std::sort(items.begin(), items.end(), [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    const auto root = static_cast<std::uint32_t>(roots_.size() - 1);
    for (const FolderItem& item : items) {
        std::string itemName = joined(name, item.name);
        // a file needs no path of its own until it is read
        if (item.kind == ItemKind::file) {
            if (isOutput(item.identity, path, item.name)) {
                report_.leftOut(LeftOut::theArchive, shownOf({itemName, root}), {});
            } else {
                files_.push_back({std::move(itemName), root});
            }
            continue;
        }
        visit(childPath(path, item.name), item.kind, item.identity, itemName);
    }
}

std::vector<InputFile> InputWalk::takeFiles()
{
    std::stable_sort(files_.begin(), files_.end(),
                     [](const InputFile& a, const InputFile& b) { return a.name < b.name; });
    return std::move(files_);
}
