#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "cli/CheckAction.h"
#include "cli/CopyAction.h"
#include "cli/ExtractAction.h"
#include "cli/ListAction.h"
#include "cli/Selection.h"

namespace {

class ListActionTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string list = dir / "list.txt";
};

} // namespace

TEST_F(ListActionTest, ConsoleAndFileGetTheSameNumberedLines)
{
    const std::string rawName = "caf\xc3\xa9\\dir/\x01name";
    ArchiveWriter().add("a.txt", "A").add(rawName, "").add("z/b.bin", "BB").writeTo(archive);
    writeFile(list, "old content that is longer than the listing itself, to be replaced\n");

    const RunResult result = runTool({"-lf", list, "-l", "-f", archive});
    const std::string expected = "0: a.txt\n1: " + rawName + "\n2: z/b.bin\n";
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(readFile(list), asText(expected));
}

TEST_F(ListActionTest, EmptyDirectoryListsNothingAndLeavesAnEmptyFile)
{
    ArchiveWriter().writeTo(archive);
    writeFile(list, "stale");
    const RunResult result = runTool({"-f", archive, "-l", "-lf", list});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(readFile(list), "");
}

TEST_F(ListActionTest, ListFileThatCannotBeWrittenIsReportedAndExtractionGoesOn)
{
    ArchiveWriter().add("a.txt", "A").writeTo(archive);
    const std::string out = dir / "out.bin";
    std::vector<std::pair<std::string, std::string>> unwritable{
        {dir / "missing/list.txt", because(std::errc::no_such_file_or_directory)},
        {dir.path().string(), because(std::errc::is_a_directory)}};
    if (std::filesystem::exists("/dev/full")) {
        unwritable.emplace_back("/dev/full", because(std::errc::no_space_on_device));
    }
    for (const auto& [bad, reason] : unwritable) {
        SCOPED_TRACE(bad);
        const RunResult result = runTool({"-f", archive, "-o", "0", out, "-lf", bad, "-l"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "0: a.txt\n"
                                 "Exit Message: Cannot write list file (" +
                                     bad + ")" + reason +
                                     ".\n"
                                     "Outputting file (a.txt) to file (" +
                                     out +
                                     ").\n"
                                     "Filesize is 1, and file offset is 82.\n");
        EXPECT_EQ(readFile(out), "A");
    }
}

TEST_F(ListActionTest, ListFileNamingTheArchiveReplacesIt)
{
    ArchiveWriter().add("a.txt", "A").writeTo(archive);
    const RunResult result = runTool({"-f", archive, "-lf", archive});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(archive), asText("0: a.txt\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // no file left behind
}

// Records that can no longer be read (the file shrank after it was opened)
// end every walk there, with a message after the lines already written.
TEST_F(ListActionTest, ArchiveThatShrinksAfterOpeningStopsEveryWalk)
{
    ArchiveWriter().add("a", "1").add("b", "2").add("c", "3").writeTo(archive);
    const tre::Archive opened = std::move(tre::Archive::open(fromUtf8(archive)).value());
    std::filesystem::resize_file(archive, 8 + 74 + 30);
    const std::string shortRead = "Exit Message: Read only 1 of 3 directory records.\n";
    const std::string out = dir / "out";
    const String listPath(list.c_str());
    const String outPath(out.c_str());
    const Selection all;
    struct Case {
        std::function<void(Report&)> action;
        std::string output;
    };
    std::ostringstream json;
    const std::vector<Case> cases{
        {[&](Report& report) { listToConsole(report, opened, all, {}); }, "0: a\n" + shortRead},
        {[&](Report& report) {
             listToConsole(report, opened, all, {.json = true}, {&json, false});
         },
         shortRead},
        {[&](Report& report) { listToFile(report, opened, listPath, all, {}); }, shortRead},
        {[&](Report& report) { checkArchive(report, opened, all); },
         shortRead + "Exit Message: Tested 1 entries: 0 damaged.\n"},
        {[&](Report& report) { copyEntry(report, opened, 2, listPath); },
         "Exit Message: Cannot read the directory record of entry 2.\n"},
        {[&](Report& report) {
             ProgressLine noProgress(nullptr);
             extractToFolder(report, opened, outPath, all, noProgress);
         },
         reportLines("a", out + pathSeparator + "a", 1, 230) + "Exit Message: Read only 0 of 1 bytes of entry 0.\n" +
             shortRead + "Extracted 0 of 1 entries (0 bytes) to folder (" + out + ").\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream output;
        Report report(output, {});
        c.action(report);
        EXPECT_EQ(output.str(), c.output);
        EXPECT_TRUE(report.failed());
    }
    EXPECT_EQ(readFile(list), asText("0: a\n"));
    // -m finds no match among the records it could read: not "No entry
    // matches", since nobody knows what the others hold
    for (const auto& [pattern, found] : {std::pair{"c", false}, std::pair{"a", true}}) {
        Selection selection(pattern);
        EXPECT_EQ(selection.findFirst(opened), found) << pattern;
        EXPECT_EQ(selection.cutShort(), !found) << pattern;
    }
}
