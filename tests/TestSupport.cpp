#include "TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "cli/CommandLine.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#endif

TempDir::TempDir()
{
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("tretool-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string asText(const std::string& lines)
{
    std::string text;
    for (const char c : lines) {
        if (c == '\n') {
            text += textLineEnd;
        } else {
            text += c;
        }
    }
    return text;
}

std::filesystem::path fromUtf8(const std::string& text) { return {std::u8string(text.begin(), text.end())}; }

std::string toUtf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

int runShellCommand(const std::string& command)
{
#if defined(_WIN32)
    // cmd.exe drops the first and the last quote of the line: add a pair to lose
    const std::wstring wide = fromUtf8("\"" + command + "\"").wstring();
    return _wsystem(wide.c_str());
#else
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

std::string reportLines(const std::string& name, const std::string& path, long long size, long long offset)
{
    return "Outputting file (" + name + ") to file (" + path + ").\nFilesize is " + std::to_string(size) +
           ", and file offset is " + std::to_string(offset) + ".\n";
}

namespace {

std::string reasonOf(const std::error_code& code)
{
#if defined(_WIN32)
    (void)code;
    return "";
#else
    return ": " + code.message();
#endif
}

} // namespace

std::string because(std::errc condition) { return reasonOf(std::make_error_code(condition)); }

std::string because(tre::Errc condition) { return reasonOf(make_error_code(condition)); }

namespace {

// On Windows: the messages' lines without the system's reasons.
std::string withoutReasons(const std::string& output)
{
#if defined(_WIN32)
    static const std::regex reason(
        R"((Exit Message: (Cannot (open archive|write list file|write output file|create folder) \(.*\)|Read only \d+ of \d+ bytes of entry \d+)): [^\n]*\.)");
    std::string result;
    for (std::size_t start = 0; start < output.size();) {
        const std::size_t end = std::min(output.find('\n', start), output.size());
        const std::string line = output.substr(start, end - start);
        std::smatch match;
        result += std::regex_match(line, match, reason) ? match[1].str() + "." : line;
        result += output.substr(end, 1); // its line end, where it has one
        start = end + 1;
    }
    return result;
#else
    return output;
#endif
}

} // namespace

RunResult runToolWith(const std::vector<std::string>& arguments, bool terminal, std::ostream* progress)
{
    std::vector<const char*> argv{"tretool"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = runCommandLine(
        argv, out, err, ConsoleInfo{.outputIsTerminal = terminal, .errorIsTerminal = terminal, .progress = progress});
    return {status, withoutReasons(out.str()), withoutReasons(err.str())};
}

RunResult runTool(std::initializer_list<std::string> arguments, bool terminal)
{
    return runToolWith(arguments, terminal, nullptr);
}
