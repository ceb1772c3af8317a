#include <gtest/gtest.h>

#include <sstream>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "cli/Extraction.h"
#include "cli/FolderExtraction.h"
#include "cli/Listing.h"

namespace {

class ListingTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string list = dir / "list.txt";
};

} // namespace

TEST_F(ListingTest, ConsoleAndFileGetTheSameNumberedLines)
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

TEST_F(ListingTest, EmptyDirectoryListsNothingAndLeavesAnEmptyFile)
{
    ArchiveWriter().writeTo(archive);
    writeFile(list, "stale");
    const RunResult result = runTool({"-f", archive, "-l", "-lf", list});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(readFile(list), "");
}

TEST_F(ListingTest, ListFileThatCannotBeWrittenIsReportedAndExtractionGoesOn)
{
    ArchiveWriter().add("a.txt", "A").writeTo(archive);
    const std::string out = dir / "out.bin";
    std::vector<std::string> unwritable{dir / "missing/list.txt", dir.path().string()};
    if (std::filesystem::exists("/dev/full")) {
        unwritable.emplace_back("/dev/full");
    }
    for (const std::string& bad : unwritable) {
        SCOPED_TRACE(bad);
        const RunResult result = runTool({"-f", archive, "-o", "0", out, "-lf", bad, "-l"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output, "0: a.txt\n"
                                 "Exit Message: Cannot write list file (" +
                                     bad +
                                     ").\n"
                                     "Outputting file (a.txt) to file (" +
                                     out +
                                     ").\n"
                                     "Filesize is 1, and file offset is 82.\n");
        EXPECT_EQ(readFile(out), "A");
    }
}

TEST_F(ListingTest, ListFileNamingTheArchiveReplacesIt)
{
    ArchiveWriter().add("a.txt", "A").writeTo(archive);
    const RunResult result = runTool({"-f", archive, "-lf", archive});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(archive), asText("0: a.txt\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // no file left behind
}

// Records that can no longer be read (the file shrank after loading) end the
// listing there, with a message after the lines already written.
TEST_F(ListingTest, ArchiveThatShrinksAfterLoadingStopsTheListing)
{
    ArchiveWriter().add("a", "1").add("b", "2").add("c", "3").writeTo(archive);
    TreArchive loaded;
    ASSERT_EQ(loaded.load(String(archive.c_str())), TreArchive::LoadResult::loaded);
    std::filesystem::resize_file(archive, 8 + 74 + 30);
    const std::string shortRead = "Exit Message: Read only 1 of 3 directory records.\n";

    std::ostringstream console;
    EXPECT_FALSE(listToConsole(console, loaded, ListingStyle{}));
    EXPECT_EQ(console.str(), "0: a\n" + shortRead);

    std::ostringstream messages;
    EXPECT_FALSE(listToFile(messages, loaded, String(list.c_str()), ListingStyle{}));
    EXPECT_EQ(messages.str(), shortRead);
    EXPECT_EQ(readFile(list), asText("0: a\n"));

    std::ostringstream extraction;
    EXPECT_FALSE(extractEntry(extraction, loaded, 2, String(list.c_str())));
    EXPECT_EQ(extraction.str(), "Exit Message: Cannot read the directory record of entry 2.\n");

    std::ostringstream folder;
    ProgressLine noProgress(nullptr);
    const std::string out = dir / "out";
    EXPECT_FALSE(extractToFolder(folder, loaded, String(out.c_str()), Selection(), false, noProgress));
    EXPECT_TRUE(folder.str().ends_with(shortRead + "Extracted 0 of 1 entries (0 bytes) to folder (" + out + ").\n"))
        << folder.str();
}
