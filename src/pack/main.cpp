// trepack: makes TRE archives from files and from other archives.
#include <atomic>
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "pack/Pack.h"
#include "support/Console.h"

namespace {

// Set by SIGINT and SIGTERM while an archive is written: the write stops,
// removes its file, and the signal is raised again.
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};

extern "C" void requestStop(int signal)
{
    stopSignal = signal;
    stopRequested = true;
}

} // namespace

int main(int argc, char* argv[])
{
    guardStandardStreams();
    std::vector<std::string> arguments = commandLineArguments(argc, argv);
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());
    }
    (void)std::signal(SIGINT, requestStop);
    (void)std::signal(SIGTERM, requestStop);
    const bool errorIsTerminal = standardErrorIsTerminal();
    const PackConsole console{.outputIsTerminal = standardOutputIsTerminal(),
                              .errorIsTerminal = errorIsTerminal,
                              .progress = errorIsTerminal ? &std::cerr : nullptr,
                              .input = &std::cin,
                              .stop = &stopRequested,
                              .prepareDataOutput = prepareStandardOutputForData};
    int status = 1;
    try {
        status = runPack(arguments, std::cout, std::cerr, console);
    } catch (const std::bad_alloc&) {
        std::cerr << "trepack: out of memory\n" << std::flush;
    }
    if (stopRequested) {
        // as the signal would have ended it, now that nothing is left behind
        (void)std::signal(stopSignal, SIG_DFL);
        (void)std::raise(stopSignal);
    }
    if (!std::cout.flush()) {
        std::cerr << "trepack: cannot write to standard output\n" << std::flush;
        return 1;
    }
    return status;
}
