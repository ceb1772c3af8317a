#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "cli/CommandLine.h"
#include "support/Console.h"
#include "support/ProgramVersion.h"

namespace {

const std::string help = "Flags:\n"
                         " Help Screen: -h\n"
                         "  Input File:  -f <filename>\n"
                         "  List TRE Contents: -l\n"
                         "  List TRE Contents to file: -lf <listfile>\n"
                         "  Output File: -o <tre_filenum> <out_filename>\n"
                         "  Extract TRE Contents to folder: -x <folder>\n"
                         "  Only entries whose names match: -m <pattern>\n"
                         "  Show sizes and offsets in listings: -v\n"
                         "  Test TRE Contents: -t\n"
                         "  Listings as JSON lines: -j\n"
                         "  Write TRE_Filenum to standard output: -p <tre_filenum>\n"
                         "  Report problems only: -q\n";
const std::string noInput = "Exit Message: You must have an input file.\n";

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ArchiveWriter().add("first.txt", "1").add("second/file.bin", "22").writeTo(archive);
        ArchiveWriter().add("other.txt", "333").writeTo(other);
    }

    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string other = dir / "b.tre";
    std::string out = dir / "out.bin";
};

} // namespace

TEST_F(CommandLineTest, ProgramNameAloneShowsHelp)
{
    std::ostringstream output;
    const std::vector<const char*> argv{"tretool"};
    EXPECT_EQ(runCommandLine(argv, output, output), 0);
    EXPECT_EQ(output.str(), help);
}

TEST_F(CommandLineTest, HelpPrintsDuringTheScanAndTheRunGoesOn)
{
    EXPECT_EQ(runTool({"-h"}).output, help + noInput);
    EXPECT_EQ(runTool({"-h"}).status, 1);

    const RunResult withArchive = runTool({"-f", archive, "-h", "-l"});
    EXPECT_EQ(withArchive.status, 0);
    EXPECT_EQ(withArchive.output, help + "0: first.txt\n1: second/file.bin\n");

    EXPECT_EQ(runTool({"-h", "-h"}).output, help + help + noInput);
}

TEST_F(CommandLineTest, ProgramNameIsScannedLikeAnyArgument)
{
    std::ostringstream output;
    const std::vector<const char*> argv{"-h", "-l"};
    EXPECT_EQ(runCommandLine(argv, output, output), 1);
    EXPECT_EQ(output.str(), help + noInput);
}

TEST_F(CommandLineTest, WithoutInputNothingRunsAndNothingIsWritten)
{
    for (const auto& result : {runTool({"-l"}), runTool({"-o", "0", out}), runTool({"-lf", out}), runTool({"x"})}) {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, noInput);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CommandLineTest, InputAloneLoadsAndPrintsNothing)
{
    EXPECT_EQ(runTool({"-f", archive}).status, 0);
    EXPECT_EQ(runTool({"-f", archive}).output, "");
}

TEST_F(CommandLineTest, MissingArchiveIsCreatedEmptyAndListsNothing)
{
    const std::string missing = dir / "new.tre";
    const RunResult result = runTool({"-f", missing, "-l"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(std::filesystem::exists(missing));
    EXPECT_EQ(std::filesystem::file_size(missing), 0U);
}

// The empty file made where the archive is missing: only where nothing
// stands, never through a link, never over anything.
TEST(Console, CreatesAFileOnlyWhereNothingIs)
{
    const TempDir dir;
    writeFile(dir.path() / "full", "kept");
    struct Case {
        const char* name;
        bool created;
    };
    std::vector<Case> cases{{"new", true}, {"full", false}, {"no-folder/new", false}, {"", false}};
#if !defined(_WIN32)
    std::filesystem::create_symlink(dir.path() / "target", dir.path() / "dangling");
    cases.push_back({"dangling", false});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(createFileIfMissing(*c.name == '\0' ? std::filesystem::path() : dir.path() / c.name), c.created);
    }
    EXPECT_EQ(readFile(dir.path() / "new"), "");
    EXPECT_EQ(readFile(dir.path() / "full"), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
}

TEST_F(CommandLineTest, ValuesAreConsumedAndNeverReadAsFlags)
{
    // the archive path becomes "-l": a file of that name in the working folder
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const RunResult result = runTool({"-f", "-l"});
    std::filesystem::current_path(saved);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(std::filesystem::exists(dir / "-l"));
}

TEST_F(CommandLineTest, LastFlagWins)
{
    EXPECT_EQ(runTool({"-f", archive, "-f", other, "-l"}).output, "0: other.txt\n");
    const RunResult extract = runTool({"-f", archive, "-o", "0", dir / "x", "-o", "1", out});
    EXPECT_EQ(extract.output, "Outputting file (second/file.bin) to file (" + out +
                                  ").\n"
                                  "Filesize is 2, and file offset is 157.\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
    EXPECT_EQ(readFile(out), "22");
}

TEST_F(CommandLineTest, UnknownArgumentsAreIgnored)
{
    const RunResult result = runTool({"-L", "-F", "--f", "-", "", "-f", archive, "-l", "-lF", "l"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "0: first.txt\n1: second/file.bin\n");
}

TEST(ParseEntryNumber, ConvertsLikeAtoiAndSaturates)
{
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    const std::vector<std::pair<const char*, std::int32_t>> cases{
        {"7", 7},
        {" 7", 7},
        {"\t\n\v\f\r 9", 9},
        {"+3", 3},
        {"-2", -2},
        {"-0", 0},
        {"7abc", 7},
        {"x", 0},
        {"", 0},
        {"+", 0},
        {"- 1", 0},
        {"2147483647", max},
        {"-2147483648", min},
        {"2147483648", max},
        {"4294967296", max},
        {"99999999999", max},
        {"-99999999999", min},
        {"000000000000000000042", 42},
        {"18446744073709551616", max},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parseEntryNumber(text), expected) << '"' << text << '"';
    }
}

TEST_F(CommandLineTest, AtoiFormsSelectEntries)
{
    EXPECT_EQ(runTool({"-f", archive, "-o", "x", out}).output.substr(0, 29), "Outputting file (first.txt) t");
    EXPECT_EQ(runTool({"-f", archive, "-o", " +1abc", out}).output.substr(0, 35),
              "Outputting file (second/file.bin) t");
    for (const char* outOfRange : {"4294967296", "4294967297", "99999999999", "-4294967295", "2"}) {
        const RunResult result = runTool({"-f", archive, "-o", outOfRange, out});
        EXPECT_EQ(result.output, "Invalid TRE_Filenum.\n") << outOfRange;
        EXPECT_EQ(result.status, 0);
    }
}

TEST_F(CommandLineTest, FlagWithoutItsValuesIsReportedAfterTheScan)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
    };
    const std::string needsInput = "Exit Message: -f needs <filename>.\n";
    const std::string needsList = "Exit Message: -lf needs <listfile>.\n";
    const std::string needsOutput = "Exit Message: -o needs <tre_filenum> <out_filename>.\n";
    const std::vector<Case> cases{
        {{"-f"}, needsInput},
        {{"-l", "-f"}, needsInput},
        {{"-f", archive, "-lf"}, needsList},
        {{"-f", archive, "-o"}, needsOutput},
        {{"-f", archive, "-o", "1"}, needsOutput},
        {{"-f", archive, "-o", "-f"}, needsOutput},
        {{"-h", "-f"}, help + needsInput},
        {{"-f", archive, "-l", "-lf", dir / "list.txt", "-o", "0"}, needsOutput},
        {{"-f", archive, "-x"}, "Exit Message: -x needs <folder>.\n"},
        {{"-f", archive, "-m"}, "Exit Message: -m needs <pattern>.\n"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"tretool"};
        for (const std::string& argument : c.arguments) {
            argv.push_back(argument.c_str());
        }
        std::ostringstream output;
        EXPECT_EQ(runCommandLine(argv, output, output), 1);
        EXPECT_EQ(output.str(), c.output);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "list.txt"));
}

TEST_F(CommandLineTest, ArchiveThatCannotBeOpenedStopsBeforeAnyAction)
{
    const std::string list = dir / "list.txt";
    std::vector<std::pair<std::string, std::string>> unopenable{
        {dir.path().string(), because(std::errc::is_a_directory)},
        {dir / "missing/a.tre", because(std::errc::no_such_file_or_directory)},
        {std::string(), because(std::errc::no_such_file_or_directory)}};
#if !defined(_WIN32)
    // anything but a regular file, and a FIFO without a writer must not block
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& special : {fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
        unopenable.emplace_back(special, because(tre::Errc::notRegularFile));
    }
#endif
    for (const auto& [bad, reason] : unopenable) {
        const RunResult result = runTool({"-f", bad, "-l", "-lf", list, "-o", "0", out});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "Exit Message: Cannot open archive (" + bad + ")" + reason + ".\n");
    }
    EXPECT_FALSE(std::filesystem::exists(list));
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CommandLineTest, FailedStandardOutputEndsTheRunWithStatusOne)
{
    const std::string list = dir / "list.txt";
    std::ostream broken(nullptr); // every write fails
    const std::vector<const char*> argv{"tretool", "-f", archive.c_str(), "-l", "-lf", list.c_str(),
                                        "-o",      "0",  out.c_str()};
    EXPECT_EQ(runCommandLine(argv, broken, broken), 1);
    EXPECT_FALSE(std::filesystem::exists(list));
    EXPECT_FALSE(std::filesystem::exists(out));
    const std::vector<const char*> helpOnly{"tretool"};
    EXPECT_EQ(runCommandLine(helpOnly, broken, broken), 1);
}

// On a terminal, names cannot clear the screen or fake lines; in a pipe, a
// file or the list file they stay as stored.
TEST_F(CommandLineTest, NamesAreTerminalSafeOnATerminalOnly)
{
    // C0 and C1 controls (raw 0x9B and U+009B are both CSI), DEL and stray
    // bytes become '?', one per byte or character; valid UTF-8 stays
    const std::string name = "a\x1b[2J\r\n9: fake\x7f\x01\xc3\xa9\x9b"
                             "31m\xc2\x9b\xc2\x80\xc2\xa0\xe6\xbc\xa2\xff\xe6\xbc";
    const std::string shown = "a?[2J??9: fake??\xc3\xa9?31m??\xc2\xa0\xe6\xbc\xa2???";
    ArchiveWriter().add(name, "x").writeTo(archive);
    const std::string list = dir / "list.txt";
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal);
        const std::string expectedName = terminal ? shown : name;
        const RunResult result = runTool({"-f", archive, "-l", "-lf", list, "-o", "0", out}, terminal);
        EXPECT_EQ(result.output, "0: " + expectedName + "\nOutputting file (" + expectedName + ") to file (" + out +
                                     ").\nFilesize is 1, and file offset is 82.\n");
        EXPECT_EQ(readFile(list), "0: " + name + textLineEnd); // line ends inside names stay as stored
    }
}

namespace {

// Runs `hook` the first time a line is flushed: a stand-in for another
// program that writes to the archive while the tool reads it.
class HookedOutput : public std::stringbuf {
public:
    explicit HookedOutput(std::function<void()> hook) : hook_(std::move(hook)) {}

protected:
    int sync() override
    {
        if (hook_) {
            std::exchange(hook_, {})();
        }
        return 0;
    }

private:
    std::function<void()> hook_;
};

} // namespace

// Bytes read from an archive rewritten in place may mix two versions: the
// run says so once, after the action that noticed, and the later ones run.
TEST_F(CommandLineTest, AnArchiveRewrittenInPlaceIsReportedOnce)
{
    const std::string bytes = readFile(archive);
    const std::string folder = dir / "tree";
    const std::string changed = "Exit Message: The archive changed while it was read.\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
    };
    const std::vector<Case> cases{
        {{"-f", archive, "-l", "-t"},
         "0: first.txt\n1: second/file.bin\n" + changed + "Tested 2 entries: 0 damaged.\n"},
        {{"-f", archive, "-x", folder},
         reportLines("first.txt", folder + pathSeparator + "first.txt", 1, 156) +
             reportLines("second/file.bin", folder + pathSeparator + "second" + pathSeparator + "file.bin", 2, 157) +
             "Extracted 2 of 2 entries (3 bytes) to folder (" + folder + ").\n" + changed},
        // the tool's own replacement of the archive's name is no change
        {{"-f", archive, "-lf", archive, "-o", "0", archive}, reportLines("first.txt", archive, 1, 156)},
    };
    for (const Case& c : cases) {
        writeFile(archive, bytes);
        // an old time, so that the rewrite cannot leave it as it was
        std::filesystem::last_write_time(archive,
                                         std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
        HookedOutput buffer([&] {
            std::fstream inPlace(archive, std::ios::in | std::ios::out | std::ios::binary);
            inPlace.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        });
        std::ostream output(&buffer);
        std::vector<const char*> argv{"tretool"};
        for (const std::string& argument : c.arguments) {
            argv.push_back(argument.c_str());
        }
        EXPECT_EQ(runCommandLine(argv, output, output), c.output.find("Exit") == std::string::npos ? 0 : 1);
        EXPECT_EQ(buffer.str(), c.output);
    }
}

namespace {

// A run with what it must print on standard output and error.
struct StreamsCase {
    std::vector<std::string> arguments;
    std::string output;
    std::string errors;
    int status;
};

void expectRuns(const std::vector<StreamsCase>& cases)
{
    for (const StreamsCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const RunResult result = runToolWith(c.arguments, false, nullptr);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(result.status, c.status);
    }
}

} // namespace

// In a run with -j or -p, standard output carries the JSON lines or the
// entry's bytes only, and every other line goes to standard error.
TEST_F(CommandLineTest, ScriptedRunsKeepStandardOutputForTheirData)
{
    const std::string folder = dir / "tree";
    const std::string jsonLines = "{\"entry\":0,\"name\":\"first.txt\",\"size\":1,\"offset\":156}\n"
                                  "{\"entry\":1,\"name\":\"second/file.bin\",\"size\":2,\"offset\":157}\n";
    expectRuns({
        {{"-f", archive, "-j", "-l", "-v"}, jsonLines, "", 0},
        {{"-f", archive, "-l", "-p", "1"}, "22", "0: first.txt\n1: second/file.bin\n", 0},
        {{"-f", archive, "-j", "-l", "-p", "0"}, "1", jsonLines, 0},
        {{"-h", "-f", archive, "-t", "-j"}, "", help + "Tested 2 entries: 0 damaged.\n", 0},
        {{"-f", archive, "-p", "2"}, "", "Invalid TRE_Filenum.\n", 1},
        {{"-f", archive, "-p", "-1", "-o", "9", out}, "", "Invalid TRE_Filenum.\nInvalid TRE_Filenum.\n", 1},
        {{"-f", archive, "-p"}, "Exit Message: -p needs <tre_filenum>.\n", "", 1}, // sets no -p
        {{"-j", "-l"}, "", noInput, 1},
        {{"-f", archive, "-j", "-o", "0", out}, "", reportLines("first.txt", out, 1, 156), 0},
        {{"-f", archive, "-m", "*.none", "-j", "-l"}, "", "Exit Message: No entry matches (*.none).\n", 1},
        {{"-f", archive, "-p", "0", "-x", folder},
         "1",
         reportLines("first.txt", folder + pathSeparator + "first.txt", 1, 156) +
             reportLines("second/file.bin", folder + pathSeparator + "second" + pathSeparator + "file.bin", 2, 157) +
             "Extracted 2 of 2 entries (3 bytes) to folder (" + folder + ").\n",
         0},
    });
    // a list file of JSON lines ends them with a line feed on every platform
    const std::string list = dir / "list.json";
    EXPECT_EQ(runTool({"-f", archive, "-j", "-lf", list}).status, 0);
    EXPECT_EQ(readFile(list), jsonLines);
}

// --help and --version end the scan where they stand as flags; as values
// they are values.
TEST_F(CommandLineTest, HelpAndVersionEndTheScanWhereTheyAreFlags)
{
    const std::string version = std::string("tretool ") + programVersion + "\n";
    expectRuns({
        {{"--help"}, help, "", 0},
        {{"--version"}, version, "", 0},
        {{"-f", archive, "-l", "--help", "-o"}, help, "", 0}, // nothing runs, -o is never seen
        {{"-h", "--version", "-x"}, help + version, "", 0},
        {{"-j", "-h", "--version"}, version, help, 0}, // -h's screen goes where a -j run's lines go
        {{"-f", archive, "-m", "--help", "-l"}, "Exit Message: No entry matches (--help).\n", "", 1},
        {{"-f", archive, "-p", "--version"}, "1", "", 0}, // read as -o reads a number: 0
        {{"--Help", "-V", "-f", archive}, "", "", 0},
    });
}

// -q leaves out the lines of success and keeps every problem.
TEST_F(CommandLineTest, QuietRunsReportProblemsOnly)
{
    const std::string folder = dir / "tree";
    const std::string damaged = dir / "damaged.tre";
    ArchiveWriter().add(TestRecord{.name = "cut", .data = "ab", .size = 3}).writeTo(damaged);
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
        int status;
    };
    const std::vector<Case> cases{
        {{"-q", "-f", archive, "-l", "-t", "-o", "0", out, "-x", folder}, "0: first.txt\n1: second/file.bin\n", 0},
        {{"-q", "-f", archive, "-o", "5", out}, "Invalid TRE_Filenum.\n", 0},
        {{"-q", "-f", damaged, "-t", "-o", "0", out, "-x", folder},
         "Entry 0 (cut) runs past the end of the archive.\n"
         "Exit Message: Tested 1 entries: 1 damaged.\n"
         "Exit Message: Read only 2 of 3 bytes of entry 0.\n"
         "Exit Message: Read only 2 of 3 bytes of entry 0.\n",
         1},
    };
    for (const Case& c : cases) {
        std::ostringstream progress;
        const RunResult result = runToolWith(c.arguments, false, &progress);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(progress.str(), ""); // no progress line either
    }
    EXPECT_EQ(readFile(fromUtf8(folder + "/second/file.bin")), "22");
}
