// Baseline for the listing: writes the lines of a file to standard output
// with one write() per line, the least that a flush after every line costs.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: write_lines <file>\n", stderr);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (::write(STDOUT_FILENO, text.data() + start, end - start) < 0) {
            return 1;
        }
        start = end;
    }
    return 0;
}
