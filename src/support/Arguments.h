#pragma once

#include <string>
#include <vector>

// The process arguments as UTF-8 text, argument 0 included. On platforms
// whose argument vector is in a legacy code page, the arguments are taken
// from the system's own Unicode copy, so that any path can be named.
std::vector<std::string> commandLineArguments(int argc, char* argv[]);
