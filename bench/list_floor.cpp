// Floor for the list file: the least work that turns an archive's directory
// into its listing. Reads the directory in 1 MiB reads and writes the text
// in 1 MiB writes, with no checks beyond what the bytes need.
// Usage: list_floor <archive> <listfile>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "Records.h"

namespace {

constexpr std::size_t recordsPerRead = (std::size_t{1} << 20) / recordSize;
constexpr std::size_t textBlock = std::size_t{1} << 20;

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fputs("usage: list_floor <archive> <listfile>\n", stderr);
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY);
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644); // NOLINT(cppcoreguidelines-pro-type-vararg)
    unsigned char header[8] = {};
    if (in < 0 || out < 0 || ::pread(in, header, sizeof header, 0) != sizeof header) {
        return 1;
    }
    const std::int32_t count = decodeInt32(header);
    std::vector<unsigned char> records(recordsPerRead * recordSize);
    std::vector<char> text(textBlock + 128);
    std::size_t used = 0;
    off_t offset = sizeof header;
    for (std::int32_t first = 0; first < count;) {
        const std::size_t wanted = std::min<std::size_t>(recordsPerRead, static_cast<std::size_t>(count - first));
        const ssize_t got = ::pread(in, records.data(), wanted * recordSize, offset);
        if (got <= 0) {
            break;
        }
        offset += got;
        const std::size_t complete = static_cast<std::size_t>(got) / recordSize;
        for (std::size_t i = 0; i < complete; ++i, ++first) {
            const char* name = reinterpret_cast<const char*>(records.data() + i * recordSize + 1);
            const void* nul = std::memchr(name, 0, 65);
            const std::size_t length = nul != nullptr ? static_cast<const char*>(nul) - name : 65;
            used = static_cast<std::size_t>(std::to_chars(text.data() + used, text.data() + text.size(), first).ptr -
                                            text.data());
            text[used++] = ':';
            text[used++] = ' ';
            std::memcpy(text.data() + used, name, length);
            used += length;
            text[used++] = '\n';
            if (used >= textBlock) {
                if (::write(out, text.data(), used) != static_cast<ssize_t>(used)) {
                    return 1;
                }
                used = 0;
            }
        }
    }
    return ::write(out, text.data(), used) == static_cast<ssize_t>(used) && ::close(out) == 0 ? 0 : 1;
}
