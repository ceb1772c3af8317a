#pragma once

#include <filesystem>
#include <initializer_list>
#include <ostream>
#include <string>
#include <system_error>

#include "tre/Error.h"
#include <vector>

// Paths from and to UTF-8 text, whatever the platform's own encoding.
std::filesystem::path fromUtf8(const std::string& text);
std::string toUtf8(const std::filesystem::path& path);

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    // UTF-8 path of a file in the folder
    [[nodiscard]] std::string operator/(const std::string& name) const { return toUtf8(path_ / fromUtf8(name)); }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// Where tests differ by platform, they say so here and only here.
// Text files (the list file) and standard output end their lines as the
// platform does; entry data is copied byte for byte everywhere.
#if defined(_WIN32)
inline constexpr const char* textLineEnd = "\r\n";
inline constexpr char pathSeparator = '\\';
#else
inline constexpr const char* textLineEnd = "\n";
inline constexpr char pathSeparator = '/';
#endif
// The lines as a text file or standard output holds them on this platform.
std::string asText(const std::string& lines);
// Runs a command line through the platform's shell; UTF-8 in, exit status out.
int runShellCommand(const std::string& command);

// The reason that a message gives for a system error, as ": REASON". On
// Windows the system's own wording varies, so there tests compare messages
// without their reasons: runTool() leaves them out, and this is empty.
std::string because(std::errc condition);
std::string because(tre::Errc condition);

// The two report lines that -o and -x print before copying an entry.
std::string reportLines(const std::string& name, const std::string& path, long long size, long long offset);

struct RunResult {
    int status;
    std::string output; // standard output
    std::string errors; // standard error
};

// Runs the whole command line in-process; "tretool" stands as argument 0.
// `terminal`: run as if standard output were a terminal.
RunResult runTool(std::initializer_list<std::string> arguments, bool terminal = false);
// The same with every argument given, and standard error's progress line
// sent to `progress` when it is not null.
RunResult runToolWith(const std::vector<std::string>& arguments, bool terminal, std::ostream* progress);
