#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <limits>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "archive/TreArchive.h"

namespace {

constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();

std::string readWhole(const TreArchive& archive, std::int32_t entryNumber)
{
    const auto bound = std::clamp<std::int64_t>(archive.entrySize(entryNumber), 0, archive.fileSize());
    std::string data(static_cast<std::size_t>(bound), '\0');
    data.resize(static_cast<std::size_t>(archive.readEntry(entryNumber, data)));
    return data;
}

class TreArchiveTest : public ::testing::Test {
protected:
    TreArchive::LoadResult loadBytes(const std::string& bytes)
    {
        writeFile(path, bytes);
        return archive.load(String(path.c_str()));
    }

    TempDir dir;
    std::string path = dir / "archive.tre";
    TreArchive archive;
};

} // namespace

TEST_F(TreArchiveTest, ReadsNamesOffsetsSizesAndData)
{
    const std::string longName(64, 'n');
    ArchiveWriter writer;
    writer.headerWord(77)
        .add(TestRecord{.name = "a", .data = "first", .nameFill = 'X', .prefixByte = 0xA5})
        .add(TestRecord{.name = longName, .data = std::string("\0\r\n\x1a", 4), .nameFill = 'Y'})
        .add("dir/sub/empty.bin", "");
    ASSERT_EQ(loadBytes(writer.bytes()), TreArchive::LoadResult::loaded);

    ASSERT_EQ(archive.entryCount(), 3);
    EXPECT_EQ(archive.headerWord(), 77);
    EXPECT_STREQ(archive.entryName(0).c_str(), "a");
    EXPECT_EQ(archive.entryName(1).length(), 64);
    EXPECT_STREQ(archive.entryName(2).c_str(), "dir/sub/empty.bin");
    EXPECT_EQ(archive.entryOffset(0), 8 + 3 * 74);
    EXPECT_EQ(archive.entryOffset(1), 8 + 3 * 74 + 5);
    EXPECT_EQ(archive.entrySize(1), 4);
    EXPECT_EQ(readWhole(archive, 0), "first");
    EXPECT_EQ(readWhole(archive, 1), std::string("\0\r\n\x1a", 4));
    EXPECT_EQ(readWhole(archive, 2), "");

    const TreEntry record = archive.entry(0).value();
    EXPECT_EQ(record.prefixByte, 0xA5);
    EXPECT_EQ(std::string(record.name.data(), 4), std::string("a\0XX", 4));
    EXPECT_EQ(record.offset, archive.entryOffset(0));
    EXPECT_EQ(record.size, 5);
}

TEST_F(TreArchiveTest, SignedFieldsWithTheTopBitSetComeBackUnchanged)
{
    ArchiveWriter writer;
    writer.add(TestRecord{.name = "x", .offset = int32Min, .size = -2});
    writer.add(TestRecord{.name = "y", .offset = -1, .size = int32Min + 5});
    ASSERT_EQ(loadBytes(writer.bytes()), TreArchive::LoadResult::loaded);
    EXPECT_EQ(archive.entryOffset(0), int32Min);
    EXPECT_EQ(archive.entrySize(0), -2);
    EXPECT_EQ(archive.entryOffset(1), -1);
    EXPECT_EQ(archive.entrySize(1), int32Min + 5);
}

TEST_F(TreArchiveTest, NameFillingItsWholeFieldIsTakenWhole)
{
    std::string bytes = ArchiveWriter().add("placeholder", "").bytes();
    bytes.replace(8 + 1, 65, std::string(65, 'Z'));
    ASSERT_EQ(loadBytes(bytes), TreArchive::LoadResult::loaded);
    EXPECT_EQ(std::string(archive.entryName(0).c_str()), std::string(65, 'Z'));
}

TEST_F(TreArchiveTest, CountOfZeroOrLessIsAnEmptyDirectory)
{
    for (const std::int32_t count : {0, -1, int32Min}) {
        SCOPED_TRACE(count);
        ASSERT_EQ(loadBytes(ArchiveWriter().claimCount(count).headerWord(5).add("a", "data").bytes()),
                  TreArchive::LoadResult::loaded);
        EXPECT_EQ(archive.entryCount(), 0);
        EXPECT_EQ(archive.headerWord(), 5);
    }
}

TEST_F(TreArchiveTest, MissingFileIsCreatedEmptyAndLoadsEmptyTwice)
{
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(archive.load(String(path.c_str())), TreArchive::LoadResult::loaded);
        EXPECT_EQ(archive.entryCount(), 0);
        EXPECT_EQ(archive.headerWord(), 8);
        ASSERT_TRUE(std::filesystem::is_regular_file(path));
        EXPECT_EQ(std::filesystem::file_size(path), 0U);
    }
}

TEST_F(TreArchiveTest, ReadOnlyArchiveLoads)
{
    writeFile(path, ArchiveWriter().add("kept", "bytes").bytes());
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    ASSERT_EQ(archive.load(String(path.c_str())), TreArchive::LoadResult::loaded);
    EXPECT_EQ(archive.entryCount(), 1);
    EXPECT_EQ(readWhole(archive, 0), "bytes");

    // root may write to the file above anyway; nobody may open this one for writing
    if (std::filesystem::exists("/proc/version")) {
        EXPECT_EQ(archive.load(String("/proc/version")), TreArchive::LoadResult::loaded);
    }
}

TEST_F(TreArchiveTest, PathsThatCanNeitherBeOpenedNorCreatedFail)
{
    for (const std::string& bad : {dir.path().string(), dir / "no-such-folder/a.tre", std::string()}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(archive.load(String(bad.c_str())), TreArchive::LoadResult::cannotOpen);
        EXPECT_EQ(archive.entryCount(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

// Cut a valid archive at every length: loading must never fail or invent
// records, and must keep exactly the complete records present.
TEST_F(TreArchiveTest, TruncatedAtEveryLengthKeepsCompleteRecordsOnly)
{
    const std::string whole = ArchiveWriter().headerWord(3).add("one", "1").add("two", "22").add("three", "").bytes();
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        ASSERT_EQ(loadBytes(whole.substr(0, length)), TreArchive::LoadResult::loaded);
        const auto expectedRecords = length < 8 ? 0 : std::min<std::size_t>(3, (length - 8) / 74);
        ASSERT_EQ(archive.entryCount(), static_cast<std::int32_t>(expectedRecords));
        EXPECT_EQ(archive.headerWord(), length < 8 ? 8 : 3);
        for (std::int32_t i = 0; i < archive.entryCount(); ++i) {
            EXPECT_EQ(archive.entrySize(i), i == 2 ? 0 : i + 1);
            const std::string data = readWhole(archive, i);
            EXPECT_LE(data.size(), static_cast<std::size_t>(archive.entrySize(i)));
            EXPECT_EQ(data, whole.substr(static_cast<std::size_t>(archive.entryOffset(i)), data.size()));
        }
    }
}

TEST_F(TreArchiveTest, HugeCountIsBoundedByTheFileSize)
{
    ASSERT_EQ(loadBytes(ArchiveWriter().claimCount(std::numeric_limits<std::int32_t>::max()).add("only", "x").bytes()),
              TreArchive::LoadResult::loaded);
    EXPECT_EQ(archive.entryCount(), 1);
    EXPECT_STREQ(archive.entryName(0).c_str(), "only");
}

TEST_F(TreArchiveTest, ReadsStopAtTheEndOfTheFile)
{
    const std::string head = ArchiveWriter().add(TestRecord{.name = "x"}).bytes();
    const auto fileSize = static_cast<std::int32_t>(head.size() + 10);
    struct Case {
        std::int32_t offset;
        std::int32_t size;
        std::int32_t available;
    };
    const std::vector<Case> cases{
        {fileSize - 10, 10, 10}, // up to exactly the end
        {fileSize - 10, 11, 10}, // one byte more
        {fileSize, 5, 0},        // starts at the end
        {fileSize + 100, 5, 0},  // starts past it
        {-4, 5, 0},              // negative offset
        {fileSize - 3, -1, 0},   // negative size
        {fileSize - 10, 0, 0},   // empty entry
        {0, std::numeric_limits<std::int32_t>::max(), fileSize},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.size);
        std::string bytes = ArchiveWriter().add(TestRecord{.name = "x", .offset = c.offset, .size = c.size}).bytes();
        bytes += "0123456789";
        ASSERT_EQ(loadBytes(bytes), TreArchive::LoadResult::loaded);
        // a larger buffer than available must still never receive more than is there
        std::string buffer(static_cast<std::size_t>(c.available) + 16, '#');
        const std::int32_t got = archive.readEntry(0, buffer);
        EXPECT_EQ(got, c.available);
        EXPECT_EQ(buffer.substr(static_cast<std::size_t>(got)), std::string(16, '#'));
    }
}

TEST_F(TreArchiveTest, ReadEntryNeverWritesPastTheBuffer)
{
    ASSERT_EQ(loadBytes(ArchiveWriter().add("x", "abcdef").bytes()), TreArchive::LoadResult::loaded);
    std::array<char, 6> buffer{'.', '.', '.', '.', '.', '.'};
    EXPECT_EQ(archive.readEntry(0, std::span(buffer).first(3)), 3);
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), "abc...");
}

// The archive is held open from load on: whatever happens to its path, reads
// serve the file that was loaded, and nothing is created at the path again.
TEST_F(TreArchiveTest, HeldFileServesTheLoadedBytesWhateverHappensToThePath)
{
    const std::string data = "0123456789abcdef";
    const std::string whole = ArchiveWriter().add("only", data).bytes();
    const std::string other = dir / "other.tre";
    struct Case {
        const char* what;
        std::function<void()> change;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"moved away and replaced",
         [&] {
             std::filesystem::rename(path, other);
             writeFile(path, ArchiveWriter().add("new", "XXXXXXXXXXXXXXXX").bytes());
         },
         data},
        {"truncated inside the entry", [&] { std::filesystem::resize_file(path, whole.size() - 6); }, "0123456789"},
        {"deleted", [&] { std::filesystem::remove(path); }, data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(loadBytes(whole), TreArchive::LoadResult::loaded);
        c.change();
        EXPECT_STREQ(archive.entryName(0).c_str(), "only");
        EXPECT_EQ(readWhole(archive, 0), c.expected);
    }
#if !defined(_WIN32)
    // (Windows keeps a deleted file's name until its last handle closes)
    EXPECT_FALSE(std::filesystem::exists(path));
#endif
}

TEST_F(TreArchiveTest, RecordsCutOffAfterLoadingAreReportedMissing)
{
    ASSERT_EQ(loadBytes(ArchiveWriter().add("a", "1").add("b", "2").bytes()), TreArchive::LoadResult::loaded);
    std::filesystem::resize_file(path, 8 + 74 + 10);
    EXPECT_TRUE(archive.entry(0).has_value());
    EXPECT_FALSE(archive.entry(1).has_value());
    EXPECT_EQ(archive.entryName(1).length(), 0);
    EXPECT_EQ(archive.entrySize(1), 0);
    EXPECT_FALSE(archive.entry(2).has_value());
    EXPECT_FALSE(archive.entry(-1).has_value());
    std::array<char, 4> buffer{};
    EXPECT_EQ(archive.readEntry(1, buffer), 0);
    EXPECT_EQ(archive.readEntry(0, buffer, 1), 0); // past the entry's one byte
}

// Large directories are read in windows of many records: every record must
// come out right, walked in order across window edges or looked up at random.
TEST_F(TreArchiveTest, RecordsReadInAnyOrderAcrossReadWindows)
{
    constexpr std::int32_t entries = 30000;
    ArchiveWriter writer;
    for (std::int32_t i = 0; i < entries; ++i) {
        writer.add(TestRecord{.name = "e" + std::to_string(i), .offset = i, .size = i % 7});
    }
    ASSERT_EQ(loadBytes(writer.bytes()), TreArchive::LoadResult::loaded);
    ASSERT_EQ(archive.entryCount(), entries);
    std::int32_t wrong = 0;
    for (std::int32_t i = 0; i < entries; ++i) {
        const std::optional<TreEntry> entry = archive.entry(i);
        wrong +=
            entry && entry->nameText() == "e" + std::to_string(i) && entry->offset == i && entry->size == i % 7 ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0);
    for (const std::int32_t i : {29999, 0, 14168, 14169, 14170, 28338, 3, 4, 29998}) {
        EXPECT_STREQ(archive.entryName(i).c_str(), ("e" + std::to_string(i)).c_str());
    }
}

TEST_F(TreArchiveTest, IsArchiveFileKnowsEveryNameOfTheFileAndNoOther)
{
    ASSERT_EQ(loadBytes(ArchiveWriter().add("a", "1").bytes()), TreArchive::LoadResult::loaded);
    const std::string sibling = dir / "sibling.tre";
    writeFile(sibling, readFile(path));
    std::vector<std::pair<std::string, bool>> cases{
        {path, true}, {dir / "./archive.tre", true}, {sibling, false}, {dir / "missing.tre", false}};
    const std::string hard = dir / "hard.tre";
    std::filesystem::create_hard_link(path, hard);
    cases.emplace_back(hard, true);
    std::error_code noLinks;
    std::filesystem::create_symlink(path, dir / "link.tre", noLinks);
    if (!noLinks) {
        cases.emplace_back(dir / "link.tre", true);
    }
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(archive.isArchiveFile(String(name.c_str())), expected) << name;
    }
}

// Replacing the file at a path never replaces a device (the archive is a
// regular file, but a fault elsewhere must not turn into a lost /dev/null).
TEST(ReplacementFile, ReplacesRegularFilesOnly)
{
    const TempDir dir;
    const std::string regular = dir / "file.txt";
    writeFile(regular, "old");
    ReplacementFile replacement{String(regular.c_str())};
    ASSERT_TRUE(replacement.file().writeAll("new", 3));
    EXPECT_TRUE(replacement.commit());
    EXPECT_EQ(readFile(regular), "new");
#if !defined(_WIN32)
    ReplacementFile device{String("/dev/null")};
    EXPECT_FALSE(device.file().isOpen());
    EXPECT_FALSE(device.commit());
#endif
}
