#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "support/File.h"
#include "tre/Archive.h"
#include "tre/FolderExtraction.h"
#include "tre/OutputFile.h"

namespace {

void writeAndCommit(const std::filesystem::path& path, const tre::Archive* keep, std::string_view text)
{
    tre::Result<tre::OutputFile> output = tre::OutputFile::create(path, keep);
    ASSERT_TRUE(output) << output.error().message();
    EXPECT_TRUE(output->write(text));
    EXPECT_TRUE(output->commit());
}

} // namespace

// Every name that leads to the kept archive gets a new file; the archive
// still reads what it opened, and no stray file is left beside it.
TEST(OutputFile, NamesOfTheKeptArchiveGetANewFile)
{
    const TempDir dir;
    const std::filesystem::path archivePath = dir.path() / "a.tre";
    const std::string original = ArchiveWriter().add("e", "entry").bytes();
    writeFile(archivePath, original);
    std::error_code noLinks;
    std::filesystem::create_symlink(archivePath, dir.path() / "link.tre", noLinks);
    std::filesystem::create_hard_link(archivePath, dir.path() / "hard.tre");

    {
        const tre::Archive archive = std::move(tre::Archive::open(archivePath).value());
        writeAndCommit(dir.path() / "hard.tre", &archive, "to the hard link");
        EXPECT_EQ(readFile(dir.path() / "hard.tre"), "to the hard link");
        EXPECT_EQ(readFile(archivePath), original); // the archive's own name keeps it
        if (!noLinks) {
            writeAndCommit(dir.path() / "link.tre", &archive, "through the link");
            EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.tre"));
            EXPECT_EQ(readFile(archivePath), "through the link");
        }
        writeAndCommit(dir.path() / "." / "a.tre", &archive, "by another spelling");
        EXPECT_EQ(readFile(archivePath), "by another spelling");
        EXPECT_EQ(archive.entry(0).value().name(), "e");
    }
    // (Windows removes a replaced file that was open only once it is closed)
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), noLinks ? 2 : 3);
}

TEST(OutputFile, OtherFilesAreEmptiedAndDroppedReplacementsRemoved)
{
    const TempDir dir;
    const std::filesystem::path archivePath = dir.path() / "a.tre";
    writeFile(archivePath, ArchiveWriter().add("e", "entry").bytes());
    const tre::Archive archive = std::move(tre::Archive::open(archivePath).value());
    writeFile(dir.path() / "other", "a longer text than the new one");
    writeAndCommit(dir.path() / "other", &archive, "short");
    EXPECT_EQ(readFile(dir.path() / "other"), "short");
    {
        tre::Result<tre::OutputFile> dropped = tre::OutputFile::create(archivePath, &archive);
        ASSERT_TRUE(dropped);
        EXPECT_TRUE(dropped->write(std::string_view("never committed")));
    }
    EXPECT_EQ(readFile(archivePath), ArchiveWriter().add("e", "entry").bytes());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
    EXPECT_EQ(tre::OutputFile::create(dir.path(), &archive).error().code, std::errc::is_a_directory);
}

// Only a regular file is ever replaced: a fault elsewhere must not turn
// into a lost device. (Tried on a FIFO of the test's own: should the check
// ever fail, nothing outside the test's folder is lost.)
TEST(OutputFile, ReplacementsNeverReplaceAnythingButARegularFile)
{
#if defined(_WIN32)
    GTEST_SKIP() << "no FIFO to try";
#else
    const TempDir dir;
    const std::filesystem::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::error_code error;
    tre::ReplacementFile replacement = tre::ReplacementFile::create(fifo, error);
    EXPECT_TRUE(error);
    EXPECT_FALSE(replacement.file().isOpen());
    EXPECT_TRUE(replacement.commit());
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
#endif
}

#if !defined(_WIN32)
// The new file that replaces the archive takes its mode, and its owner and
// group where the user may give them (as root, which CI runs as, always).
TEST(OutputFile, AReplacementKeepsTheModeAndOwnerOfWhatItReplaces)
{
    const TempDir dir;
    const std::filesystem::path archivePath = dir.path() / "a.tre";
    writeFile(archivePath, ArchiveWriter().add("e", "entry").bytes());
    constexpr uid_t nobody = 65534;
    const bool root = ::geteuid() == 0;
    struct Case {
        mode_t mode;
        uid_t owner; // the group is nobody's in each case
    };
    for (const Case& c : {Case{0640, nobody}, Case{0604, nobody}, Case{02750, ::geteuid()}}) {
        const mode_t mode = c.mode;
        SCOPED_TRACE(mode);
        if (root) {
            ASSERT_EQ(::chown(archivePath.c_str(), c.owner, nobody), 0);
        }
        ASSERT_EQ(::chmod(archivePath.c_str(), mode), 0); // after the owner: a change of owner clears set-ID bits
        const tre::Archive archive = std::move(tre::Archive::open(archivePath).value());
        writeAndCommit(archivePath, &archive, "replaced");
        struct stat status {};
        ASSERT_EQ(::stat(archivePath.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777U, mode);
        EXPECT_EQ(status.st_uid, root ? c.owner : ::geteuid());
        EXPECT_EQ(status.st_gid, root ? nobody : ::getegid());
        EXPECT_EQ(readFile(archivePath), "replaced");
    }
}
#endif

#if !defined(_WIN32)
// A device is written as it is: never emptied, never replaced.
TEST(OutputFile, ADeviceIsWrittenAsItIs)
{
    tre::Result<tre::OutputFile> output = tre::OutputFile::create("/dev/null");
    ASSERT_TRUE(output) << output.error().message();
    EXPECT_TRUE(output->write(std::string_view("discarded")));
    EXPECT_TRUE(output->commit());
}
#endif

// Without an archive to keep (or one in memory), a file is written in place:
// its other hard links see the new bytes.
TEST(OutputFile, AFileThatIsNoArchiveIsWrittenInPlace)
{
    const TempDir dir;
    const std::filesystem::path file = dir.path() / "file";
    writeFile(file, "old bytes, longer");
    std::filesystem::create_hard_link(file, dir.path() / "other name");
    const tre::Archive inMemory = tre::Archive::fromBytes(ArchiveWriter().add("e", "x").bytes());
    for (const tre::Archive* keep : {static_cast<const tre::Archive*>(nullptr), &inMemory}) {
        writeAndCommit(file, keep, keep == nullptr ? "first" : "second");
        EXPECT_EQ(readFile(dir.path() / "other name"), keep == nullptr ? "first" : "second");
    }
}

// Every file opened on the way is closed again: hundreds of outputs and
// archives fit in a few dozen descriptors.
TEST(OutputFile, ClosesEveryFileItOpens)
{
#if defined(_WIN32)
    GTEST_SKIP() << "no descriptor limit to set";
#else
    const TempDir dir;
    const std::filesystem::path archivePath = dir.path() / "a.tre";
    ArchiveWriter().add("e", "entry").writeTo(archivePath);
    const tre::Archive archive = std::move(tre::Archive::open(archivePath).value());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    int failures = 0;
    for (int i = 0; i < 300; ++i) {
        failures += archive.copyToFile(archive.entry(0).value(), dir.path() / "out") ? 0 : 1;
        // the archive's own name: a new file beside it, checked through another open
        failures += tre::OutputFile::create(archivePath, &archive) ? 0 : 1;
        // archives opened, and folders refused after their open
        failures += tre::Archive::open(archivePath) ? 0 : 1;
        failures += tre::Archive::open(dir.path()).error().code == std::errc::is_a_directory ? 0 : 1;
        // folders extracted into, their folders closed behind them
        tre::Result<tre::FolderExtraction> tree = tre::FolderExtraction::open(archive, dir.path() / "tree");
        failures += tree && tree->extract(archive.entry(0).value()).outcome == tre::Outcome::written ? 0 : 1;
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(failures, 0);
#endif
}
