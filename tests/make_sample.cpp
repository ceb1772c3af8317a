// Writes the small sample archive used by the README's demo.
#include <exception>
#include <iostream>
#include <string>

#include "ArchiveWriter.h"

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::cerr << "usage: make_sample <archive>\n";
        return 2;
    }
    using namespace std::string_literals;
    try {
        ArchiveWriter()
            .add("readme.txt", "This text came out of sample.tre, entry 0.\n")
            .add("docs/guide.txt", "Entries are numbered from 0; list them with -l.\n")
            .add("data/levels/level1.dat", "\x01\x00\x02\x00\x03\x00\r\n\x1a"s)
            .add("images/icons/logo.bmp", "BM\x3a\x00\x00\x00"s)
            .add("sounds/click.wav", "RIFF\x24\x00\x00\x00WAVE"s)
            .writeTo(argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "make_sample: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
