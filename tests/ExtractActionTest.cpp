#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

class ExtractActionTest : public ::testing::Test {
protected:
    // the path that messages show for an entry below `folder`
    static std::string shown(const std::string& folder, const std::string& relative)
    {
        std::string path = folder.ends_with(pathSeparator) ? folder : folder + pathSeparator;
        const std::size_t start = path.size();
        path += relative;
        std::replace(path.begin() + static_cast<std::ptrdiff_t>(start), path.end(), '/', pathSeparator);
        return path;
    }

    TempDir dir;
    std::string archive = dir / "a.tre";
    std::string out = dir / "new/deeper/out";
};

} // namespace

TEST_F(ExtractActionTest, ExtractsEveryEntryByItsNameInOrder)
{
    ArchiveWriter()
        .add("readme.txt", "R")
        .add("docs/a.txt", "AA")
        .add("docs/sub/empty.bin", "")
        .add("docs\\a.txt", "NEW") // the same path again: the later entry wins
        .add("./d//e.txt", "E")
        .writeTo(archive);
    const auto expected = [](const std::string& folder) {
        return reportLines("readme.txt", shown(folder, "readme.txt"), 1, 378) +
               reportLines("docs/a.txt", shown(folder, "docs/a.txt"), 2, 379) +
               reportLines("docs/sub/empty.bin", shown(folder, "docs/sub/empty.bin"), 0, 381) +
               reportLines("docs\\a.txt", shown(folder, "docs/a.txt"), 3, 381) +
               reportLines("./d//e.txt", shown(folder, "d/e.txt"), 1, 384) +
               "Extracted 5 of 5 entries (7 bytes) to folder (" + folder + ").\n";
    };
    // into a new folder, then over the tree it made (a folder given with a
    // separator at its end gets no second one)
    for (const std::string& folder : {out, out + pathSeparator}) {
        const RunResult result = runTool({"-f", archive, "-x", folder});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, expected(folder));
        EXPECT_EQ(readFile(fromUtf8(out + "/readme.txt")), "R");
        EXPECT_EQ(readFile(fromUtf8(out + "/docs/a.txt")), "NEW");
        EXPECT_EQ(readFile(fromUtf8(out + "/docs/sub/empty.bin")), "");
        EXPECT_EQ(readFile(fromUtf8(out + "/d/e.txt")), "E");
    }
}

// Nothing is written outside the folder, and nothing inside it is written
// through a link: such entries are skipped, and the run goes on.
TEST_F(ExtractActionTest, SkipsUnsafeNamesLinksAndTheArchiveItself)
{
    out = dir / "out";
    std::filesystem::create_directories(fromUtf8(out + "/folder"));
    writeFile(fromUtf8(out + "/file"), "a file");
    archive = out + "/a.tre";
    ArchiveWriter writer;
    writer.add("../evil", "x")
        .add("/abs", "x")
        .add("file/f", "x")
        .add("folder", "x")
        .add("a.tre", "x")
        .add("ok", "fine");
    const std::string outside = dir / "outside";
    std::filesystem::create_directories(fromUtf8(outside));
    writeFile(fromUtf8(outside + "/target.txt"), "target");
    std::error_code noLinks;
    std::filesystem::create_directory_symlink(fromUtf8(outside), fromUtf8(out + "/link"), noLinks);
    std::filesystem::create_symlink(fromUtf8(outside + "/target.txt"), fromUtf8(out + "/symlinked"), noLinks);
    std::filesystem::create_symlink(fromUtf8(archive), fromUtf8(out + "/to-archive"), noLinks);
    std::filesystem::create_hard_link(fromUtf8(outside + "/target.txt"), fromUtf8(out + "/hard"));
    writer.add("hard", "new hard");
    if (!noLinks) {
        writer.add("link/f", "x").add("symlinked", "new link").add("to-archive", "replaced");
    }
    writer.writeTo(archive);

    const RunResult result = runTool({"-f", archive, "-x", out});
    const int data = 8 + (noLinks ? 7 : 10) * 74; // where the entries' data starts
    const std::string expected =
        "Exit Message: Entry 0 has an unsafe name (../evil).\n"
        "Exit Message: Entry 1 has an unsafe name (/abs).\n" +
        reportLines("file/f", shown(out, "file/f"), 1, data + 2) + "Exit Message: Cannot write output file (" +
        shown(out, "file/f") + ")" + because(std::errc::not_a_directory) + ".\n" +
        reportLines("folder", shown(out, "folder"), 1, data + 3) + "Exit Message: Cannot write output file (" +
        shown(out, "folder") + ")" + because(std::errc::is_a_directory) + ".\n" +
        "Exit Message: Entry 4 would overwrite the archive (" + shown(out, "a.tre") + ").\n";
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.output.starts_with(expected)) << result.output;
    EXPECT_NE(result.output.find(reportLines("ok", shown(out, "ok"), 4, data + 5)), std::string::npos);
    EXPECT_EQ(readFile(fromUtf8(out + "/ok")), "fine");
    EXPECT_EQ(readFile(fromUtf8(out + "/hard")), "new hard");
    EXPECT_EQ(readFile(fromUtf8(outside + "/target.txt")), "target"); // neither link nor hard link written through
    EXPECT_FALSE(std::filesystem::exists(dir / "evil"));
    if (!noLinks) {
        EXPECT_NE(result.output.find("Exit Message: Entry 7 would be written through a link (" + shown(out, "link/f") +
                                     ").\n"),
                  std::string::npos);
        EXPECT_FALSE(std::filesystem::is_symlink(fromUtf8(out + "/symlinked")));
        EXPECT_EQ(readFile(fromUtf8(out + "/symlinked")), "new link");
        EXPECT_FALSE(std::filesystem::exists(fromUtf8(outside + "/f")));
        // a link at the entry's own path is replaced, even one that leads to the archive
        EXPECT_FALSE(std::filesystem::is_symlink(fromUtf8(out + "/to-archive")));
        EXPECT_EQ(readFile(fromUtf8(out + "/to-archive")), "replaced");
        EXPECT_EQ(readFile(fromUtf8(archive)).substr(0, 4), std::string("\x0a\0\0\0", 4));
    }
    const std::string counted =
        noLinks ? "Extracted 2 of 7 entries (12 bytes)" : "Extracted 4 of 10 entries (28 bytes)";
    EXPECT_NE(result.output.find(counted), std::string::npos) << result.output;
}

TEST_F(ExtractActionTest, DamagedEntriesAndAnUncreatableFolderAreReported)
{
    ArchiveWriter()
        .add(TestRecord{.name = "neg", .data = "abc", .size = -1})
        .add(TestRecord{.name = "short", .data = "ab", .size = 3})
        .writeTo(archive);
    const RunResult damaged = runTool({"-f", archive, "-x", out});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.output, reportLines("neg", shown(out, "neg"), -1, 156) +
                                  "Exit Message: Entry 0 has an invalid size (-1).\n" +
                                  reportLines("short", shown(out, "short"), 3, 159) +
                                  "Exit Message: Read only 2 of 3 bytes of entry 1.\n"
                                  "Extracted 0 of 2 entries (0 bytes) to folder (" +
                                  out + ").\n");
    EXPECT_EQ(readFile(fromUtf8(out + "/neg")), "");
    EXPECT_EQ(readFile(fromUtf8(out + "/short")), "ab");

    // a path that names no folder: a file, or nothing at all
    for (const auto& [folder, reason] : {std::pair{archive, std::errc::not_a_directory},
                                         std::pair{std::string(), std::errc::no_such_file_or_directory}}) {
        const RunResult notAFolder = runTool({"-f", archive, "-x", folder});
        EXPECT_EQ(notAFolder.status, 1);
        EXPECT_EQ(notAFolder.output, "Exit Message: Cannot create folder (" + folder + ")" + because(reason) +
                                         ".\nExtracted 0 of 2 entries (0 bytes) to folder (" + folder + ").\n");
    }
}

// Paths longer than the 260 characters that some systems stop at: the
// folder's name is long, the entries' names short, and every file is made
// below the folder it belongs in.
TEST_F(ExtractActionTest, PathsPastTheOldLengthLimitsAreExtracted)
{
    ArchiveWriter().add("a/b/c.txt", "deep").add("top.txt", "top").writeTo(archive);
    std::string folder = dir / "";
    for (int i = 0; i < 6; ++i) {
        folder += std::string(50, static_cast<char>('k' + i)) + pathSeparator;
    }
    const RunResult result = runTool({"-f", archive, "-x", folder, "-q"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(readFile(fromUtf8(folder + "a/b/c.txt")), "deep");
    EXPECT_EQ(readFile(fromUtf8(folder + "top.txt")), "top");
}

TEST_F(ExtractActionTest, PatternsSelectForListingsTestAndExtraction)
{
    ArchiveWriter().add("a.txt", "A").add("b.bin", "BB").add("c/d.txt", "").writeTo(archive);
    const RunResult result = runTool({"-f", archive, "-m", "*.txt", "-x", out, "-v", "-t", "-l", "-o", "1", dir / "o"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "0: a.txt (1 bytes at offset 230)\n"
                             "2: c/d.txt (0 bytes at offset 233)\n"
                             "Tested 2 entries: 0 damaged.\n" +
                                 reportLines("b.bin", dir / "o", 2, 231) +
                                 reportLines("a.txt", shown(out, "a.txt"), 1, 230) +
                                 reportLines("c/d.txt", shown(out, "c/d.txt"), 0, 233) +
                                 "Extracted 2 of 2 entries (1 bytes) to folder (" + out + ").\n");
    EXPECT_FALSE(std::filesystem::exists(fromUtf8(out + "/b.bin")));
    EXPECT_EQ(runTool({"-f", archive, "-m", "*.bin", "-l"}).output, "1: b.bin\n"); // -m alone is not -v

    const RunResult none = runTool({"-f", archive, "-m", "*.none", "-l", "-t"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "Exit Message: No entry matches (*.none).\nTested 0 entries: 0 damaged.\n");
    EXPECT_EQ(runTool({"-f", archive, "-m", "*.none", "-o", "0", dir / "o"}).status, 0); // -m does not apply to -o

    // a pattern as long as the longest name (a full field of 65 bytes) still matches it
    const std::string full(65, 'f');
    ArchiveWriter().add(full, "F").writeTo(archive);
    EXPECT_EQ(runTool({"-f", archive, "-m", full, "-l"}).output, "0: " + full + "\n");
    EXPECT_EQ(runTool({"-f", archive, "-m", full + "f", "-l"}).status, 1);
}

TEST_F(ExtractActionTest, ProgressIsDrawnOnTheTerminalAndErased)
{
    ArchiveWriter().add("a", "1").add("b", "22").writeTo(archive);
    std::ostringstream progress;
    const RunResult result = runToolWith({"-f", archive, "-x", out}, false, &progress);
    EXPECT_EQ(result.status, 0);
    const std::string drawn = progress.str();
    EXPECT_TRUE(drawn.starts_with("\rExtracting: 1 entries, 1 bytes")) << drawn;
    EXPECT_TRUE(drawn.ends_with(std::string(30, ' ') + "\r")) << drawn; // erased at the end
    EXPECT_EQ(runToolWith({"-f", archive, "-l"}, false, &progress).status, 0);
    EXPECT_EQ(progress.str(), drawn); // only -x draws

    // with standard output on the same terminal, the lines between the
    // draws do not lift the limit of ten a second
    std::ostringstream sameTerminal;
    EXPECT_EQ(runToolWith({"-f", archive, "-x", out}, true, &sameTerminal).status, 0);
    EXPECT_EQ(sameTerminal.str().find("Extracting", 2), std::string::npos) << sameTerminal.str();
}

// Windows' own unsafe classes apply where the tool runs on Windows.
TEST_F(ExtractActionTest, WindowsOnlyUnsafeNamesFollowThePlatform)
{
    ArchiveWriter().add("aux.txt", "1").add("pipe|name", "2").add("trailing.", "3").writeTo(archive);
    const RunResult result = runTool({"-f", archive, "-x", out});
#if defined(_WIN32)
    EXPECT_EQ(result.output, "Exit Message: Entry 0 has an unsafe name (aux.txt).\n"
                             "Exit Message: Entry 1 has an unsafe name (pipe|name).\n"
                             "Exit Message: Entry 2 has an unsafe name (trailing.).\n"
                             "Extracted 0 of 3 entries (0 bytes) to folder (" +
                                 out + ").\n");
#else
    EXPECT_TRUE(result.output.ends_with("Extracted 3 of 3 entries (3 bytes) to folder (" + out + ").\n"));
    EXPECT_EQ(readFile(fromUtf8(out + "/pipe|name")), "2");
#endif
}

TEST_F(ExtractActionTest, FolderGivenAsALinkIsUsedAndNamesAreTerminalSafe)
{
    ArchiveWriter().add("del\x7f.txt", "1").writeTo(archive); // a control byte Windows allows in names
    std::string folder = dir / "real";
    std::filesystem::create_directories(fromUtf8(folder));
    std::error_code noLinks;
    std::filesystem::create_directory_symlink(fromUtf8(folder), fromUtf8(dir / "linked"), noLinks);
    if (!noLinks) {
        folder = dir / "linked"; // the user chose it
    }
    const RunResult result = runTool({"-f", archive, "-x", folder}, true);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, reportLines("del?.txt", shown(folder, "del?.txt"), 1, 82) +
                                 "Extracted 1 of 1 entries (1 bytes) to folder (" + folder + ").\n");
    EXPECT_EQ(readFile(fromUtf8(dir / "real/del\x7f.txt")), "1");
}
