// Runs the real tretool executable: exit status, standard output, and
// nothing at all on standard error. TRETOOL_WRAPPER, when set, is put in
// front of the command (valgrind, for instance).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <tuple>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

struct ProcessResult {
    int status;
    std::string out;
    std::string err;
};

std::string shellWord(const std::string& argument) { return "\"" + argument + "\""; }

class EndToEndTest : public ::testing::Test {
protected:
    ProcessResult run(const std::vector<std::string>& arguments, const std::string& prefix = "")
    {
        std::string command = prefix;
        if (const char* wrapper = std::getenv("TRETOOL_WRAPPER")) {
            command += std::string(wrapper) + " ";
        }
        command += shellWord(TRETOOL_EXECUTABLE);
        for (const std::string& argument : arguments) {
            command += " " + shellWord(argument);
        }
        const std::string outPath = dir / "stdout.txt";
        const std::string errPath = dir / "stderr.txt";
        command += " >" + shellWord(outPath) + " 2>" + shellWord(errPath);
        const int status = runShellCommand(command);
        return {status, readFile(fromUtf8(outPath)), readFile(fromUtf8(errPath))};
    }

    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string out = dir / "out.bin";
};

} // namespace

TEST_F(EndToEndTest, NoArgumentsShowsHelp)
{
    const ProcessResult result = run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.starts_with(asText("Flags:\n"))) << result.out;
    EXPECT_EQ(result.err, "");
}

TEST_F(EndToEndTest, ListsAndExtracts)
{
    ArchiveWriter().add("docs/a.txt", "alpha").add("b.bin", std::string("\0\r\n\x1a", 4)).writeTo(archive);
    const ProcessResult result = run({"-o", "1", out, "-f", archive, "-l"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, asText("0: docs/a.txt\n1: b.bin\n"
                                 "Outputting file (b.bin) to file (" +
                                 out +
                                 ").\n"
                                 "Filesize is 4, and file offset is 161.\n"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(out), std::string("\0\r\n\x1a", 4));
}

TEST_F(EndToEndTest, ExtractsIntoAFolderWithNothingOnStandardError)
{
    ArchiveWriter().add("docs/a.txt", "alpha").add("b.bin", "").writeTo(archive);
    const std::string folder = dir / "out";
    const ProcessResult result = run({"-f", archive, "-x", folder});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.ends_with(asText("Extracted 2 of 2 entries (5 bytes) to folder (" + folder + ").\n")));
    EXPECT_EQ(result.err, ""); // no progress line: standard error is not a terminal
    EXPECT_EQ(readFile(fromUtf8(folder + "/docs/a.txt")), "alpha");
}

TEST_F(EndToEndTest, FailuresEndWithStatusOne)
{
    ArchiveWriter().add(TestRecord{.name = "cut", .data = "ab", .size = 3}).writeTo(archive);
    const ProcessResult shortRead = run({"-f", archive, "-o", "0", out});
    EXPECT_EQ(shortRead.status, 1);
    EXPECT_NE(shortRead.out.find(asText("Exit Message: Read only 2 of 3 bytes of entry 0.\n")), std::string::npos);
    EXPECT_EQ(shortRead.err, "");

    const ProcessResult noInput = run({"-l"});
    EXPECT_EQ(noInput.status, 1);
    EXPECT_EQ(noInput.out, asText("Exit Message: You must have an input file.\n"));
    EXPECT_EQ(noInput.err, "");
}

// -p and -j own standard output: bytes as they are, line feeds as they are,
// on every platform.
TEST_F(EndToEndTest, EntriesAndJsonLinesReachStandardOutputAsTheyAre)
{
    const std::string bytes("\0\r\n\x1a\n", 5);
    ArchiveWriter().add("a", "x").add("b\nc.bin", bytes).writeTo(archive);
    const ProcessResult entry = run({"-f", archive, "-p", "1", "-l"});
    EXPECT_EQ(entry.status, 0);
    EXPECT_EQ(entry.out, bytes);
    EXPECT_EQ(entry.err, asText("0: a\n1: b\nc.bin\n"));
    const ProcessResult json = run({"-f", archive, "-j", "-l"});
    EXPECT_EQ(json.out, "{\"entry\":0,\"name\":\"a\",\"size\":1,\"offset\":156}\n"
                        "{\"entry\":1,\"name\":\"b\\nc.bin\",\"size\":5,\"offset\":157}\n");
    EXPECT_EQ(json.err, "");
}

TEST_F(EndToEndTest, NonAsciiPathsWork)
{
    const std::string archivePath = dir / "archiv\xc3\xa9-\xce\xa9.tre";
    const std::string listPath = dir / "liste-\xc3\xbc.txt";
    const std::string outputPath = dir / "sortie-\xe6\x97\xa5\xe6\x9c\xac.bin";
    const std::string name = "donn\xc3\xa9\x65s/\xc3\xa9.txt";
    ArchiveWriter().add(name, "\xc3\xa9\r\n").writeTo(fromUtf8(archivePath));

    const ProcessResult result = run({"-f", archivePath, "-lf", listPath, "-o", "0", outputPath});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, asText("Outputting file (" + name + ") to file (" + outputPath +
                                 ").\nFilesize is 4, and file offset is 82.\n"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(fromUtf8(listPath)), asText("0: " + name + "\n"));
    EXPECT_EQ(readFile(fromUtf8(outputPath)), "\xc3\xa9\r\n");
}

#if !defined(_WIN32)
// Claims of two billion records or bytes in a 100-byte file must cost no more
// than the file holds: the tool runs with a 256 MiB address space.
TEST_F(EndToEndTest, HugeClaimsFitInASmallAddressSpace)
{
    if (std::getenv("TRETOOL_WRAPPER") != nullptr || TRETOOL_SANITIZED) {
        GTEST_SKIP() << "valgrind and the sanitizers need far more address space";
    }
    const std::string limit = "ulimit -v 262144 && ";
    const std::string data(18, 'd');
    const std::string report = "Outputting file (only) to file (" + out + ").\nFilesize is ";

    ArchiveWriter().claimCount(0x7fffffff).add("only", data).writeTo(archive);
    ASSERT_EQ(std::filesystem::file_size(archive), 100U);
    const ProcessResult count = run({"-f", archive, "-l", "-o", "0", out}, limit);
    EXPECT_EQ(count.status, 0);
    EXPECT_EQ(count.out, "0: only\n" + report + "18, and file offset is 82.\n");
    EXPECT_EQ(readFile(out), data);

    ArchiveWriter().add(TestRecord{.name = "only", .data = data, .size = 0x7fffffff}).writeTo(archive);
    ASSERT_EQ(std::filesystem::file_size(archive), 100U);
    const ProcessResult size = run({"-f", archive, "-l", "-o", "0", out}, limit);
    EXPECT_EQ(size.status, 1);
    EXPECT_EQ(size.out, "0: only\n" + report +
                            "2147483647, and file offset is 82.\n"
                            "Exit Message: Read only 18 of 2147483647 bytes of entry 0.\n");
    EXPECT_EQ(size.err, "");
    EXPECT_EQ(readFile(out), data);
}
#endif

#if !defined(_WIN32)
#include <pwd.h>
#include <unistd.h>

namespace {

bool underWrapper() { return std::getenv("TRETOOL_WRAPPER") != nullptr || TRETOOL_SANITIZED; }

// Peak resident memory in KiB of the tool run with these arguments, taken by
// the benchmark's small `measure` program: a child forked from this large
// test process would inherit its memory figure.
long peakKibibytes(const std::string& arguments, const std::string& figures)
{
    runShellCommand(std::string(TRETOOL_MEASURE) + " /dev/null " + TRETOOL_EXECUTABLE + " " + arguments + " >" +
                    figures);
    std::istringstream line(readFile(figures));
    double milliseconds = 0;
    long kibibytes = 0;
    line >> milliseconds >> kibibytes;
    return kibibytes;
}

} // namespace

// A listing that cannot reach its reader must not end in success, however
// standard output fails.
TEST_F(EndToEndTest, FailedStandardOutputIsReported)
{
    ArchiveWriter writer;
    for (int i = 0; i < 4000; ++i) {
        writer.add("entry-with-a-long-name-" + std::to_string(i), ""); // far more than a pipe holds
    }
    writer.writeTo(archive);
    const std::string tool = shellWord(TRETOOL_EXECUTABLE) + " -f " + shellWord(archive) + " -l -o 0 " + shellWord(out);
    const std::string err = dir / "err.txt";
    const std::string status = dir / "status.txt";
    for (const std::string& setup :
         {tool + " >/dev/full", tool + " >&-",
          "trap '' PIPE; { " + tool + " 2>" + err + "; echo $? >" + status + "; } | head -c 1"}) {
        SCOPED_TRACE(setup);
        const int exitStatus = runShellCommand("{ " + setup + "; } 2>" + err + " >/dev/null; echo $? >>" + status);
        EXPECT_EQ(exitStatus, 0);
        EXPECT_EQ(readFile(status).substr(0, 2), "1\n");
        EXPECT_EQ(readFile(err), "tretool: cannot write to standard output\n");
        EXPECT_FALSE(std::filesystem::exists(out));
        std::filesystem::remove(status);
    }
}

// A reader that stops early ends -p as it ends cat: by SIGPIPE, or where
// that is ignored, with the usual line and status 1. Memory stays small
// whatever the entry's size.
TEST_F(EndToEndTest, AnEntryDownAPipeThatCloses)
{
    if (underWrapper()) {
        GTEST_SKIP() << "valgrind and the sanitizers need memory of their own";
    }
    ArchiveWriter().add("big", std::string(30 << 20, 'b')).writeTo(archive);
    const std::string tool = shellWord(TRETOOL_EXECUTABLE) + " -f " + shellWord(archive) + " -p 0";
    const std::string err = dir / "err.txt";
    const std::string statusFile = dir / "status.txt";
    for (const auto& [setup, status, message] :
         {std::tuple<std::string, std::string, std::string>{"", "141", ""},
          {"trap \"\" PIPE; ", "1", "tretool: cannot write to standard output\n"}}) {
        SCOPED_TRACE(status);
        runShellCommand("bash -c '" + setup + tool + " 2>" + err + " | head -c 10 >/dev/null; echo ${PIPESTATUS[0]} >" +
                        statusFile + "'");
        EXPECT_EQ(readFile(statusFile), status + "\n");
        EXPECT_EQ(readFile(err), message);
    }
    EXPECT_LT(peakKibibytes("-f " + archive + " -p 0", dir / "figures.txt"), 8192);
}

TEST_F(EndToEndTest, ResourceLimitsGiveMessagesNotWrongResults)
{
    std::string data(30 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); i += 4096) {
        data[i] = static_cast<char>(i / 4096);
    }
    ArchiveWriter().add("big", data).writeTo(archive);
    const std::string report =
        "Outputting file (big) to file (" + out + ").\nFilesize is 31457280, and file offset is 82.\n";

    // few descriptors: the archive is opened once, however many chunks the copy takes
    const ProcessResult fewFiles = run({"-f", archive, "-o", "0", out}, "ulimit -n 20 && ");
    EXPECT_EQ(fewFiles.status, 0);
    EXPECT_EQ(fewFiles.out, report);
    EXPECT_EQ(readFile(out), data);

    // few descriptors and many folders: each folder left is closed
    ArchiveWriter folders;
    for (int i = 0; i < 60; ++i) {
        folders.add("d" + std::to_string(i) + "/f", "x");
    }
    folders.writeTo(dir.path() / "folders.tre");
    const ProcessResult manyFolders = run({"-f", dir / "folders.tre", "-x", dir / "tree", "-q"}, "ulimit -n 20 && ");
    EXPECT_EQ(manyFolders.status, 0) << manyFolders.out;
    EXPECT_EQ(manyFolders.out, "");

    // a file-size limit cuts the output: reported, not taken for success
    std::filesystem::remove(out);
    const ProcessResult limited = run({"-f", archive, "-o", "0", out}, "trap '' XFSZ && ulimit -f 2048 && ");
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.out, report + "Exit Message: Cannot write output file (" + out + ")" +
                               because(std::errc::file_too_large) + ".\n");
    EXPECT_EQ(limited.err, "");
}

// A full disk ends -x after its message, whether it shows when a file is
// written or when it is created (no inode left); the entries left are only
// counted.
TEST_F(EndToEndTest, FullDiskStopsTheExtraction)
{
    const std::string folder = dir / "small";
    std::filesystem::create_directories(folder);
    if (runShellCommand("unshare -m true 2>/dev/null") != 0) {
        GTEST_SKIP() << "no private mount namespace for a small file system";
    }
    ArchiveWriter().add("a", std::string(40960, 'a')).add("b", std::string(40960, 'b')).add("c", "c").writeTo(archive);
    const ProcessResult result =
        run({"-f", archive, "-x", folder},
            "unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs " + folder + R"( && exec "$0" "$@"' )");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Outputting file (a) to file (" + folder +
                              "/a).\nFilesize is 40960, and file offset is 230.\n"
                              "Outputting file (b) to file (" +
                              folder +
                              "/b).\nFilesize is 40960, and file offset is 41190.\n"
                              "Exit Message: Cannot write output file (" +
                              folder + "/b)" + because(std::errc::no_space_on_device) +
                              ".\n"
                              "Extracted 1 of 3 entries (40960 bytes) to folder (" +
                              folder + ").\n");

    // no inode left for the third file: its creation fails, and the fourth is not tried
    ArchiveWriter().add("a", "1").add("b", "2").add("c", "3").add("d", "4").writeTo(archive);
    const ProcessResult inodes =
        run({"-f", archive, "-x", folder, "-q"},
            "unshare -m sh -c 'mount -t tmpfs -o size=64k,nr_inodes=3 tmpfs " + folder + R"( && exec "$0" "$@"' )");
    EXPECT_EQ(inodes.status, 1);
    EXPECT_EQ(inodes.out, "Exit Message: Cannot write output file (" + folder + "/c)" +
                              because(std::errc::no_space_on_device) + ".\n");

    // any other refusal stops that entry only: a read-only folder inside
    const std::string readOnly = folder + "/ro";
    std::filesystem::create_directories(readOnly);
    ArchiveWriter().add("ro/a", "1").add("b", "2").writeTo(archive);
    const ProcessResult refused = run({"-f", archive, "-x", folder, "-q"},
                                      "unshare -m sh -c 'mount --bind " + readOnly + " " + readOnly +
                                          " && mount -o remount,bind,ro " + readOnly + R"( && exec "$0" "$@"' )");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Exit Message: Cannot write output file (" + folder + "/ro/a)" +
                               because(std::errc::read_only_file_system) + ".\n");
    EXPECT_EQ(readFile(folder + "/b"), "2");
}

// Folders are opened for searching only: a drop box (write and search, no
// read) takes the files, as the folder given and as a folder below it.
TEST_F(EndToEndTest, FoldersThatMayBeWrittenButNotReadTakeFiles)
{
    std::string asUser;
    if (::geteuid() == 0) {
        // root may read any folder: the tool runs as nobody instead
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr ||
            runShellCommand("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null") != 0) {
            GTEST_SKIP() << "root cannot run the tool as an unprivileged user here (no nobody, or no setpriv)";
        }
        asUser = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
        for (const std::filesystem::path& folder : {dir.path() / "drop", dir.path() / "drop" / "owned"}) {
            std::filesystem::create_directories(folder);
            ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    std::filesystem::create_directories(dir.path() / "drop" / "owned");
    std::filesystem::permissions(dir.path() / "drop", std::filesystem::perms(0333));
    std::filesystem::permissions(dir.path() / "drop" / "owned", std::filesystem::perms(0300));
    ArchiveWriter().add("a.txt", "A").add("sub/b.txt", "B").writeTo(archive);
    for (const std::string& folder : {dir / "drop", dir / "drop/owned"}) {
        SCOPED_TRACE(folder);
        const ProcessResult result = run({"-f", archive, "-x", folder}, asUser);
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_TRUE(result.out.ends_with("Extracted 2 of 2 entries (2 bytes) to folder (" + folder + ").\n"))
            << result.out;
        EXPECT_EQ(readFile(folder + "/sub/b.txt"), "B");
    }
}

// The reasons that need another user, a read-only file system or a file
// that fails to read: each message ends with the system's own words.
TEST_F(EndToEndTest, MessagesGiveTheSystemsReasons)
{
    ArchiveWriter().add("a", "1").writeTo(archive);
    const std::string report = "Outputting file (a) to file (" + out + ").\nFilesize is 1, and file offset is 82.\n";
    const std::string readOnly = dir / "read-only";
    std::filesystem::create_directories(readOnly);
    // a folder of nobody's with a folder inside that nobody may not search
    const std::string owned = dir / "owned";
    std::filesystem::create_directories(owned + "/locked");
    std::filesystem::permissions(owned + "/locked", std::filesystem::perms(0600));
    if (const passwd* nobody = ::getpwnam("nobody"); nobody != nullptr && ::geteuid() == 0) {
        ASSERT_EQ(::chown(owned.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown((owned + "/locked").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const std::string locked = dir / "locked.tre";
    ArchiveWriter().add("locked/f", "1").writeTo(locked);
    const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    struct Case {
        std::vector<std::string> arguments;
        std::string prefix; // what runs the tool
        std::string output;
        const char* needs; // what the machine must offer, or null
    };
    const std::vector<Case> cases{
        // reading address 0 of the tool's own memory fails: a file that cannot be read
        {{"-f", "/proc/self/mem", "-l"},
         "",
         "Exit Message: Cannot open archive (/proc/self/mem)" + because(std::errc::io_error) + ".\n",
         "/proc/self/mem"},
        {{"-f", archive, "-o", "0", readOnly + "/x"},
         "unshare -m sh -c 'mount --bind " + readOnly + " " + readOnly + " && mount -o remount,bind,ro " + readOnly +
             R"( && exec "$0" "$@"' )",
         "Outputting file (a) to file (" + readOnly + "/x).\nFilesize is 1, and file offset is 82.\n" +
             "Exit Message: Cannot write output file (" + readOnly + "/x)" + because(std::errc::read_only_file_system) +
             ".\n",
         "unshare"},
        {{"-f", archive, "-o", "0", out},
         "setpriv --reuid=nobody --regid=nogroup --clear-groups ",
         report + "Exit Message: Cannot write output file (" + out + ")" + because(std::errc::permission_denied) +
             ".\n",
         "setpriv"},
    };
    // (the read-only archive of a user who may write its folder: its list
    // file replaces it, as it always did)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.needs);
        if (runShellCommand(std::string("command -v ") + c.needs + " >/dev/null 2>&1 || test -e " + c.needs) != 0 ||
            (std::string(c.needs) == "setpriv" && ::geteuid() != 0)) {
            continue; // this machine cannot produce that reason
        }
        if (std::string(c.needs) == "unshare" && runShellCommand("unshare -m true 2>/dev/null") != 0) {
            continue; // no private mount namespace here
        }
        const ProcessResult result = run(c.arguments, c.prefix);
        EXPECT_EQ(result.out, c.output);
        EXPECT_EQ(result.status, 1);
    }
}

// An archive that its user may not write, in a folder that they may: a
// list file named after it still replaces it (the archive is recognised
// even where it cannot be opened for writing).
TEST_F(EndToEndTest, AReadOnlyArchiveIsReplacedByItsListFile)
{
    std::string asUser;
    const std::filesystem::path folder = dir.path() / "owned";
    std::filesystem::create_directories(folder);
    const std::string owned = (folder / "a.tre").string();
    ArchiveWriter().add("a", "1").writeTo(owned);
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr || runShellCommand("command -v setpriv >/dev/null") != 0) {
            GTEST_SKIP() << "root cannot run the tool as an unprivileged user here (no nobody, or no setpriv)";
        }
        asUser = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
        ASSERT_EQ(::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown(owned.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    std::filesystem::permissions(owned, std::filesystem::perms(0444));
    const ProcessResult result = run({"-f", owned, "-lf", owned}, asUser);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(readFile(owned), "0: a\n");
}

// Memory does not grow with the directory: a huge sparse archive and a long
// listing both stay under 8 MiB.
TEST_F(EndToEndTest, MemoryStaysSmallWhateverTheDirectory)
{
    if (underWrapper()) {
        GTEST_SKIP() << "valgrind and the sanitizers need memory of their own";
    }
    ArchiveWriter().claimCount(0x7fffffff).add("first", "data").writeTo(archive);
    std::filesystem::resize_file(archive, std::uintmax_t{4} << 30); // 4 GiB, nearly all holes
    EXPECT_LT(peakKibibytes("-f " + archive + " -o 0 " + out, dir / "figures.txt"), 8192);
    EXPECT_EQ(readFile(out), "data");

    ArchiveWriter writer;
    std::string listing;
    for (int i = 0; i < 200000; ++i) {
        writer.add("folder/entry-" + std::to_string(i), "");
        listing += std::to_string(i) + ": folder/entry-" + std::to_string(i) + "\n";
    }
    writer.writeTo(archive);
    const std::string list = dir / "list.txt";
    EXPECT_LT(peakKibibytes("-f " + archive + " -l -lf " + list, dir / "figures.txt"), 8192);
    EXPECT_EQ(readFile(list), listing);
}
#endif
