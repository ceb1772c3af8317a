// Runs the real tretool executable: exit status, standard output, and
// nothing at all on standard error. TRETOOL_WRAPPER, when set, is put in
// front of the command (valgrind, for instance).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"

namespace {

struct ProcessResult {
    int status;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& argument) { return "\"" + argument + "\""; }

class EndToEndTest : public ::testing::Test {
protected:
    ProcessResult run(const std::vector<std::string>& arguments, const std::string& prefix = "")
    {
        std::string command = prefix;
        if (const char* wrapper = std::getenv("TRETOOL_WRAPPER")) {
            command += std::string(wrapper) + " ";
        }
        command += quoted(TRETOOL_EXECUTABLE);
        for (const std::string& argument : arguments) {
            command += " " + quoted(argument);
        }
        const std::string outPath = dir / "stdout.txt";
        const std::string errPath = dir / "stderr.txt";
        command += " >" + quoted(outPath) + " 2>" + quoted(errPath);
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
