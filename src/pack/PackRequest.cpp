#include "pack/PackRequest.h"

#include <charconv>
#include <limits>
#include <string_view>

const char* const packUsage = "usage: trepack -f OUT [options] PATH...\n";

const char* const packHelp = "Makes the TRE archive OUT of the files named, and of every file in the\n"
                             "folders named; entry names are the paths as given (relative to -C DIR),\n"
                             "joined with /, in byte order. OUT is replaced only once the new archive\n"
                             "is complete.\n"
                             "\n"
                             "  -f OUT             the archive to write; - for standard output\n"
                             "  -C DIR             the PATHs after it are relative to DIR\n"
                             "  --base OLD         start from the archive OLD: its header word, its\n"
                             "                     entries in its order; a PATH with an entry's name\n"
                             "                     replaces that entry's bytes, others are appended\n"
                             "  --header-word N    the header's second word (default 8, or OLD's)\n"
                             "  --prefix-byte N    the prefix byte of new entries, 0 to 255 (default 0)\n"
                             "  --exclude GLOB     leave out entries whose names match (as tretool -m)\n"
                             "  -T FILE            read PATHs from FILE, one a line (- for standard input)\n"
                             "  --null             the lists of -T are NUL-separated (find -print0)\n"
                             "  -L                 follow symbolic links (else they are left out)\n"
                             "  -n, --dry-run      check everything, print what the archive would hold,\n"
                             "                     write nothing\n"
                             "  -v                 print each name as it is added\n"
                             "  -q                 print nothing but failures\n"
                             "  -h, --help         print this help\n"
                             "  -V, --version      print the version\n"
                             "\n"
                             "Exit status: 0 when everything went into the archive, 1 when anything\n"
                             "was left out or failed, 2 for a command line that cannot be used.\n";

namespace {

// A whole signed decimal number within [low, high], or none.
std::optional<std::int64_t> parseNumber(std::string_view text, std::int64_t low, std::int64_t high)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// "a/b" after "x" is "x/b"... -C folders add up, as tar's do.
std::string joinFolder(const std::string& current, const std::string& next)
{
    if (current.empty() || next.empty() || next.front() == '/' || (next.size() >= 2 && next[1] == ':') ||
        next.front() == '\\') {
        return next.empty() ? current : next;
    }
    return current.back() == '/' || current.back() == '\\' ? current + next : current + "/" + next;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    ParsedRequest run()
    {
        bool optionsEnd = false;
        for (next_ = 0; next_ < arguments_.size() && problem_.empty();) {
            const std::string& argument = arguments_[next_++];
            if (optionsEnd || argument == "-" || argument.empty() || argument.front() != '-') {
                request_.paths.push_back({folder_, argument});
            } else if (argument == "--") {
                optionsEnd = true;
            } else if (argument.starts_with("--")) {
                longOption(argument);
            } else {
                shortOptions(argument);
            }
        }
        if (problem_.empty() && !request_.help && !request_.version) {
            finalChecks();
        }
        return {std::move(request_), std::move(problem_)};
    }

private:
    // The value of an option: what follows `=` or the option's letter, or
    // the next argument.
    std::optional<std::string> value(const std::string& option, std::optional<std::string> attached)
    {
        if (attached) {
            return attached;
        }
        if (next_ < arguments_.size()) {
            return arguments_[next_++];
        }
        problem_ = option + " needs a value";
        return std::nullopt;
    }

    void longOption(const std::string& argument)
    {
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const std::optional<std::string> attached =
            equals == std::string::npos ? std::nullopt : std::optional(argument.substr(equals + 1));
        const bool takesValue = name == "--base" || name == "--header-word" || name == "--prefix-byte" ||
                                name == "--exclude" || name == "--file" || name == "--directory" ||
                                name == "--files-from";
        if (!takesValue && attached) {
            problem_ = name + " takes no value";
            return;
        }
        if (name == "--help") {
            request_.help = true;
        } else if (name == "--version") {
            request_.version = true;
        } else if (name == "--null") {
            request_.nullSeparated = true;
        } else if (name == "--dry-run") {
            request_.dryRun = true;
        } else if (!takesValue) {
            problem_ = "unknown option " + name;
        } else if (const std::optional<std::string> given = value(name, attached)) {
            withValue(name, *given);
        }
    }

    // -vL, -fOUT, -f OUT: letters together, the last one may take a value.
    void shortOptions(const std::string& argument)
    {
        for (std::size_t at = 1; at < argument.size() && problem_.empty(); ++at) {
            const char letter = argument[at];
            const std::string option = std::string("-") + letter;
            switch (letter) {
            case 'v':
                request_.verbose = true;
                break;
            case 'q':
                request_.quiet = true;
                break;
            case 'n':
                request_.dryRun = true;
                break;
            case 'L':
                request_.followLinks = true;
                break;
            case 'h':
                request_.help = true;
                break;
            case 'V':
                request_.version = true;
                break;
            case 'f':
            case 'C':
            case 'T': {
                const std::optional<std::string> attached =
                    at + 1 < argument.size() ? std::optional(argument.substr(at + 1)) : std::nullopt;
                if (const std::optional<std::string> given = value(option, attached)) {
                    withValue(option, *given);
                }
                return;
            }
            default:
                problem_ = "unknown option " + option;
                return;
            }
        }
    }

    void withValue(const std::string& option, const std::string& given)
    {
        if (option == "-f" || option == "--file") {
            request_.output = given;
            haveOutput_ = true;
        } else if (option == "-C" || option == "--directory") {
            if (given.empty()) {
                problem_ = option + " needs a folder";
            }
            folder_ = joinFolder(folder_, given);
        } else if (option == "-T" || option == "--files-from") {
            request_.lists.push_back({folder_, given});
        } else if (option == "--base") {
            request_.base = given;
        } else if (option == "--exclude") {
            request_.excludes.push_back(given);
        } else if (option == "--header-word") {
            const auto number =
                parseNumber(given, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
            if (!number) {
                problem_ = "--header-word takes a signed 32-bit decimal number, not '" + given + "'";
                return;
            }
            request_.headerWord = static_cast<std::int32_t>(*number);
        } else if (option == "--prefix-byte") {
            const auto number = parseNumber(given, 0, 255);
            if (!number) {
                problem_ = "--prefix-byte takes a number from 0 to 255, not '" + given + "'";
                return;
            }
            request_.prefixByte = static_cast<std::uint8_t>(*number);
        }
    }

    void finalChecks()
    {
        if (!haveOutput_ || request_.output.empty()) {
            problem_ = "-f OUT is needed: the archive to write (- for standard output)";
        } else if (request_.paths.empty() && request_.lists.empty() && !request_.base) {
            problem_ = "nothing to put in the archive: give PATHs, -T FILE or --base OLD";
        } else if (request_.verbose && request_.quiet) {
            problem_ = "-v and -q ask for opposite things";
        }
    }

    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
    PackRequest request_;
    std::string folder_;
    bool haveOutput_ = false;
    std::string problem_;
};

} // namespace

ParsedRequest parsePackArguments(const std::vector<std::string>& arguments) { return Parser(arguments).run(); }
