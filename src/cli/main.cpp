#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "support/Arguments.h"

int main(int argc, char* argv[])
{
    try {
        const std::vector<std::string> arguments = commandLineArguments(argc, argv);
        std::vector<const char*> pointers;
        pointers.reserve(arguments.size());
        for (const std::string& argument : arguments) {
            pointers.push_back(argument.c_str());
        }
        return runCommandLine(pointers, std::cout);
    } catch (const std::bad_alloc&) {
        // allocations are bounded by the archive's size, so only a genuinely
        // huge directory on a small machine gets here
        writeLine(std::cout, "Exit Message: Out of memory.");
        return 1;
    }
}
