#include <gtest/gtest.h>

#include <limits>

#include <sstream>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "cli/CopyAction.h"
#include "cli/Report.h"

namespace {

class CopyActionTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string out = dir / "out.bin";
};

} // namespace

TEST_F(CopyActionTest, EveryEntryMatchesItsByteRangeInTheArchive)
{
    ArchiveWriter()
        .add("zero", "")
        .add("text.txt", "line\nline\r\n")
        .add("bin/ctrl.bin", std::string("\0\x1a\r\n\xff", 5))
        .add("dir/x", std::string(70000, 'x'))
        .add("last", "end")
        .writeTo(archive);
    const std::string bytes = readFile(archive);
    const std::vector<std::pair<std::string, std::size_t>> entries{
        {"zero", 0}, {"text.txt", 11}, {"bin/ctrl.bin", 5}, {"dir/x", 70000}, {"last", 3}};
    std::size_t offset = 8 + 5 * 74;
    for (std::size_t n = 0; n < entries.size(); ++n) {
        SCOPED_TRACE(n);
        writeFile(out, "previous content, longer than some entries");
        const RunResult result = runTool({"-f", archive, "-o", std::to_string(n), out});
        const auto& [name, size] = entries[n];
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, reportLines(name, out, static_cast<long long>(size), static_cast<long long>(offset)));
        EXPECT_EQ(readFile(out), bytes.substr(offset, size));
        offset += size;
    }
}

TEST_F(CopyActionTest, NumbersOutOfRangeCreateNoFile)
{
    ArchiveWriter().add("a", "1").add("b", "2").add("c", "3").add("d", "4").add("e", "5").writeTo(archive);
    for (const char* number : {"5", "-1", "2147483647"}) {
        const RunResult result = runTool({"-f", archive, "-o", number, out});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, "Invalid TRE_Filenum.\n");
    }
    ArchiveWriter().writeTo(archive);
    EXPECT_EQ(runTool({"-f", archive, "-o", "0", out}).output, "Invalid TRE_Filenum.\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

// An output or list file that names the archive replaces the file at that
// name, while the loaded archive, held open, still serves later actions.
TEST_F(CopyActionTest, OutputsNamingTheArchiveReplaceItWhileTheLoadedBytesStayReadable)
{
    const std::string entry(3 << 20, 'e'); // larger than one copy chunk
    const std::string original = ArchiveWriter().add("a", "first").add("b", entry).bytes();

    writeFile(archive, original);
    const RunResult listed = runTool({"-f", archive, "-lf", archive, "-o", "1", out});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(readFile(archive), asText("0: a\n1: b\n"));
    EXPECT_EQ(readFile(out), entry);

    std::vector<std::string> spellings{archive, dir / "./a.tre"};
    const std::string link = dir / "link.tre";
    std::error_code noLinks;
    std::filesystem::create_symlink(archive, link, noLinks);
    if (!noLinks) {
        spellings.push_back(link);
    }
    for (const std::string& output : spellings) {
        SCOPED_TRACE(output);
        writeFile(archive, original);
        EXPECT_EQ(runTool({"-f", archive, "-o", "1", output}).status, 0);
        EXPECT_EQ(readFile(archive), entry);
    }
    EXPECT_TRUE(noLinks || std::filesystem::is_symlink(link)); // written through, still a link

    // a second hard link is a name of its own: it gets the entry, the archive's name keeps the archive
    writeFile(archive, original);
    const std::string hard = dir / "hard.tre";
    std::filesystem::create_hard_link(archive, hard);
    EXPECT_EQ(runTool({"-f", archive, "-o", "1", hard}).status, 0);
    EXPECT_EQ(readFile(hard), entry);
    EXPECT_EQ(readFile(archive), original);
}

TEST_F(CopyActionTest, EntriesOfSeveralChunksAreCopiedWholeOrAsFarAsTheyGo)
{
    std::string data((3 << 20) / 2, '\0'); // one and a half copy chunks, with other data behind it
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 % 251);
    }
    const std::string next = "next entry's data";
    const auto size = static_cast<std::int32_t>(data.size() + next.size());
    ArchiveWriter()
        .add("whole", data)
        .add("next", next)
        .add(TestRecord{.name = "cut", .offset = 8 + 3 * 74, .size = size + 1})
        .writeTo(archive);

    EXPECT_EQ(runTool({"-f", archive, "-o", "0", out}).status, 0);
    EXPECT_EQ(readFile(out), data);

    const RunResult cut = runTool({"-f", archive, "-o", "2", out});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.output, reportLines("cut", out, size + 1, 8 + 3 * 74) + "Exit Message: Read only " +
                              std::to_string(size) + " of " + std::to_string(size + 1) + " bytes of entry 2.\n");
    EXPECT_EQ(readFile(out), data + next);
}

TEST_F(CopyActionTest, ReportShowsSignedFiguresAndShortReadsAreReported)
{
    constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
    struct Case {
        TestRecord record;
        std::string expectedData;
        std::string message;
    };
    const std::vector<Case> cases{
        {{.name = "neg", .data = "abc", .size = min}, "", "Exit Message: Entry 0 has an invalid size (-2147483648).\n"},
        {{.name = "neg", .data = "abc", .size = -1}, "", "Exit Message: Entry 0 has an invalid size (-1).\n"},
        {{.name = "far", .data = "abc", .offset = 100000}, "", "Exit Message: Read only 0 of 3 bytes of entry 0.\n"},
        {{.name = "neg", .data = "abc", .offset = min}, "", "Exit Message: Read only 0 of 3 bytes of entry 0.\n"},
        {{.name = "long", .data = "abc", .size = 4}, "abc", "Exit Message: Read only 3 of 4 bytes of entry 0.\n"},
        {{.name = "huge", .data = "abc", .size = 0x7fffffff},
         "abc",
         "Exit Message: Read only 3 of 2147483647 bytes of entry 0.\n"},
        {{.name = "exact", .data = "abc"}, "abc", ""},
        {{.name = "empty", .offset = -5, .size = 0}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const TestRecord& record = c.record;
        ArchiveWriter().add(record).writeTo(archive);
        writeFile(out, "stale");
        const RunResult result = runTool({"-f", archive, "-o", "0", out});
        const auto size = record.size.value_or(static_cast<std::int32_t>(record.data.size()));
        const auto offset = record.offset.value_or(8 + 74);
        EXPECT_EQ(result.output, reportLines(record.name, out, size, offset) + c.message);
        EXPECT_EQ(result.status, c.message.empty() ? 0 : 1);
        EXPECT_EQ(readFile(out), c.expectedData);
    }
}

TEST_F(CopyActionTest, OutputThatCannotBeWrittenIsReportedOnce)
{
    ArchiveWriter().add("ok", "data").add(TestRecord{.name = "short", .data = "x", .size = 9}).writeTo(archive);
    std::vector<std::pair<std::string, std::string>> unwritable{
        {dir / "missing/out.bin", because(std::errc::no_such_file_or_directory)},
        {dir.path().string(), because(std::errc::is_a_directory)},
        {std::string(301, 'n'), because(std::errc::filename_too_long)}};
    if (std::filesystem::exists("/dev/full")) {
        unwritable.emplace_back("/dev/full", because(std::errc::no_space_on_device));
    }
    for (const auto& [bad, reason] : unwritable) {
        for (const char* number : {"0", "1"}) {
            SCOPED_TRACE(bad + " entry " + number);
            const RunResult result = runTool({"-f", archive, "-o", number, bad});
            EXPECT_EQ(result.status, 1);
            const std::string expectedReport =
                number[0] == '0' ? reportLines("ok", bad, 4, 156) : reportLines("short", bad, 9, 160);
            EXPECT_EQ(result.output,
                      expectedReport + "Exit Message: Cannot write output file (" + bad + ")" + reason + ".\n");
        }
    }
}

TEST_F(CopyActionTest, ActionsRunInFixedOrderWhateverTheFlagOrder)
{
    ArchiveWriter().add("a.txt", "A").add("b.txt", "B").writeTo(archive);
    const std::string list = dir / "list.txt";
    const RunResult result = runTool({"-o", "1", out, "-lf", list, "-l", "-f", archive});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "0: a.txt\n1: b.txt\n" + reportLines("b.txt", out, 1, 157));
    EXPECT_EQ(readFile(list), asText("0: a.txt\n1: b.txt\n"));
    EXPECT_EQ(readFile(out), "B");
}

// The copy follows the stored size, not what the file held when it was
// loaded: an archive that grows meanwhile is copied whole, in large chunks.
TEST_F(CopyActionTest, ArchiveThatGrowsAfterLoadingIsCopiedWhole)
{
    const std::string data((5 << 20) / 2, 'g');
    ArchiveWriter()
        .add(TestRecord{.name = "grows", .data = "0123456789abcdef", .size = 16 + 5 * (1 << 19)})
        .writeTo(archive);
    const tre::Archive opened = std::move(tre::Archive::open(fromUtf8(archive)).value());
    writeFile(archive, readFile(archive) + data);
    std::ostringstream output;
    Report report(output, {});
    copyEntry(report, opened, 0, String(out.c_str()));
    EXPECT_FALSE(report.failed()) << output.str();
    EXPECT_EQ(readFile(out), "0123456789abcdef" + data);
}

// A read that fails, not at the end of the file, gives its reason; a write
// that fails gives its own first.
TEST(CopyReport, FailuresGiveTheirReasons)
{
    tre::Entry entry;
    entry.number = 4;
    entry.size = 3;
    struct Case {
        Copied copy;
        std::string output;
    };
    const std::error_code io = std::make_error_code(std::errc::io_error);
    const std::error_code full = std::make_error_code(std::errc::no_space_on_device);
    const std::vector<Case> cases{
        {{2, tre::Error{tre::Step::readArchive, io}},
         "Exit Message: Read only 2 of 3 bytes of entry 4: " + io.message() + ".\n"},
        {{2, std::nullopt}, "Exit Message: Read only 2 of 3 bytes of entry 4.\n"},
        {{1, tre::Error{tre::Step::writeFile, full}},
         "Exit Message: Cannot write output file (out): " + full.message() + ".\n"},
        {{3, tre::Error{tre::Step::closeFile, io}},
         "Exit Message: Cannot write output file (out): " + io.message() + ".\n"},
        {{3, std::nullopt}, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream output;
        Report report(output, {});
        EXPECT_EQ(reportCopyResult(report, entry, c.copy, "out"), c.output.empty());
        EXPECT_EQ(output.str(), c.output);
    }
}
