#pragma once

// What the programs (not the library) need of the system they run in: their
// arguments and the paths these name, their standard streams, and the one
// file the command line may create. Bodies: ConsolePosix.cpp and
// ConsoleWindows.cpp.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The process arguments as UTF-8 text, argument 0 included. On platforms
// whose argument vector is in a legacy code page, the arguments are taken
// from the system's own Unicode copy, so that any path can be named.
std::vector<std::string> commandLineArguments(int argc, char* argv[]);

// The path that an argument names: its bytes as they are on POSIX, UTF-8
// on Windows.
std::filesystem::path toNativePath(const char* argument);

// How text files end their lines on this platform.
extern const char* const textFileLineEnd;

// Whether standard output, or standard error, is a terminal (a console window).
bool standardOutputIsTerminal();
bool standardErrorIsTerminal();

// Where the process was started with standard input, output or error
// closed, puts a placeholder there that fails every write: otherwise the
// next file opened would take the place of standard output, and the
// listing would be written into it.
void guardStandardStreams();

// Standard output is about to carry data (an entry's bytes, JSON lines):
// it passes bytes as they are, without turning line feeds into the
// platform's line ends, and where it is a pipe, the pipe holds a whole
// block of the writes to come (1 MiB where the system allows it), so that a
// reader takes each block in one go instead of sixteen.
void prepareStandardOutputForData();

// Creates an empty file at `path` where nothing exists, never touching
// anything that does (a FIFO included); true when it created one.
bool createFileIfMissing(const std::filesystem::path& path);

// An entry name as a program shows it. Names come from archives, so they are
// untrusted: on a terminal, every C0 and C1 control character, DEL and
// every byte that is not part of valid UTF-8 becomes '?' (one per
// character, or per stray byte), so that no name can move the cursor,
// clear the screen, set the window title or fake a line; valid UTF-8 text
// shows as it is. Elsewhere (a pipe, a file) names stay as stored.
std::string terminalSafe(std::string_view name, bool terminal);
