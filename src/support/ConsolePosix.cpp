// The POSIX body of the programs' console.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "support/Console.h"

const char* const textFileLineEnd = "\n";

std::vector<std::string> commandLineArguments(int argc, char* argv[]) { return {argv, argv + argc}; }

std::filesystem::path toNativePath(const char* argument) { return {argument}; }

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void guardStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) { // NOLINT(cppcoreguidelines-pro-type-vararg)
            // opened for reading only, so that every write to it fails and is reported
            const int placeholder =
                ::open("/dev/null", O_RDONLY | O_CLOEXEC); // NOLINT(cppcoreguidelines-pro-type-vararg)
            if (placeholder >= 0 && placeholder != fd) {
                ::dup2(placeholder, fd);
                ::close(placeholder);
            }
        }
    }
}

void prepareStandardOutputForData()
{
#if defined(F_SETPIPE_SZ)
    // fails harmlessly where standard output is no pipe
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20); // NOLINT(cppcoreguidelines-pro-type-vararg)
#endif
}

bool createFileIfMissing(const std::filesystem::path& path)
{
    // O_EXCL: a file of that name, whatever it is, is never opened
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg)
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          0666); // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}
