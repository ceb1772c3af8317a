// tremount: an archive as a read-only file system, through FUSE.
#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <malloc.h>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ProgramVersion.h"
#include "mount/MountedTree.h"
#include "support/Console.h"
#include "tre/Archive.h"
#include "tre/Tree.h"

namespace {

constexpr const char* usage = "usage: tremount [options] ARCHIVE MOUNTPOINT\n";

struct Arguments {
    // the first argument that is not an option; the second is FUSE's mount point
    std::string archive;
    bool haveArchive = false;
};

int takeArchive(void* data, const char* argument, int key, fuse_args* /*arguments*/)
{
    auto& arguments = *static_cast<Arguments*>(data);
    if (key == FUSE_OPT_KEY_NONOPT && !arguments.haveArchive) {
        arguments.archive = argument;
        arguments.haveArchive = true;
        return 0; // taken out: FUSE sees the mount point alone
    }
    return 1;
}

// FUSE's own messages, in this program's form. FUSE may write a line in
// pieces: only the start of a line gets the name.
void logToStandardError(fuse_log_level /*level*/, const char* format, va_list arguments)
{
    static bool lineStart = true;
    if (lineStart) {
        (void)std::fputs("tremount: ", stderr);
    }
    const std::string_view text(format);
    (void)std::vfprintf(stderr, format, arguments);
    lineStart = !text.empty() && text.back() == '\n';
}

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
    bool mounted = false;
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session()
    {
        if (session != nullptr) {
            if (mounted) {
                fuse_remove_signal_handlers(session);
                fuse_session_unmount(session);
            }
            fuse_session_destroy(session);
        }
    }
};

int run(int argc, char* argv[])
{
    ParsedCommandLine commandLine(argc, argv);
    fuse_args& args = commandLine.args;
    fuse_cmdline_opts& options = commandLine.options;
    Arguments arguments;
    if (fuse_opt_parse(&args, &arguments, nullptr, takeArchive) != 0 || fuse_parse_cmdline(&args, &options) != 0) {
        std::cerr << usage;
        return 1;
    }
    if (options.show_help != 0) {
        std::cout << usage << "\nMounts the TRE archive ARCHIVE read-only at MOUNTPOINT; unmount with\n"
                  << "fusermount3 -u MOUNTPOINT. Options:\n    -h   --help            print this help\n"
                  << "    -V   --version         print the version\n"
                  << std::flush;
        fuse_cmdline_help();
        fuse_lowlevel_help();
        return 0;
    }
    if (options.show_version != 0) {
        std::cout << "tremount " << programVersion << "\n" << std::flush;
        fuse_lowlevel_version();
        return 0;
    }
    if (!arguments.haveArchive || options.mountpoint == nullptr) {
        std::cerr << usage;
        return 1;
    }
    const bool terminal = standardErrorIsTerminal();
    tre::Result<tre::Archive> archive = tre::Archive::open(toNativePath(arguments.archive.c_str()));
    if (!archive) {
        std::cerr << "tremount: cannot open archive (" << terminalSafe(arguments.archive, terminal)
                  << "): " << archive.error().code.message() << "\n";
        return 1;
    }
    // what -x would leave out, said once where someone watches
    const bool watched = options.foreground != 0 || options.debug != 0;
    tre::Tree::Options treeOptions;
    treeOptions.skipped = [&](std::size_t /*archive*/, const tre::Entry& entry, const tre::ExtractedEntry& result) {
        if (watched) {
            std::cerr << "tremount: entry " << entry.number << " (" << terminalSafe(entry.name(), terminal)
                      << ") is left out: " << reasonFor(result) << "\n";
        }
    };
    const tre::Result<tre::Tree> tree = tre::Tree::build(*archive, treeOptions);
    if (!tree) {
        std::cerr << "tremount: cannot read archive (" << terminalSafe(arguments.archive, terminal)
                  << "): " << tree.error().code.message() << "\n";
        return 1;
    }
    struct stat archiveStatus {};
    ::fstat(static_cast<int>(archive->nativeHandle()), &archiveStatus);
    MountedTree mounted{
        .archive = &*archive, .tree = &*tree, .owner = ::getuid(), .group = ::getgid(), .time = archiveStatus.st_mtim};

    fuse_opt_add_arg(&args, "-oro,default_permissions,fsname=tremount,subtype=tre");
    Session session;
    const fuse_lowlevel_ops& operations = mountedTreeOperations();
    session.session = fuse_session_new(&args, &operations, sizeof operations, &mounted);
    if (session.session == nullptr || fuse_set_signal_handlers(session.session) != 0) {
        return 1;
    }
    if (fuse_session_mount(session.session, options.mountpoint) != 0) {
        fuse_remove_signal_handlers(session.session);
        return 1;
    }
    session.mounted = true;
    // the tree is whole and mounted: whoever waits for the command may look
    fuse_daemonize(options.foreground);
    // (threads only after the fork)
    ReadAhead readAhead(mounted, session.session);
    mounted.readAhead = &readAhead;
    int status = 0;
    if (options.singlethread != 0) {
        status = fuse_session_loop(session.session);
    } else {
        fuse_loop_config* config = fuse_loop_cfg_create();
        fuse_loop_cfg_set_clone_fd(config, static_cast<unsigned>(options.clone_fd));
        fuse_loop_cfg_set_max_threads(config, options.max_threads);
        status = fuse_session_loop_mt(session.session, config);
        fuse_loop_cfg_destroy(config);
    }
    // ended by a signal it was told to end on: a clean unmount
    return status == 0 || status == SIGINT || status == SIGTERM || status == SIGHUP ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    // a large block freed (while the tree is built) goes back to the system
    // at once: the mount lives long, and a million entries are tens of MB
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    fuse_set_log_func(logToStandardError);
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        // a machine that cannot spare the tree its memory, or worse
        (void)std::fputs("tremount: ", stderr);
        (void)std::fputs(error.what(), stderr);
        (void)std::fputc('\n', stderr);
        return 1;
    }
}
