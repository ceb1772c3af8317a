// Runs the whole command line in-process on any bytes as the archive:
// -f <archive> -l -lf <list> -o <n> <out>, with n taken from the input's
// last byte (so that numbers in and out of range, negative ones too, occur).
#include <cstdlib>
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
    writeFile(archive, std::string(reinterpret_cast<const char*>(data), size - 1));
    const std::string entryNumber = std::to_string(static_cast<std::int8_t>(data[size - 1]));

    const std::vector<const char*> arguments{"tretool",    "-f", archive.c_str(),     "-l",       "-lf",
                                             list.c_str(), "-o", entryNumber.c_str(), out.c_str()};
    std::ostringstream output;
    const int status = runCommandLine(arguments, output);
    if (status != 0 && status != 1) {
        std::abort();
    }
    return 0;
}
