#pragma once

#include <cstdint>
#include <ostream>
#include <span>

// What the driver knows of the console it runs in.
struct ConsoleInfo {
    // standard output is a terminal: entry names are shown terminal-safe
    bool outputIsTerminal = false;
    // standard error when it is a terminal: -x draws its progress there
    std::ostream* progress = nullptr;
};

// The whole tool: scans the arguments (argument 0, the program's name,
// included), loads the archive named with -f and runs the actions asked for,
// always in the same order: console listing, list file, test, extraction of
// one entry, extraction into a folder. Every
// message goes to `out`. Returns the process exit status: 1 when an input
// archive was missing, any "Exit Message" line was printed or `out` failed
// (then no later action runs), 0 otherwise.
int runCommandLine(std::span<const char* const> arguments, std::ostream& out, const ConsoleInfo& console = {});

// The entry number of -o, converted as C's atoi converts text (leading blanks,
// an optional sign, digits up to the first other character, 0 without
// digits), except that values beyond signed 32 bits saturate instead of
// wrapping, so that they can never select a real entry.
std::int32_t parseEntryNumber(const char* text);
