// The POSIX bodies of the platform layer: files, large blocks, the console.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "support/Arguments.h"
#include "support/ByteBlock.h"
#include "support/Console.h"
#include "support/File.h"
#include "support/OutputTree.h"

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

std::intptr_t openRetrying(const char* path, int flags)
{
    int fd = -1;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666); // NOLINT(cppcoreguidelines-pro-type-vararg)
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openAtRetrying(int parent, const std::string& name, int flags)
{
    int fd = -1;
    do {
        fd = ::openat(parent, name.c_str(), flags | O_CLOEXEC, 0666); // NOLINT(cppcoreguidelines-pro-type-vararg)
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool noSpaceLeft(int error) { return error == ENOSPC || error == EDQUOT; }

} // namespace

const char* const textFileLineEnd = "\n";

// O_NONBLOCK: opening a FIFO must not wait for a writer to turn up
File File::openForReadingCreating(const String& path)
{
    return File(openRetrying(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK));
}

File File::createForWriting(const String& path)
{
    return File(openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC));
}

bool File::isRegular() const
{
    struct stat status {};
    return ::fstat(descriptor(handle_), &status) == 0 && S_ISREG(status.st_mode);
}

std::int64_t File::size() const
{
    struct stat status {};
    if (::fstat(descriptor(handle_), &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    return status.st_size;
}

namespace {

FileIdentity identityOf(const struct stat& status)
{
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

} // namespace

std::optional<FileIdentity> File::identity() const
{
    struct stat status {};
    if (::fstat(descriptor(handle_), &status) != 0) {
        return std::nullopt;
    }
    return identityOf(status);
}

bool File::isSameFileAs(const String& path) const
{
    struct stat mine {};
    struct stat theirs {};
    return ::fstat(descriptor(handle_), &mine) == 0 && ::stat(path.c_str(), &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

std::int64_t File::readOnce(std::int64_t offset, char* buffer, std::int64_t length) const
{
    ssize_t got = 0;
    do {
        got = ::pread(descriptor(handle_), buffer, static_cast<std::size_t>(length), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

// NOLINTNEXTLINE(readability-make-member-function-const): writing changes the file
std::int64_t File::writeOnce(const char* data, std::int64_t length)
{
    ssize_t put = 0;
    do {
        put = ::write(descriptor(handle_), data, static_cast<std::size_t>(length));
    } while (put < 0 && errno == EINTR);
    outOfSpace_ = outOfSpace_ || (put < 0 && noSpaceLeft(errno));
    return put;
}

bool File::close()
{
    if (!isOpen()) {
        return true;
    }
    // POSIX leaves the descriptor closed even when close fails, so never retry
    const bool closed = ::close(descriptor(std::exchange(handle_, closedHandle))) == 0;
    outOfSpace_ = outOfSpace_ || (!closed && noSpaceLeft(errno));
    return closed;
}

ReplacementFile::ReplacementFile(const String& path)
{
    // follow links to the file itself; a path that names no file is used as given
    char* resolved = ::realpath(path.c_str(), nullptr);
    targetPath_ = resolved != nullptr ? resolved : path.c_str();
    std::free(resolved); // NOLINT(cppcoreguidelines-no-malloc): realpath's result
    // only a regular file is ever replaced, never a device or a folder
    struct stat status {};
    const bool exists = ::stat(targetPath_.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        return;
    }
    std::string temporary = std::string(targetPath_.c_str()) + ".tretool-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (exists) {
        // the new file keeps the permissions of the one it replaces
        ::fchmod(fd, status.st_mode & 07777U);
    }
    temporaryPath_ = temporary.c_str();
    file_ = File(fd);
}

ReplacementFile::~ReplacementFile()
{
    if (temporaryPath_.length() > 0) {
        file_.close();
        ::unlink(temporaryPath_.c_str());
    }
}

bool ReplacementFile::commit()
{
    if (!file_.isOpen() || !file_.close() || ::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
        return false;
    }
    temporaryPath_ = "";
    return true;
}

bool OutputTree::open(const String& folder)
{
    std::error_code ignored;
    std::filesystem::create_directories(toNativePath(folder), ignored);
    root_ = openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY);
    return root_ != -1;
}

OutputTree::Result OutputTree::openFolder(std::string_view name)
{
    const int parent = descriptor(chain_.empty() ? root_ : chain_.back().handle);
    std::string component(name);
    constexpr int openAsFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    int fd = openAtRetrying(parent, component, openAsFolder);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, component.c_str(), 0777) != 0 && noSpaceLeft(errno)) {
            return Result::outOfSpace;
        }
        fd = openAtRetrying(parent, component, openAsFolder);
    }
    if (fd < 0) {
        struct stat status {};
        if (::fstatat(parent, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            return Result::failed;
        }
        return S_ISLNK(status.st_mode)   ? Result::throughLink
               : S_ISDIR(status.st_mode) ? Result::failed
                                         : Result::blocked;
    }
    chain_.push_back({std::move(component), fd});
    return Result::created;
}

OutputTree::Result OutputTree::createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep)
{
    const int parent = descriptor(chain_.empty() ? root_ : chain_.back().handle);
    const std::string leaf(name);
    // O_EXCL | O_NOFOLLOW: a new file or nothing, never one reached through a link
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = openAtRetrying(parent, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
        if (fd >= 0) {
            file = File(fd);
            return Result::created;
        }
        if (noSpaceLeft(errno)) {
            return Result::outOfSpace;
        }
        if (errno != EEXIST) {
            return Result::failed;
        }
        struct stat status {};
        if (::fstatat(parent, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(status.st_mode)) {
                return Result::blocked;
            }
            // only a link needs a second look, at what it leads to
            if (keep && S_ISLNK(status.st_mode) && ::fstatat(parent, leaf.c_str(), &status, 0) != 0) {
                status = {};
            }
            if (keep && identityOf(status) == *keep) {
                return Result::kept;
            }
        }
        if (::unlinkat(parent, leaf.c_str(), 0) != 0 && errno != ENOENT) {
            return Result::failed;
        }
    }
    return Result::failed;
}

void OutputTree::closeFolder(std::intptr_t handle) { ::close(descriptor(handle)); }

std::filesystem::path toNativePath(const String& path) { return {path.c_str()}; }

void* allocateBlock(std::size_t size)
{
    constexpr std::size_t page = 4096;
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + page - 1) / page * page;
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): ByteBlock owns the block
    void* block = std::aligned_alloc(page, rounded);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// NOLINTNEXTLINE(cppcoreguidelines-no-malloc): releases what allocateBlock took
void releaseBlock(void* block) noexcept { std::free(block); }

std::vector<std::string> commandLineArguments(int argc, char* argv[]) { return {argv, argv + argc}; }

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void guardStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) { // NOLINT(cppcoreguidelines-pro-type-vararg)
            // opened for reading only, so that every write to it fails and is reported
            const int placeholder = descriptor(openRetrying("/dev/null", O_RDONLY));
            if (placeholder >= 0 && placeholder != fd) {
                ::dup2(placeholder, fd);
                ::close(placeholder);
            }
        }
    }
}
