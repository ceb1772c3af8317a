#pragma once

#include <atomic>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// What trepack knows of the console it runs in.
struct PackConsole {
    // standard output and error are terminals: names shown there are
    // terminal-safe, and no archive goes to a terminal
    bool outputIsTerminal = false;
    bool errorIsTerminal = false;
    // standard error when it is a terminal: the progress line is drawn there
    std::ostream* progress = nullptr;
    // standard input, for -T -
    std::istream* input = nullptr;
    // set when the run must stop (SIGINT, SIGTERM): the write stops and its
    // file is removed
    const std::atomic<bool>* stop = nullptr;
    // called before the archive's bytes go to standard output
    void (*prepareDataOutput)() = nullptr;
};

// The whole of trepack: reads the arguments (argument 0 excluded), makes
// the archive, and returns the exit status: 0 when everything given went
// into it, 1 when anything was left out or failed, 2 for a command line that
// cannot be used. Messages go to `err` as "trepack: ..."; names printed by -v
// and the listing of --dry-run to `out`, but where the archive itself goes
// to `out` (-f -).
int runPack(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            const PackConsole& console = {});
