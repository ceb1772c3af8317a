// Writes the fuzzers' seed corpus: valid archives and the usual kinds of damage.
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>

#include "ArchiveWriter.h"

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::cerr << "usage: make_corpus <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
    // the command-line target reads its entry number from the last byte
    const auto seed = [&](const std::string& name, const std::string& bytes, char entryNumber = '\x01') {
        writeFile(folder / name, bytes + entryNumber);
    };
    const std::string valid = ArchiveWriter()
                                  .add("readme.txt", "hello\n")
                                  .add("dir/sub/data.bin", std::string("\0\r\n\x1a", 4))
                                  .add("empty", "")
                                  .bytes();
    seed("valid", valid);
    seed("empty", ArchiveWriter().bytes(), '\0');
    seed("truncated-header", valid.substr(0, 5));
    seed("truncated-directory", valid.substr(0, 8 + 74 + 30));
    seed("huge-count", ArchiveWriter().claimCount(max).add("only", "x").bytes(), '\0');
    seed("negative-count", ArchiveWriter().claimCount(-1).add("only", "x").bytes(), '\0');
    seed("negative-size", ArchiveWriter().add(TestRecord{.name = "n", .data = "abc", .size = -3}).bytes(), '\0');
    seed("huge-size", ArchiveWriter().add(TestRecord{.name = "h", .data = "abc", .size = max}).bytes(), '\0');
    seed("offset-past-end", ArchiveWriter().add(TestRecord{.name = "o", .data = "abc", .offset = 4096}).bytes(), '\0');
    seed("negative-offset", ArchiveWriter().add(TestRecord{.name = "o", .data = "abc", .offset = min}).bytes(), '\0');
    seed("name-without-nul", ArchiveWriter().add(std::string(65, 'n'), "data").bytes(), '\0');
    seed("conflicts", ArchiveWriter()
                          .add("a", "1")
                          .add("a/b", "2")
                          .add("c/d", "3")
                          .add("c", "4")
                          .add("./c//d", "5")
                          .add("e\\f/../g", "6")
                          .bytes());
    // for the name rules: a pattern, a NUL, a name
    using namespace std::string_literals;
    seed("names-glob", "*/[!a-c]?.txt\0dir/d1.txt"s);
    seed("names-unsafe", "*a*a*b\0..\\c:/CON.txt"s);
    // for the JSON lines: names with every class of byte
    seed("json-mixed", "caf\xc3\xa9 \"q\" \\ \x01\x7f\xc2\x9b\xff\xed\xa0\x80\xf0\x9f\x98\x80"s);
    return 0;
}
