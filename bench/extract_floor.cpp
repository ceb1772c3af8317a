// Floor for -x: the fewest system calls that turn an archive into its tree.
// Reads the directory in one read, makes each folder once, and writes each
// entry with pread, open, write and close. Names are trusted: this is a
// yardstick, not a tool.
// Usage: extract_floor <archive> <folder>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Records.h"

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: extract_floor <archive> <folder>\n", stderr);
        return 2;
    }
    const int archive = ::open(argv[1], O_RDONLY);
    ::mkdir(argv[2], 0777);
    const int root = ::open(argv[2], O_RDONLY | O_DIRECTORY);
    unsigned char header[8] = {};
    if (archive < 0 || root < 0 || ::pread(archive, header, sizeof header, 0) != sizeof header) {
        return 1;
    }
    const auto count = static_cast<std::size_t>(decodeInt32(header));
    std::vector<unsigned char> directory(count * recordSize);
    if (::pread(archive, directory.data(), directory.size(), sizeof header) != static_cast<ssize_t>(directory.size())) {
        return 1;
    }
    std::set<std::string> made;
    std::vector<char> buffer(1 << 20);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* record = directory.data() + i * recordSize;
        const std::string name(reinterpret_cast<const char*>(record + 1),
                               ::strnlen(reinterpret_cast<const char*>(record + 1), 65));
        const std::size_t slash = name.rfind('/');
        if (slash != std::string::npos && made.insert(name.substr(0, slash)).second) {
            ::mkdirat(root, name.substr(0, slash).c_str(), 0777);
        }
        const auto size = static_cast<std::size_t>(decodeInt32(record + 70));
        const ssize_t got = ::pread(archive, buffer.data(), size, decodeInt32(record + 66));
        const int file = ::openat(root, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                  0666); // NOLINT(cppcoreguidelines-pro-type-vararg)
        if (got != static_cast<ssize_t>(size) || file < 0 || ::write(file, buffer.data(), size) != got ||
            ::close(file) != 0) {
            return 1;
        }
    }
    return 0;
}
