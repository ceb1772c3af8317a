#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One PATH of the command line (or of a -T list), with the folder it is
// relative to: the -C in effect where it was given ("" for the current one).
struct PathArgument {
    std::string folder;
    std::string path;
};

// A -T list, read after the whole command line (so that --null may follow
// it), with the folder in effect where it was given.
struct ListArgument {
    std::string folder;
    std::string file;
};

// What trepack's command line asks for.
struct PackRequest {
    std::string output;              // -f; "-" for standard output
    std::optional<std::string> base; // --base
    std::optional<std::int32_t> headerWord;
    std::optional<std::uint8_t> prefixByte;
    std::vector<std::string> excludes; // --exclude
    std::vector<PathArgument> paths;
    std::vector<ListArgument> lists; // -T
    bool nullSeparated = false;      // --null
    bool verbose = false;            // -v
    bool quiet = false;              // -q
    bool dryRun = false;             // -n, --dry-run
    bool followLinks = false;        // -L
    bool help = false;               // -h, --help
    bool version = false;            // -V, --version
};

// Reads the arguments (argument 0, the program's name, excluded); on a
// command line that cannot be used, the reason, for "trepack: REASON".
struct ParsedRequest {
    PackRequest request;
    std::string problem;
};
ParsedRequest parsePackArguments(const std::vector<std::string>& arguments);

// The help screen of -h and --help.
extern const char* const packUsage;
extern const char* const packHelp;
