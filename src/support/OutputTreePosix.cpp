// The POSIX body of OutputTree: every folder is opened from its parent with
// openat() and O_NOFOLLOW, and every file created with O_EXCL, so that no
// link inside the tree is ever followed.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "support/OutputTree.h"
#include "support/PosixFiles.h"

namespace tre {

namespace {

// Folders are only ever searched and created in, never listed: a folder
// that may be written but not read serves as well.
#if defined(O_PATH)
constexpr int searchOnly = O_PATH;
#elif defined(O_SEARCH)
constexpr int searchOnly = O_SEARCH;
#else
constexpr int searchOnly = O_RDONLY;
#endif

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

std::error_code errorOf(std::errc condition) { return std::make_error_code(condition); }

} // namespace

std::error_code OutputTree::open(const std::filesystem::path& folder)
{
    if (folder.empty()) {
        return errorOf(std::errc::no_such_file_or_directory);
    }
    std::error_code createError;
    std::filesystem::create_directories(folder, createError);
    root_ = openAtRetrying(AT_FDCWD, folder.c_str(), searchOnly | O_DIRECTORY);
    if (root_ == -1) {
        // a folder that could not be created is missing: its creation says why
        return errno == ENOENT && createError ? createError : lastSystemError();
    }
    return {};
}

OutputTree::Created OutputTree::openFolder(std::string_view name)
{
    const int parent = descriptor(chain_.empty() ? root_ : chain_.back().handle);
    std::string component(name);
    constexpr int openAsFolder = searchOnly | O_DIRECTORY | O_NOFOLLOW;
    int fd = openAtRetrying(parent, component.c_str(), openAsFolder);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, component.c_str(), 0777) != 0 && errno != EEXIST) {
            return {Result::failed, Making::folder, lastSystemError()};
        }
        fd = openAtRetrying(parent, component.c_str(), openAsFolder);
    }
    if (fd < 0) {
        const std::error_code error = lastSystemError();
        struct stat status {};
        if (::fstatat(parent, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(status.st_mode)) {
            return {Result::failed, Making::folder, error};
        }
        if (S_ISLNK(status.st_mode)) {
            return {Result::throughLink, Making::folder, {}};
        }
        return {Result::failed, Making::folder, errorOf(std::errc::not_a_directory)};
    }
    chain_.push_back({std::move(component), fd});
    return {Result::created, Making::folder, {}};
}

OutputTree::Created OutputTree::createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep)
{
    const int parent = descriptor(chain_.empty() ? root_ : chain_.back().handle);
    const std::string leaf(name);
    // O_EXCL | O_NOFOLLOW: a new file or nothing, never one reached through a link
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = openAtRetrying(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
        if (fd >= 0) {
            file = File(fd);
            return {Result::created, Making::file, {}};
        }
        if (errno != EEXIST) {
            return {Result::failed, Making::file, lastSystemError()};
        }
        // what stands there is looked at, never what a link there leads to
        struct stat status {};
        if (::fstatat(parent, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(status.st_mode)) {
                return {Result::failed, Making::file, errorOf(std::errc::is_a_directory)};
            }
            const FileIdentity identity{static_cast<std::uint64_t>(status.st_dev),
                                        static_cast<std::uint64_t>(status.st_ino)};
            if (keep && identity == *keep) {
                return {Result::kept, Making::file, {}};
            }
        }
        if (::unlinkat(parent, leaf.c_str(), 0) != 0 && errno != ENOENT) {
            return {Result::failed, Making::file, lastSystemError()};
        }
    }
    return {Result::failed, Making::file, errorOf(std::errc::file_exists)};
}

void OutputTree::closeFolder(std::intptr_t handle) { ::close(descriptor(handle)); }

} // namespace tre
