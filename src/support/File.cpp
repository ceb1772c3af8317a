// The platform-independent part of File; the rest is in FilePosix.cpp and
// FileWindows.cpp.
#include "support/File.h"

#include <algorithm>
#include <utility>

namespace tre {

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, closedHandle)) {}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, closedHandle);
    }
    return *this;
}

File::~File() { close(); }

IoResult File::readAt(std::int64_t offset, char* buffer, std::int64_t length) const
{
    if (offset < 0) {
        return {};
    }
    return readFully([this](std::int64_t at, char* into,
                            std::int64_t wanted) { return readOnce(at, into, std::min(wanted, maxChunk)); },
                     offset, buffer, length);
}

std::error_code File::writeAll(const char* data, std::int64_t length)
{
    std::int64_t done = 0;
    while (done < length) {
        const IoResult put = writeOnce(data + done, std::min(length - done, maxChunk));
        if (put.error) {
            return put.error;
        }
        if (put.bytes <= 0) {
            return std::make_error_code(std::errc::io_error);
        }
        done += put.bytes;
    }
    return {};
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : file_(std::move(other.file_)), temporaryPath_(std::exchange(other.temporaryPath_, {})),
      targetPath_(std::move(other.targetPath_)), replacing_(other.replacing_), mode_(other.mode_), owner_(other.owner_),
      group_(other.group_)
{
}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept
{
    if (this != &other) {
        discard();
        file_ = std::move(other.file_);
        temporaryPath_ = std::exchange(other.temporaryPath_, {});
        targetPath_ = std::move(other.targetPath_);
        replacing_ = other.replacing_;
        mode_ = other.mode_;
        owner_ = other.owner_;
        group_ = other.group_;
    }
    return *this;
}

ReplacementFile::~ReplacementFile() { discard(); }

std::error_code ReplacementFile::commit()
{
    if (!file_.isOpen()) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    // a crash after the move must find the new bytes under the name, never
    // an empty file: they reach the disk first
    std::error_code error = takeOwnerAndMode();
    if (!error) {
        error = file_.flush();
    }
    const std::error_code closed = file_.close();
    if (error || closed) {
        return error ? error : closed;
    }
    if (const std::error_code moved = moveIntoPlace()) {
        return moved;
    }
    temporaryPath_.clear();
    return {};
}

void ReplacementFile::discard()
{
    if (!temporaryPath_.empty()) {
        file_.close();
        std::error_code ignored;
        std::filesystem::remove(temporaryPath_, ignored);
        temporaryPath_.clear();
    }
}

} // namespace tre
