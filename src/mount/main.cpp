// tremount: archives as a read-only file system, through FUSE.
#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <malloc.h>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "mount/MountedTree.h"
#include "support/Console.h"
#include "support/ProgramVersion.h"
#include "tre/Archive.h"
#include "tre/Tree.h"

namespace {

constexpr const char* usage = "usage: tremount [options] ARCHIVE... MOUNTPOINT\n"
                              "       tremount [options] -T LIST MOUNTPOINT\n";

constexpr const char* help = "\n"
                             "Mounts the TRE archives read-only at MOUNTPOINT, as the tree that\n"
                             "tretool -x of each of them in turn into one empty folder leaves (later\n"
                             "entries replace earlier ones). Unmount with fusermount3 -u MOUNTPOINT.\n"
                             "\n"
                             "    -h, --help              print this help\n"
                             "    -V, --version           print the version\n"
                             "    -T LIST                 mount the archives named in LIST, one a line\n"
                             "    -f                      stay in the foreground (and list what is left out)\n"
                             "    -d                      print FUSE's requests as they come (implies -f)\n"
                             "    -s                      serve requests with one thread\n"
                             "    -o uid=N                the owner shown (default: the user who mounts)\n"
                             "    -o gid=N                the group shown\n"
                             "    -o umask=M              modes shown: r--r--r-- files, r-xr-xr-x folders, less M\n"
                             "    -o fsname=NAME          the source in the mount table (default: the archive)\n"
                             "    -o allow_other          let other users see the mount (see fuse.conf(5))\n"
                             "    -o allow_root           let root see the mount\n"
                             "    -o auto_unmount         unmount when tremount ends\n"
                             "    -o clone_fd             one device file a thread\n"
                             "    -o max_threads=N        serve with at most N threads (default 10)\n"
                             "    -o max_idle_threads=N   keep at most N idle threads\n";

// Lines for the user: standard error while it is watched, the system log
// once detached. FUSE's threads may say something at the same time.
class Log {
public:
    void detach()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        detached_ = true;
        openlog("tremount", LOG_PID, LOG_DAEMON);
    }

    void say(const std::string& line)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (detached_) {
            // the system log adds the program's name
            const std::string_view text = std::string_view(line).substr(line.starts_with("tremount: ") ? 10 : 0);
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg): the system log's own interface
            syslog(LOG_ERR, "%.*s", static_cast<int>(text.size()), text.data());
        } else {
            std::cerr << line << '\n' << std::flush;
        }
    }

    // FUSE's own messages, which may come in pieces: only the start of a
    // line gets the program's name.
    void fuseMessage(const char* format, va_list arguments)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (detached_) {
            vsyslog(LOG_ERR, format, arguments);
            return;
        }
        if (lineStart_) {
            (void)std::fputs("tremount: ", stderr);
        }
        const std::string_view text(format);
        (void)std::vfprintf(stderr, format, arguments);
        lineStart_ = !text.empty() && text.back() == '\n';
    }

private:
    std::mutex mutex_;
    bool detached_ = false;
    bool lineStart_ = true;
};

Log& theLog()
{
    static Log log;
    return log;
}

void logFuseMessage(fuse_log_level /*level*/, const char* format, va_list arguments)
{
    theLog().fuseMessage(format, arguments);
}

// What the command line asks beyond what FUSE reads itself.
struct Arguments {
    // the ARCHIVEs and LISTs in their order ("-T" before a list's path), then the mount point
    std::vector<std::pair<bool, std::string>> sources;
    std::vector<std::string> positional;
    std::optional<unsigned> uid;
    std::optional<unsigned> gid;
    std::optional<unsigned> umask;
    bool userFsname = false;
    std::string problem;
};

enum Key { keyList, keyUid, keyGid, keyUmask, keyFsname };

// FUSE's parser hands each of these to takeArgument().
const fuse_opt ourOptions[] = {
    FUSE_OPT_KEY("-T ", keyList),     FUSE_OPT_KEY("uid=", keyUid),       FUSE_OPT_KEY("gid=", keyGid),
    FUSE_OPT_KEY("umask=", keyUmask), FUSE_OPT_KEY("fsname=", keyFsname), FUSE_OPT_END,
};

std::optional<unsigned> numberIn(std::string_view text, int base)
{
    if (text.empty()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : base;
        if (digit >= base || value > std::numeric_limits<unsigned>::max() / static_cast<unsigned>(base)) {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return value <= std::numeric_limits<unsigned>::max() ? std::optional(static_cast<unsigned>(value)) : std::nullopt;
}

int takeArgument(void* data, const char* argument, int key, fuse_args* /*arguments*/)
{
    auto& arguments = *static_cast<Arguments*>(data);
    const std::string_view text(argument);
    const auto value = [&](std::string_view option) { return text.substr(option.size()); };
    switch (key) {
    case FUSE_OPT_KEY_NONOPT:
        arguments.sources.emplace_back(false, argument);
        return 0; // taken out: FUSE sees options only
    case keyList:
        arguments.sources.emplace_back(true, std::string(value("-T")));
        return 0;
    case keyUid:
    case keyGid:
    case keyUmask: {
        const std::string_view option = key == keyUid ? "uid=" : key == keyGid ? "gid=" : "umask=";
        const std::optional<unsigned> number = numberIn(value(option), key == keyUmask ? 8 : 10);
        if (!number || (key == keyUmask && *number > 0777)) {
            arguments.problem = "-o " + std::string(text) + ": " +
                                (key == keyUmask ? "an octal mask of at most 777" : "a decimal number") + " is needed";
            return -1;
        }
        (key == keyUid ? arguments.uid : key == keyGid ? arguments.gid : arguments.umask) = number;
        return 0;
    }
    case keyFsname:
        arguments.userFsname = true;
        return 1; // FUSE's to use
    default:
        return 1;
    }
}

// The command line as FUSE parses it, released whichever way the run ends.
struct ParsedCommandLine {
    fuse_args args;
    fuse_cmdline_opts options{};
    ParsedCommandLine(int argc, char* argv[]) : args(FUSE_ARGS_INIT(argc, argv)) {}
    ParsedCommandLine(const ParsedCommandLine&) = delete;
    ParsedCommandLine& operator=(const ParsedCommandLine&) = delete;
    ~ParsedCommandLine()
    {
        std::free(options.mountpoint); // NOLINT(cppcoreguidelines-no-malloc): FUSE's allocation
        fuse_opt_free_args(&args);
    }
};

struct Session {
    fuse_session* session = nullptr;
    bool handlers = false;
    bool mounted = false;
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session()
    {
        if (session != nullptr) {
            if (handlers) {
                fuse_remove_signal_handlers(session);
            }
            if (mounted) {
                fuse_session_unmount(session);
            }
            fuse_session_destroy(session);
        }
    }
};

std::string reasonFor(const tre::ExtractedEntry& result)
{
    switch (result.outcome) {
    case tre::Outcome::unsafeName:
        return "unsafe name";
    case tre::Outcome::failed:
        return result.error.code == std::errc::not_a_directory  ? "a file stands where a folder of its path should be"
               : result.error.code == std::errc::is_a_directory ? "a folder stands at its path"
                                                                : result.error.code.message();
    default:
        return "left out";
    }
}

// A short word for a reason, for the count said when tremount detaches.
std::string reasonGroup(const tre::ExtractedEntry& result)
{
    if (result.outcome == tre::Outcome::unsafeName) {
        return "unsafe names";
    }
    return result.error.code == std::errc::not_a_directory  ? "files where folders are needed"
           : result.error.code == std::errc::is_a_directory ? "folders where files should be"
                                                            : "other reasons";
}

// The archive paths the command line names, in order, with the -T lists
// read; the reason where a list cannot be read.
std::optional<std::string> archivePaths(const std::vector<std::pair<bool, std::string>>& sources,
                                        std::vector<std::string>& paths, bool terminal)
{
    for (const auto& [isList, source] : sources) {
        if (!isList) {
            paths.push_back(source);
            continue;
        }
        std::ifstream list(toNativePath(source.c_str()));
        if (!list) {
            return "cannot read the list (" + terminalSafe(source, terminal) + "): " + std::strerror(errno);
        }
        for (std::string line; std::getline(list, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                paths.push_back(line);
            }
        }
    }
    return std::nullopt;
}

// The most memory the tree may take: what the machine has free, or less
// where this process is held to less.
std::uint64_t memoryBudget()
{
    std::uint64_t budget = std::numeric_limits<std::uint64_t>::max();
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    std::string unit;
    while (meminfo >> key >> kibibytes >> unit) {
        if (key == "MemAvailable:") {
            budget = kibibytes * 1024;
            break;
        }
    }
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit limit{};
        if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
            budget = std::min<std::uint64_t>(budget, limit.rlim_cur);
        }
    }
    return budget;
}

// An option for FUSE, its commas and backslashes escaped.
std::string escapedOption(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == ',' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

int run(int argc, char* argv[])
{
    ParsedCommandLine commandLine(argc, argv);
    fuse_args& args = commandLine.args;
    fuse_cmdline_opts& options = commandLine.options;
    Arguments arguments;
    const bool terminal = standardErrorIsTerminal();
    if (fuse_opt_parse(&args, &arguments, ourOptions, takeArgument) != 0 || fuse_parse_cmdline(&args, &options) != 0) {
        if (!arguments.problem.empty()) {
            std::cerr << "tremount: " << arguments.problem << '\n';
        }
        std::cerr << usage;
        return 1;
    }
    if (options.show_help != 0) {
        std::cout << usage << help << std::flush;
        return 0;
    }
    if (options.show_version != 0) {
        std::cout << "tremount " << programVersion << "\n" << std::flush;
        fuse_lowlevel_version();
        return 0;
    }
    // the last word that is no option is the mount point
    if (arguments.sources.empty() || arguments.sources.back().first) {
        std::cerr << usage;
        return 1;
    }
    const std::string mountPoint = arguments.sources.back().second;
    arguments.sources.pop_back();
    std::vector<std::string> paths;
    if (const std::optional<std::string> problem = archivePaths(arguments.sources, paths, terminal)) {
        std::cerr << "tremount: " << *problem << '\n';
        return 1;
    }
    if (paths.empty()) {
        std::cerr << usage;
        return 1;
    }
    // the mount point: an existing folder, checked before anything is read
    struct stat point {};
    const int pointError = ::stat(mountPoint.c_str(), &point) != 0 ? errno : S_ISDIR(point.st_mode) ? 0 : ENOTDIR;
    if (pointError != 0) {
        std::cerr << "tremount: cannot mount at (" << terminalSafe(mountPoint, terminal)
                  << "): " << std::strerror(pointError) << '\n';
        return 1;
    }

    // a thousand archives are a thousand open files
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &files);
    }
    std::vector<tre::Archive> archives;
    archives.reserve(paths.size());
    MountedTree mounted;
    for (const std::string& path : paths) {
        tre::Result<tre::Archive> archive = tre::Archive::open(toNativePath(path.c_str()));
        if (!archive) {
            std::cerr << "tremount: cannot open archive (" << terminalSafe(path, terminal)
                      << "): " << archive.error().code.message() << "\n";
            return 1;
        }
        struct stat status {};
        if (::fstat(static_cast<int>(archive->nativeHandle()), &status) != 0) {
            std::cerr << "tremount: cannot open archive (" << terminalSafe(path, terminal)
                      << "): " << std::strerror(errno) << "\n";
            return 1;
        }
        mounted.archiveTimes.push_back(status.st_mtim);
        if (std::tie(status.st_mtim.tv_sec, status.st_mtim.tv_nsec) >
            std::tie(mounted.folderTime.tv_sec, mounted.folderTime.tv_nsec)) {
            mounted.folderTime = status.st_mtim;
        }
        std::error_code ignored;
        mounted.archivePaths.push_back(std::filesystem::absolute(path, ignored).lexically_normal().string());
        archives.push_back(std::move(*archive));
    }
    for (const tre::Archive& archive : archives) {
        mounted.archives.push_back(&archive);
    }

    // what -x would leave out: listed where someone watches, counted where not
    const bool watched = options.foreground != 0 || options.debug != 0;
    std::map<std::string, std::size_t> leftOut;
    std::size_t leftOutCount = 0;
    tre::TreeOptions treeOptions;
    treeOptions.memoryLimit = memoryBudget();
    treeOptions.skipped = [&](std::size_t archive, const tre::Entry& entry, const tre::ExtractedEntry& result) {
        ++leftOutCount;
        if (watched) {
            const std::string from = archives.size() > 1 ? " of " + terminalSafe(paths[archive], terminal) : "";
            std::cerr << "tremount: entry " << entry.number << from << " (" << terminalSafe(entry.name(), terminal)
                      << ") is left out: " << reasonFor(result) << "\n";
        } else {
            ++leftOut[reasonGroup(result)];
        }
    };
    tre::Result<tre::Tree> tree = tre::Tree::build(mounted.archives, treeOptions);
    if (!tree) {
        const tre::Error& error = tree.error();
        if (error.code == tre::Errc::treeTooLarge) {
            std::cerr << "tremount: the tree would need more memory than there is to spare ("
                      << treeOptions.memoryLimit / (std::uint64_t{1} << 20U) << " MiB); about "
                      << tre::Tree::bytesPerFile() << " bytes a file and " << tre::Tree::bytesPerFolder()
                      << " a folder, beside their names\n";
        } else {
            std::cerr << "tremount: cannot read archive: " << error.message() << "\n";
        }
        return 1;
    }
    mounted.tree = &*tree;
    mounted.changed = std::make_unique<std::atomic<bool>[]>(archives.size());
    mounted.say = [](const std::string& line) { theLog().say(line); };
    const mode_t mask = arguments.umask.value_or(0);
    mounted.fileMode = 0444U & ~mask;
    mounted.folderMode = 0555U & ~mask;
    mounted.owner = arguments.uid.value_or(::getuid());
    mounted.group = arguments.gid.value_or(::getgid());

    std::string mountOptions = "-oro,default_permissions,subtype=tre";
    if (!arguments.userFsname) {
        std::string source = mounted.archivePaths.front();
        if (archives.size() > 1) {
            source += "+" + std::to_string(archives.size() - 1);
        }
        mountOptions += ",fsname=" + escapedOption(source);
    }
    if (fuse_opt_add_arg(&args, mountOptions.c_str()) != 0) {
        return 1;
    }
    Session session;
    const fuse_lowlevel_ops& operations = mountedTreeOperations();
    session.session = fuse_session_new(&args, &operations, sizeof operations, &mounted);
    if (session.session == nullptr) {
        return 1; // FUSE said why
    }
    if (fuse_set_signal_handlers(session.session) != 0) {
        std::cerr << "tremount: cannot set the signal handlers\n";
        return 1;
    }
    session.handlers = true;
    if (fuse_session_mount(session.session, mountPoint.c_str()) != 0) {
        return 1; // FUSE said why
    }
    session.mounted = true;
    if (!watched && leftOutCount > 0) {
        std::string reasons;
        for (const auto& [reason, count] : leftOut) {
            reasons += (reasons.empty() ? "" : ", ") + reason;
        }
        std::cerr << "tremount: " << leftOutCount << (leftOutCount == 1 ? " entry" : " entries") << " left out ("
                  << reasons << "); mount with -f to list them\n"
                  << std::flush;
    }
    // the tree is whole and mounted: whoever waits for the command may look
    if (fuse_daemonize(options.foreground) != 0) {
        std::cerr << "tremount: cannot go to the background\n";
        return 1;
    }
    if (options.foreground == 0) {
        theLog().detach();
    }
    // (threads only after the fork)
    ReadAhead readAhead(mounted, session.session);
    mounted.readAhead = &readAhead;
    int status = 0;
    if (options.singlethread != 0) {
        status = fuse_session_loop(session.session);
    } else {
        fuse_loop_config* config = fuse_loop_cfg_create();
        if (config == nullptr) {
            theLog().say("tremount: out of memory");
            return 1;
        }
        fuse_loop_cfg_set_clone_fd(config, static_cast<unsigned>(options.clone_fd));
        fuse_loop_cfg_set_max_threads(config, options.max_threads);
        status = fuse_session_loop_mt(session.session, config);
        fuse_loop_cfg_destroy(config);
    }
    mounted.readAhead = nullptr;
    // ended by a signal it was told to end on: a clean unmount
    return status == 0 || status == SIGINT || status == SIGTERM || status == SIGHUP ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // a large block freed (while the tree is built) goes back to the system
    // at once: the mount lives long, and a million entries are tens of MB
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    fuse_set_log_func(logFuseMessage);
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        // a machine that cannot spare the tree its memory, or worse
        theLog().say(std::string("tremount: ") + error.what());
        return 1;
    }
}
