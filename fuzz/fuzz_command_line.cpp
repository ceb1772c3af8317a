// Runs the whole command line in-process on any bytes as the archive:
// -f <archive> -l -v -lf <list> -t -o <n> <out> -x <folder>, with n taken
// from the input's last byte (so that numbers in and out of range, negative
// ones too, occur). Whatever the names, nothing is written outside the folder.
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "FuzzFiles.h"
#include "cli/CommandLine.h"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    static const std::string archive = fuzzFolder() + "/archive.tre";
    static const std::string list = fuzzFolder() + "/list.txt";
    static const std::string out = fuzzFolder() + "/out.bin";
    static const std::string folder = fuzzFolder() + "/tree";
    writeFile(archive, std::string(reinterpret_cast<const char*>(data), size - 1));
    const std::string entryNumber = std::to_string(static_cast<std::int8_t>(data[size - 1]));

    const std::vector<const char*> arguments{
        "tretool", "-f", archive.c_str(),     "-l",        "-v", "-lf",         list.c_str(),
        "-t",      "-o", entryNumber.c_str(), out.c_str(), "-x", folder.c_str()};
    std::ostringstream output;
    const int status = runCommandLine(arguments, output, output);
    if (status != 0 && status != 1) {
        std::abort();
    }
    // the fuzz folder holds the archive, the list, the output and the tree, and nothing else
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& file : std::filesystem::directory_iterator(fuzzFolder())) {
        ++files;
    }
    if (files > 4) {
        std::abort();
    }
    std::filesystem::remove_all(folder);
    return 0;
}
