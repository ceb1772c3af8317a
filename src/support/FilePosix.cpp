// The POSIX body of File and ReplacementFile.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "support/File.h"
#include "support/PosixFiles.h"

namespace tre {

int openAtRetrying(int directory, const char* name, int flags)
{
    int fd = -1;
    do {
        fd = ::openat(directory, name, flags | O_CLOEXEC, 0666); // NOLINT(cppcoreguidelines-pro-type-vararg)
    } while (fd < 0 && errno == EINTR);
    return fd;
}

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

int openRetrying(const char* path, int flags) { return openAtRetrying(AT_FDCWD, path, flags); }

// What a new file's mode is here: 0666 less the umask, which can only be
// read by setting it (and setting it back at once).
std::uint32_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666U & ~static_cast<std::uint32_t>(mask);
}

std::int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStatus statusOf(const struct stat& status)
{
    return {.regular = S_ISREG(status.st_mode),
            .folder = S_ISDIR(status.st_mode),
            .size = status.st_size,
            .modified = nanoseconds(status.st_mtim),
            .changed = nanoseconds(status.st_ctim),
            .identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)}};
}

} // namespace

std::error_code lastSystemError() { return {errno, std::system_category()}; }

std::error_code File::statusAt(const std::filesystem::path& path, FileStatus& status)
{
    struct stat found {};
    if (::stat(path.c_str(), &found) != 0) {
        return lastSystemError();
    }
    status = statusOf(found);
    return {};
}

std::error_code File::checkReadable(const std::filesystem::path& path)
{
    return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0 ? std::error_code() : lastSystemError();
}

bool isOutOfSpace(const std::error_code& code)
{
    return code == std::errc::no_space_on_device ||
           (code.category() == std::system_category() && code.value() == EDQUOT);
}

// O_NONBLOCK: opening a FIFO must not wait for a writer to turn up
File File::openForReading(const std::filesystem::path& path, std::error_code& error)
{
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK);
    error = fd < 0 ? lastSystemError() : std::error_code();
    return File(fd);
}

File File::openForWriting(const std::filesystem::path& path, std::error_code& error)
{
    const int fd = openRetrying(path.c_str(), O_WRONLY | O_CREAT);
    error = fd < 0 ? lastSystemError() : std::error_code();
    return File(fd);
}

std::error_code File::status(FileStatus& status) const
{
    struct stat found {};
    if (::fstat(descriptor(handle_), &found) != 0) {
        return lastSystemError();
    }
    status = statusOf(found);
    return {};
}

IoResult File::readOnce(std::int64_t offset, char* buffer, std::int64_t length) const
{
    ssize_t got = 0;
    do {
        got = ::pread(descriptor(handle_), buffer, static_cast<std::size_t>(length), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got < 0 ? IoResult{0, lastSystemError()} : IoResult{got, {}};
}

// NOLINTNEXTLINE(readability-make-member-function-const): writing changes the file
IoResult File::writeOnce(const char* data, std::int64_t length)
{
    ssize_t put = 0;
    do {
        put = ::write(descriptor(handle_), data, static_cast<std::size_t>(length));
    } while (put < 0 && errno == EINTR);
    return put < 0 ? IoResult{0, lastSystemError()} : IoResult{put, {}};
}

CopiedBytes File::copyFrom(const File& source, std::int64_t offset, std::int64_t length, std::span<char> buffer)
{
    CopiedBytes copied;
#if defined(__linux__)
    // in the kernel, with neither file's bytes passing through this process
    while (copied.bytes < length) {
        auto from = static_cast<loff_t>(offset + copied.bytes);
        const ssize_t moved = ::copy_file_range(descriptor(source.handle_), &from, descriptor(handle_), nullptr,
                                                static_cast<std::size_t>(std::min(length - copied.bytes, maxChunk)), 0);
        if (moved > 0) {
            copied.bytes += moved;
            continue;
        }
        if (moved == 0) {
            return copied; // the source ends
        }
        if (errno == EINTR) {
            continue;
        }
        // where the kernel cannot copy between these two (other file
        // systems, old kernels, special files), the buffer does
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
            break;
        }
        const bool outputSide = errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EPIPE;
        (outputSide ? copied.writeError : copied.readError) = lastSystemError();
        return copied;
    }
#endif
    const CopiedBytes rest =
        copyThrough(source, offset + copied.bytes, length - copied.bytes, buffer,
                    [this](std::span<const char> bytes) { return writeAll(bytes.data(), std::ssize(bytes)); });
    return {copied.bytes + rest.bytes, rest.readError, rest.writeError};
}

// NOLINTNEXTLINE(readability-make-member-function-const): truncating changes the file
std::error_code File::truncate()
{
    return ::ftruncate(descriptor(handle_), 0) == 0 ? std::error_code() : lastSystemError();
}

// NOLINTNEXTLINE(readability-make-member-function-const): flushing changes what the disk holds
std::error_code File::flush()
{
    int result = 0;
    do {
        result = ::fsync(descriptor(handle_));
    } while (result != 0 && errno == EINTR);
    return result == 0 ? std::error_code() : lastSystemError();
}

std::error_code File::close()
{
    if (!isOpen()) {
        return {};
    }
    // POSIX leaves the descriptor closed even when close fails, so never retry
    return ::close(descriptor(std::exchange(handle_, closedHandle))) == 0 ? std::error_code() : lastSystemError();
}

FileOpener::~FileOpener()
{
    if (handle_ != -1) {
        ::close(descriptor(handle_));
    }
}

std::intptr_t FileOpener::folderOf(NativePathView path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == NativePathView::npos || slash + 1 == path.size()) {
        leaf_.assign(path);
        return AT_FDCWD;
    }
    const NativePathView folder = path.substr(0, slash == 0 ? 1 : slash);
    if (handle_ == -1 || folder != folder_) {
        if (handle_ != -1) {
            ::close(descriptor(std::exchange(handle_, -1)));
        }
        folder_.assign(folder);
        handle_ = openRetrying(folder_.c_str(), O_PATH | O_DIRECTORY);
    }
    // a folder that cannot be opened so: the whole path says why
    if (handle_ == -1) {
        leaf_.assign(path);
        return AT_FDCWD;
    }
    leaf_.assign(path.substr(slash + 1));
    return handle_;
}

std::error_code FileOpener::status(NativePathView path, FileStatus& status)
{
    const int folder = descriptor(folderOf(path));
    struct stat found {};
    if (::fstatat(folder, leaf_.c_str(), &found, 0) != 0) {
        return lastSystemError();
    }
    status = statusOf(found);
    return {};
}

std::error_code FileOpener::checkReadable(NativePathView path)
{
    const int folder = descriptor(folderOf(path));
    return ::faccessat(folder, leaf_.c_str(), R_OK, AT_EACCESS) == 0 ? std::error_code() : lastSystemError();
}

File FileOpener::openForReading(NativePathView path, std::error_code& error)
{
    const int folder = descriptor(folderOf(path));
    const int fd = openAtRetrying(folder, leaf_.c_str(), O_RDONLY | O_NONBLOCK);
    error = fd < 0 ? lastSystemError() : std::error_code();
    return File(fd);
}

ReplacementFile ReplacementFile::create(const std::filesystem::path& path, std::error_code& error)
{
    ReplacementFile replacement;
    // follow links to the file itself; a path that names no file is used as given
    char* resolved = ::realpath(path.c_str(), nullptr);
    replacement.targetPath_ = resolved != nullptr ? std::filesystem::path(resolved) : path;
    std::free(resolved); // NOLINT(cppcoreguidelines-no-malloc): realpath's result
    // only a regular file is ever replaced, never a device or a folder
    struct stat status {};
    const bool exists = ::stat(replacement.targetPath_.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        error = std::make_error_code(S_ISDIR(status.st_mode) ? std::errc::is_a_directory : std::errc::invalid_argument);
        return replacement;
    }
    std::string temporary = replacement.targetPath_.string() + ".tretool-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = lastSystemError();
        return replacement;
    }
    replacement.replacing_ = exists;
    replacement.mode_ = exists ? status.st_mode & 07777U : newFileMode();
    replacement.owner_ = status.st_uid;
    replacement.group_ = status.st_gid;
    replacement.temporaryPath_ = temporary;
    replacement.file_ = File(fd);
    error = {};
    return replacement;
}

std::error_code ReplacementFile::takeOwnerAndMode()
{
    const int fd = descriptor(file_.nativeHandle());
    if (replacing_) {
        struct stat made {};
        if (::fstat(fd, &made) != 0) {
            return lastSystemError();
        }
        // Only root may give a file away: where the user may not, it stays
        // theirs, as any file they write, and keeps the group where they are
        // in it. The owner comes before the mode, as changing it clears the
        // set-user-ID bits.
        if ((made.st_uid != owner_ || made.st_gid != group_) && ::fchown(fd, owner_, group_) != 0) {
            if (errno != EPERM) {
                return lastSystemError();
            }
            if (made.st_gid != group_ && ::fchown(fd, static_cast<uid_t>(-1), group_) != 0 && errno != EPERM) {
                return lastSystemError();
            }
        }
    }
    return ::fchmod(fd, mode_) == 0 ? std::error_code() : lastSystemError();
}

std::error_code ReplacementFile::moveIntoPlace() const
{
    return ::rename(temporaryPath_.c_str(), targetPath_.c_str()) == 0 ? std::error_code() : lastSystemError();
}

} // namespace tre
