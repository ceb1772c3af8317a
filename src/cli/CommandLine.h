#pragma once

#include <cstdint>
#include <ostream>
#include <span>

// What the driver knows of the console it runs in.
struct ConsoleInfo {
    // standard output, or standard error, is a terminal: entry names shown
    // there are terminal-safe
    bool outputIsTerminal = false;
    bool errorIsTerminal = false;
    // standard error when it is a terminal: -x draws its progress there
    std::ostream* progress = nullptr;
    // called before a run with -j or -p writes anything: standard output
    // then carries data, which must pass as it is
    void (*prepareDataOutput)() = nullptr;
};

// The whole tool: scans the arguments (argument 0, the program's name,
// included), opens the archive named with -f and runs the actions asked
// for, always in the same order: console listing, list file, test,
// extraction of one entry, one entry to standard output, extraction into a
// folder. Lines go to `out` (standard output); in a run with -j or -p,
// `out` carries only the JSON lines or the entry's bytes, and every other
// line goes to `err`. Returns the process exit status: 1 when an input
// archive was missing, any "Exit Message" line was printed or `out` failed
// (then no later action runs), 0 otherwise.
int runCommandLine(std::span<const char* const> arguments, std::ostream& out, std::ostream& err,
                   const ConsoleInfo& console = {});

// The entry number of -o and -p, converted as C's atoi converts text
// (leading blanks, an optional sign, digits up to the first other
// character, 0 without digits), except that values beyond signed 32 bits
// saturate instead of wrapping, so that they can never select a real entry.
std::int32_t parseEntryNumber(const char* text);
