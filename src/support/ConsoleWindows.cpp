// The Windows body of the programs' console.
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "support/WindowsApi.h"
// shellapi.h needs windows.h first
#include <shellapi.h>

#include "support/Console.h"
#include "support/WindowsText.h"

namespace {

// a console, not merely a character device such as NUL
bool isConsole(DWORD stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(stream), &mode) != 0;
}

} // namespace

const char* const textFileLineEnd = "\r\n";

std::vector<std::string> commandLineArguments(int argc, char* argv[])
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            ::LocalFree(wide);
        }
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(tre::narrowPath(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

std::filesystem::path toNativePath(const char* argument)
{
    const std::string text(argument);
    return {std::u8string(text.begin(), text.end())};
}

bool standardOutputIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

bool standardErrorIsTerminal() { return isConsole(STD_ERROR_HANDLE); }

// a closed standard stream never takes the place of a file opened here
void guardStandardStreams() {}

void prepareStandardOutputForData() { ::_setmode(::_fileno(stdout), _O_BINARY); }

bool createFileIfMissing(const std::filesystem::path& path)
{
    if (path.empty()) {
        return false;
    }
    // CREATE_NEW: a file of that name, whatever it is, is never opened
    const HANDLE handle =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(handle);
    return true;
}
