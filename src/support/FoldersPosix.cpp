// The POSIX body of the programs' folder walks.
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "support/Folders.h"

namespace {

std::error_code lastError() { return {errno, std::system_category()}; }

ItemKind kindOf(mode_t mode)
{
    return S_ISREG(mode)   ? ItemKind::file
           : S_ISDIR(mode) ? ItemKind::folder
           : S_ISLNK(mode) ? ItemKind::link
                           : ItemKind::other;
}

struct CloseFolder {
    void operator()(DIR* folder) const noexcept { ::closedir(folder); }
};

} // namespace

std::error_code listFolder(const std::filesystem::path& folder, std::vector<FolderItem>& items)
{
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return lastError();
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const std::error_code error = lastError();
        ::close(fd);
        return error;
    }
    const std::unique_ptr<DIR, CloseFolder> listing(::fdopendir(fd));
    if (!listing) {
        const std::error_code error = lastError();
        ::close(fd);
        return error;
    }
    const auto device = static_cast<std::uint64_t>(status.st_dev);
    errno = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): one listing, one thread
    while (const dirent* item = ::readdir(listing.get())) {
        const std::string_view name(item->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        FolderItem found{std::string(name), ItemKind::other, {device, static_cast<std::uint64_t>(item->d_ino)}};
        switch (item->d_type) {
        case DT_REG:
            found.kind = ItemKind::file;
            break;
        case DT_DIR:
            found.kind = ItemKind::folder;
            break;
        case DT_LNK:
            found.kind = ItemKind::link;
            break;
        case DT_UNKNOWN: {
            // some file systems do not say: a look at the item itself does
            struct stat itemStatus {};
            if (::fstatat(::dirfd(listing.get()), item->d_name, &itemStatus, AT_SYMLINK_NOFOLLOW) == 0) {
                found.kind = kindOf(itemStatus.st_mode);
                found.identity = {static_cast<std::uint64_t>(itemStatus.st_dev),
                                  static_cast<std::uint64_t>(itemStatus.st_ino)};
            }
            break;
        }
        default:
            break;
        }
        // (a mount point lists the inode below it: such a folder's own is looked at when it is walked)
        items.push_back(std::move(found));
        errno = 0;
    }
    return errno != 0 ? lastError() : std::error_code();
}

std::error_code lookAtPath(const std::filesystem::path& path, bool followLinks, ItemKind& kind, ItemIdentity& identity)
{
    struct stat status {};
    if ((followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status)) != 0) {
        return lastError();
    }
    kind = kindOf(status.st_mode);
    identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return {};
}

std::filesystem::path childPath(const std::filesystem::path& folder, const std::string& name) { return folder / name; }
