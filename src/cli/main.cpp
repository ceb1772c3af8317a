#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "support/Console.h"

namespace {

int run(int argc, char* argv[])
{
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    std::vector<const char*> pointers;
    pointers.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    const bool errorIsTerminal = standardErrorIsTerminal();
    const ConsoleInfo console{.outputIsTerminal = standardOutputIsTerminal(),
                              .errorIsTerminal = errorIsTerminal,
                              .progress = errorIsTerminal ? &std::cerr : nullptr,
                              .prepareDataOutput = prepareStandardOutputForData};
    return runCommandLine(pointers, std::cout, std::cerr, console);
}

} // namespace

int main(int argc, char* argv[])
{
    guardStandardStreams();
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc&) {
        // every buffer is bounded by a small constant, so only a machine
        // that cannot spare the tool a few megabytes gets here
        std::cout << "Exit Message: Out of memory.\n" << std::flush;
    }
    // a listing lost to a full disk or a closed pipe must not end in success
    if (!std::cout.flush()) {
        std::cerr << "tretool: cannot write to standard output\n" << std::flush;
        return 1;
    }
    return status;
}
