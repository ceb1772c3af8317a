// The platform-independent part of File; the rest is in the platform bodies.
#include "support/File.h"

#include <algorithm>
#include <utility>

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

std::int64_t File::readAt(std::int64_t offset, char* buffer, std::int64_t length) const
{
    if (offset < 0) {
        return 0;
    }
    std::int64_t done = 0;
    while (done < length) {
        const std::int64_t got = readOnce(offset + done, buffer + done, std::min(length - done, maxChunk));
        if (got <= 0) {
            break;
        }
        done += got;
    }
    return done;
}

bool File::writeAll(const char* data, std::int64_t length)
{
    std::int64_t done = 0;
    while (done < length) {
        const std::int64_t put = writeOnce(data + done, std::min(length - done, maxChunk));
        if (put <= 0) {
            return false;
        }
        done += put;
    }
    return true;
}
