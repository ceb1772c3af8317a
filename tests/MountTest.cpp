// Runs the real tremount: mounts archives, looks at them through the file
// system, and unmounts what it mounted, also when a test fails. Where FUSE
// cannot be used here, every test skips and says why.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

std::string shellWord(const std::string& argument) { return "'" + argument + "'"; }

std::string tremount() { return shellWord(TREMOUNT_EXECUTABLE); }

// From the mount table, not by looking at the folder: a mount whose
// tremount has died (a crash) fails every look, and must still be unmounted.
bool isMounted(const std::filesystem::path& folder)
{
    const std::string wanted = std::filesystem::absolute(folder).lexically_normal().string();
    std::ifstream table("/proc/self/mounts");
    std::string device;
    std::string mountPoint;
    std::string rest;
    while (table >> device >> mountPoint && std::getline(table, rest)) {
        if (mountPoint == wanted) {
            return true;
        }
    }
    return false;
}

// Why FUSE cannot be used here; empty when it can.
std::string whyNoFuse()
{
    static const std::string reason = [] {
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            return std::string("no usable /dev/fuse");
        }
        if (runShellCommand("command -v fusermount3 >/dev/null 2>&1") != 0) {
            return std::string("no fusermount3 (Debian's fuse3)");
        }
        // asked of a probe of its own, so that a tremount that cannot mount
        // fails the tests instead of skipping them
        const TempDir dir;
        std::filesystem::create_directory(dir.path() / "m");
        if (runShellCommand(shellWord(FUSE_PROBE_EXECUTABLE) + " " + shellWord((dir.path() / "m").string()) +
                            " 2>/dev/null") != 0) {
            return std::string("this machine refuses FUSE mounts");
        }
        return std::string();
    }();
    return reason;
}

// Also where the test failed half-way, or tremount died under it.
void unmountIfMounted(const std::filesystem::path& folder)
{
    if (isMounted(folder)) {
        runShellCommand("fusermount3 -u " + shellWord(folder.string()) + " || umount -l " + shellWord(folder.string()));
    }
}

// An archive mounted at a fresh folder for the scope of a test.
class Mount {
public:
    Mount(const std::filesystem::path& archive, const std::filesystem::path& folder, const std::string& options = "")
        : Mount(shellWord(archive.string()), folder, options, 0)
    {
    }
    // `archives`: the archives' words, as the shell takes them
    Mount(const std::string& archives, const std::filesystem::path& folder, const std::string& options, int /*words*/)
        : folder_(folder)
    {
        std::filesystem::create_directories(folder);
        status_ = runShellCommand(tremount() + " " + options + " " + archives + " " + shellWord(folder.string()) +
                                  " 2>" + shellWord(folder.string() + ".err"));
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    ~Mount() { unmountIfMounted(folder_); }
    [[nodiscard]] int status() const { return status_; }

private:
    std::filesystem::path folder_;
    int status_;
};

// tremount in the foreground, its standard error kept in a file, for the
// scope of a test: whatever fails, no tremount and no mount outlive it.
class ForegroundMount {
public:
    ForegroundMount(const std::vector<std::string>& arguments, std::filesystem::path folder, std::filesystem::path err)
        : folder_(std::move(folder)), err_(std::move(err)), child_(start(arguments))
    {
        for (int i = 0; i < 500 && !isMounted(folder_) && ::waitpid(child_, nullptr, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ForegroundMount(const ForegroundMount&) = delete;
    ForegroundMount& operator=(const ForegroundMount&) = delete;
    ~ForegroundMount()
    {
        if (::waitpid(child_, nullptr, WNOHANG) == 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        unmountIfMounted(folder_);
    }
    [[nodiscard]] bool mounted() const { return isMounted(folder_); }
    [[nodiscard]] pid_t process() const { return child_; }
    [[nodiscard]] std::string errors() const { return readFile(err_); }

private:
    [[nodiscard]] pid_t start(const std::vector<std::string>& arguments) const
    {
        std::filesystem::create_directories(folder_);
        std::vector<std::string> words{"tremount", "-f"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        words.push_back(folder_.string());
        const pid_t child = ::fork();
        if (child == 0) {
            const int errFd = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(errFd, STDERR_FILENO);
            std::vector<char*> argv;
            argv.reserve(words.size() + 1);
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            argv.push_back(nullptr);
            ::execv(TREMOUNT_EXECUTABLE, argv.data());
            ::_exit(127);
        }
        return child;
    }

    std::filesystem::path folder_;
    std::filesystem::path err_;
    pid_t child_;
};

// What stat says of a path, asked in a child process that may take at most a
// few seconds: a request that tremount never answers fails the test, not
// hangs it.
int statErrorWithin(const std::filesystem::path& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        struct stat status {};
        ::_exit(::stat(path.c_str(), &status) == 0 ? 0 : errno);
    }
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1; // no answer
}

class MountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string reason = whyNoFuse(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }

    // What tretool -x leaves in an empty folder, beside what the mount shows.
    void expectSameAsExtraction(const std::filesystem::path& archivePath)
    {
        const std::filesystem::path extracted = dir.path() / "extracted";
        std::filesystem::remove_all(extracted);
        runToolWith({"-f", archivePath.string(), "-x", extracted.string()}, false, nullptr);
        std::filesystem::create_directories(extracted);
        const Mount mount(archivePath, mnt);
        ASSERT_EQ(mount.status(), 0);
        EXPECT_EQ(runShellCommand("diff -r " + shellWord(extracted.string()) + " " + shellWord(mnt.string())), 0);
    }

    TempDir dir;
    std::filesystem::path archive = dir.path() / "a.tre";
    std::filesystem::path mnt = dir.path() / "mnt";
};

} // namespace

TEST_F(MountTest, ShowsWhatExtractionWrites)
{
    ArchiveWriter sample;
    sample.add("readme.txt", "hello\n")
        .add("docs/guide.txt", "guide")
        .add("data/levels/1.dat", std::string("\0\r\n", 3));
    ArchiveWriter hostile;
    hostile.add("../escape", "x")
        .add("/etc/passwd", "x")
        .add("a", "file first")
        .add("a/b", "under a file")
        .add("c/d", "folder first")
        .add("c", "where a folder is")
        .add("docs\\win/x", "backslashes")
        .add("./d//e", "dots")
        .add("dup", "old")
        .add("dup", "new")
        .add("\x1b[2J\xff", "bytes")
        .add(TestRecord{.name = "negative", .data = "abc", .size = -1})
        .add(TestRecord{.name = "past-end", .data = "ab", .size = 5})
        .claimCount(100);
    ArchiveWriter generated;
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        generated.add("f" + std::to_string(random() % 30) + "/s" + std::to_string(random() % 7) + "/e" +
                          std::to_string(i),
                      std::string(random() % 3000, static_cast<char>('a' + i % 26)));
    }
    for (const ArchiveWriter* writer : {&sample, &hostile, &generated}) {
        writer->writeTo(archive);
        expectSameAsExtraction(archive);
    }
}

TEST_F(MountTest, AttributesSayWhatAReadGives)
{
    ArchiveWriter()
        .add("top/a.txt", "12345")
        .add("top/sub/b", "")
        .add("top/sub2/c", "x")
        .add("big", std::string(1000, 'b'))
        .writeTo(archive);
    std::filesystem::last_write_time(archive, std::filesystem::file_time_type::clock::now() - std::chrono::hours(30));
    struct stat archiveStatus {};
    ASSERT_EQ(::stat(archive.c_str(), &archiveStatus), 0);
    const Mount mount(archive, mnt);
    ASSERT_EQ(mount.status(), 0);
    struct Case {
        const char* path;
        mode_t mode;
        off_t size;
        nlink_t links;
    };
    const std::vector<Case> cases{
        {"", S_IFDIR | 0555, -1, 3},         {"top", S_IFDIR | 0555, -1, 4},      {"top/sub", S_IFDIR | 0555, -1, 2},
        {"top/a.txt", S_IFREG | 0444, 5, 1}, {"top/sub/b", S_IFREG | 0444, 0, 1}, {"big", S_IFREG | 0444, 1000, 1},
    };
    std::set<ino_t> inodes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        struct stat status {};
        ASSERT_EQ(::stat((mnt / c.path).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode, c.mode);
        EXPECT_EQ(status.st_nlink, c.links);
        EXPECT_EQ(status.st_uid, ::getuid());
        EXPECT_EQ(status.st_gid, ::getgid());
        EXPECT_EQ(status.st_mtim.tv_sec, archiveStatus.st_mtim.tv_sec);
        EXPECT_EQ(status.st_mtim.tv_nsec, archiveStatus.st_mtim.tv_nsec);
        EXPECT_EQ(status.st_atim.tv_sec, archiveStatus.st_mtim.tv_sec);
        EXPECT_EQ(status.st_ctim.tv_sec, archiveStatus.st_mtim.tv_sec);
        if (c.size >= 0) {
            EXPECT_EQ(status.st_size, c.size);
            EXPECT_EQ(status.st_blocks, (c.size + 511) / 512);
        }
        EXPECT_TRUE(inodes.insert(status.st_ino).second);
    }
}

// Every kind of change fails with EROFS, and nothing changes.
TEST_F(MountTest, EveryChangeIsRefused)
{
    ArchiveWriter().add("file", "data").add("folder/inner", "x").writeTo(archive);
    const Mount mount(archive, mnt);
    ASSERT_EQ(mount.status(), 0);
    const std::string file = (mnt / "file").string();
    const std::string folder = (mnt / "folder").string();
    const std::string fresh = (mnt / "fresh").string();
    const std::vector<std::pair<const char*, std::function<int()>>> changes{
        {"create", [&] { return ::open(fresh.c_str(), O_WRONLY | O_CREAT, 0644); }},
        {"open for writing", [&] { return ::open(file.c_str(), O_WRONLY); }},
        {"open for reading and writing", [&] { return ::open(file.c_str(), O_RDWR); }},
        {"truncate", [&] { return ::truncate(file.c_str(), 0); }},
        {"unlink", [&] { return ::unlink(file.c_str()); }},
        {"rename", [&] { return ::rename(file.c_str(), fresh.c_str()); }},
        {"mkdir", [&] { return ::mkdir(fresh.c_str(), 0755); }},
        {"rmdir", [&] { return ::rmdir(folder.c_str()); }},
        {"symlink", [&] { return ::symlink("file", fresh.c_str()); }},
        {"link", [&] { return ::link(file.c_str(), fresh.c_str()); }},
        {"chmod", [&] { return ::chmod(file.c_str(), 0777); }},
        {"chown", [&] { return ::chown(file.c_str(), 1, 1); }},
        {"utimes", [&] { return ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }},
        {"setxattr", [&] { return ::setxattr(file.c_str(), "user.x", "1", 1, 0); }},
        {"removexattr", [&] { return ::removexattr(file.c_str(), "user.x"); }},
        {"mknod", [&] { return ::mknod(fresh.c_str(), S_IFIFO | 0644, 0); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        errno = 0;
        EXPECT_EQ(change(), -1);
        EXPECT_EQ(errno, EROFS);
    }
    EXPECT_EQ(readFile(mnt / "file"), "data");
    EXPECT_FALSE(std::filesystem::exists(mnt / "fresh"));
}

// pread at any offset and length, many readers at once, mmap and sendfile:
// always the entry's bytes.
TEST_F(MountTest, ReadsOfEveryKindGiveTheEntrysBytes)
{
    std::string big(3 << 20, '\0');
    std::mt19937 random(11);
    for (char& c : big) {
        c = static_cast<char>(random());
    }
    const std::string small = "small entry";
    ArchiveWriter().add("small", small).add("dir/big", big).writeTo(archive);
    const Mount mount(archive, mnt);
    ASSERT_EQ(mount.status(), 0);
    const std::string bigPath = (mnt / "dir/big").string();

    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            std::mt19937 mine(t);
            const int fd = ::open(bigPath.c_str(), O_RDONLY);
            std::string buffer(300000, '\0');
            for (int i = 0; i < 200; ++i) {
                const auto at = static_cast<off_t>(mine() % (big.size() + 1000));
                const auto length = static_cast<std::size_t>(mine() % buffer.size());
                const ssize_t got = ::pread(fd, buffer.data(), length, at);
                const std::size_t expected = at >= static_cast<off_t>(big.size())
                                                 ? 0
                                                 : std::min(length, big.size() - static_cast<std::size_t>(at));
                if (got != static_cast<ssize_t>(expected) ||
                    (expected > 0 && buffer.compare(0, expected, big, static_cast<std::size_t>(at), expected) != 0)) {
                    ++wrong;
                }
            }
            ::close(fd);
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(wrong, 0);

    const int fd = ::open(bigPath.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* mapped = ::mmap(nullptr, big.size(), PROT_READ, MAP_PRIVATE, fd, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    EXPECT_EQ(std::string_view(static_cast<const char*>(mapped), big.size()), big);
    ::munmap(mapped, big.size());

    const std::filesystem::path copy = dir.path() / "copy";
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    off_t from = 0;
    std::size_t sent = 0;
    for (ssize_t got = 1; got > 0 && sent < big.size(); sent += static_cast<std::size_t>(std::max<ssize_t>(got, 0))) {
        got = ::sendfile(out, fd, &from, big.size() - sent);
    }
    ::close(out);
    ::close(fd);
    EXPECT_EQ(readFile(copy), big);
    EXPECT_EQ(readFile(mnt / "small"), small);
}

// The archive is held open: replaced or deleted, the mount serves what was
// mounted; truncated, reads return what is left.
TEST_F(MountTest, TheMountedArchiveIsHeld)
{
    const std::string data(100000, 'd');
    ArchiveWriter().add("a", "first").add("b", data).writeTo(archive);
    const Mount mount(archive, mnt);
    ASSERT_EQ(mount.status(), 0);
    const std::filesystem::path other = dir.path() / "other.tre";
    ArchiveWriter().add("a", "OTHER").writeTo(other);
    std::filesystem::rename(other, archive);
    EXPECT_EQ(readFile(mnt / "a"), "first");
    std::filesystem::remove(archive);
    EXPECT_EQ(readFile(mnt / "b"), data);
}

// An archive rewritten while mounted (its size or modification time
// moved) fails every read that reaches it, says so once, and leaves the
// other archives of the mount alone.
TEST_F(MountTest, AnArchiveChangedWhileMountedFailsItsReads)
{
    const std::filesystem::path other = dir.path() / "other.tre";
    const std::string data(100000, 'd');
    struct Case {
        const char* what;
        std::function<void()> change;
    };
    const std::vector<Case> cases{
        {"cut short", [&] { std::filesystem::resize_file(archive, 8 + 74 * 2 + 1000); }},
        {"written in place",
         [&] {
             std::fstream inPlace(archive, std::ios::in | std::ios::out | std::ios::binary);
             inPlace.seekp(-3, std::ios::end);
             inPlace.write("XYZ", 3);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveWriter().add("a", "first").add("b", data).writeTo(archive);
        ArchiveWriter().add("c", "other").writeTo(other);
        std::filesystem::last_write_time(archive,
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        const ForegroundMount mount({archive.string(), other.string()}, mnt, dir.path() / "err.txt");
        ASSERT_TRUE(mount.mounted());
        c.change();
        for (int i = 0; i < 2; ++i) {
            const int fd = ::open((mnt / "b").c_str(), O_RDONLY);
            std::array<char, 16> buffer{};
            errno = 0;
            EXPECT_EQ(::read(fd, buffer.data(), buffer.size()), -1);
            EXPECT_EQ(errno, EIO);
            ::close(fd);
        }
        EXPECT_EQ(readFile(mnt / "c"), "other");
        EXPECT_EQ(mount.errors(), "tremount: the archive changed while mounted (" + archive.string() +
                                      "); unmount and mount it again\n");
    }
}

// In the foreground, SIGTERM unmounts; the left-out entries are listed
// there, terminal-safe where standard error is a terminal.
TEST_F(MountTest, TheForegroundUnmountsOnSigtermAndListsWhatIsLeftOut)
{
    ArchiveWriter().add("../up", "x").add("f", "1").add("f/g", "2").add("ok", "3").writeTo(archive);
    const std::filesystem::path more = dir.path() / "more.tre";
    ArchiveWriter().add("d/e", "4").add("d", "5").writeTo(more);
    const ForegroundMount mount({archive.string()}, mnt, dir.path() / "err.txt");
    ASSERT_TRUE(mount.mounted());
    EXPECT_EQ(readFile(mnt / "ok"), "3");
    ::kill(mount.process(), SIGTERM);
    int status = 0;
    ::waitpid(mount.process(), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(isMounted(mnt));
    // unmounted from outside, it ends as well, and well
    const ForegroundMount again({archive.string()}, mnt, dir.path() / "again.txt");
    ASSERT_TRUE(again.mounted());
    ASSERT_EQ(runShellCommand("fusermount3 -u " + shellWord(mnt.string())), 0);
    ::waitpid(again.process(), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(mount.errors(),
              "tremount: entry 0 (../up) is left out: unsafe name\n"
              "tremount: entry 2 (f/g) is left out: a file stands where a folder of its path should be\n");
    // detached, it says how many, and where to look
    const Mount detached(shellWord(archive.string()) + " " + shellWord(more.string()), mnt, "", 0);
    ASSERT_EQ(detached.status(), 0);
    EXPECT_EQ(readFile(mnt.string() + ".err"),
              "tremount: 3 entries left out (files where folders are needed, folders where files should be, unsafe "
              "names); mount with -f to list them\n");
}

TEST_F(MountTest, CommandLineMessages)
{
    ArchiveWriter().add("a", "1").writeTo(archive);
    std::filesystem::create_directories(mnt);
    const std::filesystem::path out = dir.path() / "out.txt";
    struct Case {
        std::string arguments;
        int status;
        std::string expected; // the start of standard output and error together
    };
    const std::vector<Case> cases{
        {"--version", 0, "tremount "},
        {"--help", 0, "usage: tremount [options] ARCHIVE... MOUNTPOINT\n       tremount [options] -T LIST MOUNTPOINT"},
        {shellWord((dir.path() / "missing.tre").string()) + " " + shellWord(mnt.string()), 1,
         "tremount: cannot open archive (" + (dir.path() / "missing.tre").string() + "): No such file or directory\n"},
        {shellWord(dir.path().string()) + " " + shellWord(mnt.string()), 1,
         "tremount: cannot open archive (" + dir.path().string() + "): Is a directory\n"},
        {shellWord(archive.string()) + " " + shellWord((dir.path() / "no-such-folder").string()), 1,
         "tremount: cannot mount at (" + (dir.path() / "no-such-folder").string() + "): No such file or directory\n"},
        {shellWord(archive.string()) + " " + shellWord(archive.string()), 1,
         "tremount: cannot mount at (" + archive.string() + "): Not a directory\n"},
        {"-o umask=999 " + shellWord(archive.string()) + " " + shellWord(mnt.string()), 1,
         "tremount: -o umask=999: an octal mask of at most 777 is needed\n"},
        {"-T " + shellWord((dir.path() / "missing.txt").string()) + " " + shellWord(mnt.string()), 1,
         "tremount: cannot read the list (" + (dir.path() / "missing.txt").string() + "): No such file"},
        {shellWord(archive.string()), 1, "usage: tremount"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(runShellCommand(tremount() + " " + c.arguments + " >" + shellWord(out.string()) + " 2>&1"), c.status);
        EXPECT_EQ(readFile(out).substr(0, c.expected.size()), c.expected) << readFile(out);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing.tre")); // never created
    // --help lists every option, each once
    ASSERT_EQ(runShellCommand(tremount() + " --help >" + shellWord(out.string())), 0);
    const std::string helpText = readFile(out);
    for (const char* option :
         {"\n    -h,", "\n    -V,", "\n    -T ", "\n    -f ", "\n    -d ", "\n    -s ",
          "-o uid=", "-o gid=", "-o umask=", "-o fsname=", "-o allow_other", "-o auto_unmount", "-o max_threads="}) {
        const std::size_t first = helpText.find(option);
        EXPECT_NE(first, std::string::npos) << option;
        EXPECT_EQ(helpText.find(option, first + 1), std::string::npos) << option;
    }

    // a tree that would not fit in the memory allowed is refused before it
    // is mounted (where the sanitizers' own memory does not count against it)
    if (TRETOOL_SANITIZED == 0) {
        ArchiveWriter deep;
        for (int i = 0; i < 20000; ++i) {
            std::string name = std::to_string(i);
            for (int depth = 0; depth < 29; ++depth) {
                name += "/" + std::to_string(depth % 10);
            }
            deep.add(name, "");
        }
        deep.writeTo(archive);
        EXPECT_EQ(runShellCommand("prlimit --data=20000000 " + tremount() + " " + shellWord(archive.string()) + " " +
                                  shellWord(mnt.string()) + " 2>" + shellWord(out.string())),
                  1);
        EXPECT_TRUE(readFile(out).starts_with("tremount: the tree would need more memory than there is to spare"))
            << readFile(out);
        EXPECT_FALSE(isMounted(mnt));
    }
}

// Several archives make the tree that extracting each in turn into one
// empty folder leaves; the mount table names the first archive and how many
// more, unless -o fsname says otherwise; a list names them as well.
TEST_F(MountTest, SeveralArchivesAreOneTree)
{
    const std::vector<std::filesystem::path> archives{dir.path() / "1.tre", dir.path() / "2.tre", dir.path() / "3.tre"};
    ArchiveWriter().add("a/x", "A1").add("b", "B1").add("c/d", "C1").add("same", "S1").writeTo(archives[0]);
    ArchiveWriter().add("b/under", "no").add("c", "no").add("a/y", "A2").add("same", "S2").writeTo(archives[1]);
    ArchiveWriter().add("a/x", "A3").add("new/n", "N3").writeTo(archives[2]);
    const std::filesystem::path extracted = dir.path() / "extracted";
    std::string words;
    std::string list;
    for (const std::filesystem::path& path : archives) {
        runToolWith({"-f", path.string(), "-x", extracted.string(), "-q"}, false, nullptr);
        words += shellWord(path.string()) + " ";
        list += path.string() + "\n";
    }
    writeFile(dir.path() / "list.txt", list);
    struct Case {
        std::string options;
        std::string archives;
        std::string source; // in the mount table
    };
    const std::vector<Case> cases{
        {"", words, archives[0].string() + "+2"},
        {"-o fsname=mine", words, "mine"},
        {"-T " + shellWord((dir.path() / "list.txt").string()), "", archives[0].string() + "+2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const Mount mount(c.archives, mnt, c.options, 0);
        ASSERT_EQ(mount.status(), 0);
        EXPECT_EQ(runShellCommand("diff -r " + shellWord(extracted.string()) + " " + shellWord(mnt.string())), 0);
        EXPECT_EQ(runShellCommand("grep -q " + shellWord("^" + c.source + " " + mnt.string() + " fuse.tre ") +
                                  " /proc/mounts"),
                  0);
    }
}

// Owners and modes as -o gives them; no extended attributes (and no error
// for asking); names that cannot be there, and names that are not.
TEST_F(MountTest, OwnersModesAttributesAndNames)
{
    ArchiveWriter().add("folder/file", "bytes").writeTo(archive);
    const Mount mount(archive, mnt, "-o uid=123,gid=456,umask=027");
    ASSERT_EQ(mount.status(), 0);
    struct Case {
        const char* path;
        mode_t mode;
    };
    for (const Case& c :
         {Case{"", S_IFDIR | 0550}, Case{"folder", S_IFDIR | 0550}, Case{"folder/file", S_IFREG | 0440}}) {
        SCOPED_TRACE(c.path);
        struct stat status {};
        ASSERT_EQ(::stat((mnt / c.path).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode, c.mode);
        EXPECT_EQ(status.st_uid, 123U);
        EXPECT_EQ(status.st_gid, 456U);
    }
    const std::string file = (mnt / "folder/file").string();
    std::array<char, 64> value{};
    errno = 0;
    EXPECT_EQ(::getxattr(file.c_str(), "user.any", value.data(), value.size()), -1);
    EXPECT_EQ(errno, ENODATA);
    EXPECT_EQ(::listxattr(file.c_str(), value.data(), value.size()), 0);
    EXPECT_EQ(::listxattr(file.c_str(), nullptr, 0), 0);
    EXPECT_EQ(statErrorWithin(mnt / "missing"), ENOENT);
    EXPECT_EQ(statErrorWithin(mnt / "folder/missing"), ENOENT);
    EXPECT_EQ(statErrorWithin(mnt / std::string(300, 'n')), ENAMETOOLONG);
    EXPECT_EQ(statErrorWithin(mnt / "folder/file/under"), ENOTDIR);
}

// A listing carries every entry's attributes: find -ls of a folder of 2,000
// files (more than one request's worth) asks tremount for no file one by one
// (counted in -d's output).
TEST_F(MountTest, AListingCarriesTheAttributesOfEveryFile)
{
    ArchiveWriter writer;
    for (int i = 0; i < 2000; ++i) {
        writer.add("big/file" + std::to_string(i), std::to_string(i));
    }
    writer.writeTo(archive);
    const ForegroundMount mount({"-d", archive.string()}, mnt, dir.path() / "debug.txt");
    ASSERT_TRUE(mount.mounted());
    ASSERT_EQ(runShellCommand("find " + shellWord((mnt / "big").string()) + " -ls >/dev/null"), 0);
    const std::string debug = mount.errors();
    std::size_t lookups = 0;
    for (std::size_t at = debug.find("opcode: LOOKUP"); at != std::string::npos;
         at = debug.find("opcode: LOOKUP", at + 1)) {
        ++lookups;
    }
    EXPECT_LE(lookups, 1U) << "the folder itself, at most"; // `big` is looked up once
    EXPECT_NE(debug.find("opcode: READDIRPLUS"), std::string::npos);
    EXPECT_EQ(debug.find("opcode: READDIR "), std::string::npos); // never a listing without attributes
}

// What a mount shows packs into an archive whose extraction is that tree.
TEST_F(MountTest, TheMountedTreePacksBack)
{
    ArchiveWriter()
        .add("readme.txt", "hello\n")
        .add("../unsafe", "x")
        .add("a/b/c.bin", std::string("\0\1\2", 3))
        .add("a/b/c.bin", "replaced")
        .add("a", "a folder wins")
        .add("empty", "")
        .writeTo(archive);
    const Mount mount(archive, mnt);
    ASSERT_EQ(mount.status(), 0);
    const std::filesystem::path packed = dir.path() / "packed.tre";
    const std::filesystem::path extracted = dir.path() / "extracted";
    EXPECT_EQ(runShellCommand(shellWord(TREPACK_EXECUTABLE) + " -q -f " + shellWord(packed.string()) + " -C " +
                              shellWord(mnt.string()) + " ."),
              0);
    runToolWith({"-f", packed.string(), "-x", extracted.string(), "-q"}, false, nullptr);
    EXPECT_EQ(runShellCommand("diff -r " + shellWord(extracted.string()) + " " + shellWord(mnt.string())), 0);
}
