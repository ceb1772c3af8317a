#include <gtest/gtest.h>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

class CheckActionTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir / "a.tre";
};

} // namespace

TEST_F(CheckActionTest, ReportsEveryFault)
{
    struct Case {
        std::string bytes;
        std::string output;
    };
    const std::vector<Case> cases{
        {ArchiveWriter().add("ok", "data").add("empty", "").bytes(), "Tested 2 entries: 0 damaged.\n"},
        {"", "Tested 0 entries: 0 damaged.\n"},
        {ArchiveWriter().bytes(), "Tested 0 entries: 0 damaged.\n"},                         // a header alone is whole
        {ArchiveWriter().add(TestRecord{.name = "at zero", .offset = 0, .size = 8}).bytes(), // data may lie anywhere
         "Tested 1 entries: 0 damaged.\n"},
        {"abc", "The archive ends inside its header (3 bytes).\nExit Message: Tested 0 entries: 0 damaged.\n"},
        {ArchiveWriter().claimCount(-2).add("x", "").bytes(),
         "The header's entry count is negative (-2).\nExit Message: Tested 0 entries: 0 damaged.\n"},
        {ArchiveWriter().claimCount(3).add("only", "").bytes(),
         "The directory lists 3 entries, but the archive holds only 1.\n"
         "Exit Message: Tested 1 entries: 0 damaged.\n"},
        {ArchiveWriter()
             .add(TestRecord{.name = "neg\x1b", .data = "a", .size = -5})
             .add(TestRecord{.name = "off", .data = "a", .offset = -1})
             .add(TestRecord{.name = "zero", .offset = -7, .size = 0})
             .add(TestRecord{.name = "whole", .data = "z"})
             .add(TestRecord{.name = "past", .data = "abc", .size = 4})
             .bytes(),
         "Entry 0 (neg\x1b) has an invalid size (-5).\n"
         "Entry 1 (off) has an invalid offset (-1).\n"
         "Entry 4 (past) runs past the end of the archive.\n"
         "Exit Message: Tested 5 entries: 3 damaged.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        writeFile(archive, c.bytes);
        const RunResult result = runTool({"-f", archive, "-t"});
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.status, c.output.starts_with("Tested") ? 0 : 1);
    }
    EXPECT_EQ(runTool({"-f", archive, "-t"}, true).output.substr(0, 13), "Entry 0 (neg?");
}
