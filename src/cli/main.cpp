#include <cstddef>
#include <iostream>
#include <new>

#include "cli/CommandLine.h"
#include "cli/Output.h"

int main(int argc, char* argv[])
{
    try {
        return runCommandLine({argv, static_cast<std::size_t>(argc)}, std::cout);
    } catch (const std::bad_alloc&) {
        // allocations are bounded by the archive's size, so only a genuinely
        // huge directory on a small machine gets here
        writeLine(std::cout, "Exit Message: Out of memory.");
        return 1;
    }
}
