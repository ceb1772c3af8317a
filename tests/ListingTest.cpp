#include <gtest/gtest.h>

#include "ArchiveWriter.h"
#include "TestSupport.h"

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
}
