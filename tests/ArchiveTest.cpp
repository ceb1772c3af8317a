#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <functional>
#include <limits>
#include <ranges>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "archive/read/ArchiveState.h"
#include "tre/Archive.h"
#include "tre/OutputFile.h"

namespace {

static_assert(std::ranges::input_range<tre::EntryWalk>);

constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();

// What a copy of the entry delivers.
std::string copied(const tre::Archive& archive, const tre::Entry& entry)
{
    std::string data;
    const tre::Result<std::int64_t> copy = archive.copy(entry, [&](std::span<const char> bytes) {
        data.append(bytes.data(), bytes.size());
        return std::error_code();
    });
    EXPECT_EQ(copy.value(), static_cast<std::int64_t>(data.size()));
    return data;
}

std::string copied(const tre::Archive& archive, std::int32_t number)
{
    return copied(archive, archive.entry(number).value());
}

std::vector<tre::Entry> walked(const tre::Archive& archive)
{
    std::vector<tre::Entry> entries;
    for (const tre::Result<tre::Entry>& entry : archive.entries()) {
        entries.push_back(entry.value());
    }
    return entries;
}

class ArchiveTest : public ::testing::Test {
protected:
    tre::Archive openBytes(const std::string& bytes)
    {
        writeFile(path, bytes);
        return std::move(tre::Archive::open(path).value());
    }

    TempDir dir;
    std::filesystem::path path = dir.path() / "archive.tre";
};

// A source whose reads fail with EIO from a given offset on, to tell read
// errors from the end of the file.
class FailingSource final : public tre::detail::Source {
public:
    FailingSource(std::string bytes, std::int64_t failFrom)
        : Source(statusOf(bytes)), bytes_(std::move(bytes)), failFrom_(failFrom)
    {
    }

    tre::IoResult readAt(std::int64_t offset, char* buffer, std::int64_t length) const override
    {
        // read in small pieces, as a disk may, until the bad spot
        return tre::readFully(
            [&](std::int64_t at, char* into, std::int64_t wanted) -> tre::IoResult {
                if (at >= failFrom_) {
                    return {0, std::make_error_code(std::errc::io_error)};
                }
                const std::int64_t count =
                    std::min({wanted, std::int64_t{3}, failFrom_ - at, static_cast<std::int64_t>(bytes_.size()) - at});
                std::copy_n(bytes_.data() + at, count, into);
                return {count, {}};
            },
            offset, buffer, length);
    }
    std::error_code status(tre::FileStatus& status) const override
    {
        status = opened();
        return {};
    }
    [[nodiscard]] std::optional<tre::FileIdentity> identity() const override { return std::nullopt; }

private:
    static tre::FileStatus statusOf(const std::string& bytes)
    {
        tre::FileStatus status;
        status.regular = true;
        status.size = static_cast<std::int64_t>(bytes.size());
        return status;
    }

    std::string bytes_;
    std::int64_t failFrom_;
};

} // namespace

TEST_F(ArchiveTest, ReadsNamesOffsetsSizesAndData)
{
    const std::string longName(64, 'n');
    ArchiveWriter writer;
    writer.headerWord(77)
        .add(TestRecord{.name = "a", .data = "first", .nameFill = 'X', .prefixByte = 0xA5})
        .add(TestRecord{.name = longName, .data = std::string("\0\r\n\x1a", 4), .nameFill = 'Y'})
        .add("dir/sub/empty.bin", "");
    // the same from a file and from memory
    for (const tre::Archive& archive : {openBytes(writer.bytes()), tre::Archive::fromBytes(writer.bytes())}) {
        ASSERT_EQ(archive.entryCount(), 3);
        EXPECT_EQ(archive.storedCount(), 3);
        EXPECT_EQ(archive.headerWord(), 77);
        EXPECT_EQ(archive.size(), static_cast<std::int64_t>(writer.bytes().size()));
        const std::vector<tre::Entry> entries = walked(archive);
        ASSERT_EQ(entries.size(), 3U);
        EXPECT_EQ(entries[0].name(), "a");
        EXPECT_EQ(entries[1].name(), longName);
        EXPECT_EQ(entries[2].name(), "dir/sub/empty.bin");
        EXPECT_EQ(entries[2].number, 2);
        EXPECT_EQ(entries[0].offset, 8 + 3 * 74);
        EXPECT_EQ(entries[1].offset, 8 + 3 * 74 + 5);
        EXPECT_EQ(entries[1].size, 4);
        EXPECT_EQ(entries[0].prefixByte, 0xA5);
        EXPECT_EQ(std::string(entries[0].nameField.data(), 4), std::string("a\0XX", 4));
        EXPECT_EQ(copied(archive, 0), "first");
        EXPECT_EQ(copied(archive, 1), std::string("\0\r\n\x1a", 4));
        EXPECT_EQ(copied(archive, 2), "");
        const tre::Entry looked = archive.entry(1).value();
        EXPECT_EQ(looked.number, 1);
        EXPECT_EQ(looked.nameField, entries[1].nameField);
    }
}

TEST_F(ArchiveTest, SignedFieldsAndFullNameFieldsComeBackUnchanged)
{
    std::string bytes = ArchiveWriter()
                            .add(TestRecord{.name = "x", .offset = int32Min, .size = -2})
                            .add(TestRecord{.name = "y", .offset = -1, .size = int32Min + 5})
                            .bytes();
    bytes.replace(8 + 74 + 1, 65, std::string(65, 'Z')); // a name with no NUL is taken whole
    const tre::Archive archive = tre::Archive::fromBytes(bytes);
    const std::vector<tre::Entry> entries = walked(archive);
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0].offset, int32Min);
    EXPECT_EQ(entries[0].size, -2);
    EXPECT_EQ(entries[1].offset, -1);
    EXPECT_EQ(entries[1].size, int32Min + 5);
    EXPECT_EQ(entries[1].name(), std::string(65, 'Z'));
}

TEST_F(ArchiveTest, CountOfZeroOrLessIsAnEmptyDirectory)
{
    for (const std::int32_t count : {0, -1, int32Min}) {
        SCOPED_TRACE(count);
        const tre::Archive archive =
            openBytes(ArchiveWriter().claimCount(count).headerWord(5).add("a", "data").bytes());
        EXPECT_EQ(archive.entryCount(), 0);
        EXPECT_EQ(archive.storedCount(), count);
        EXPECT_EQ(archive.headerWord(), 5);
        EXPECT_TRUE(walked(archive).empty());
    }
}

TEST_F(ArchiveTest, OpeningNeverCreatesAndSaysWhyItFails)
{
    struct Case {
        std::filesystem::path path;
        std::error_code expected;
    };
    std::vector<Case> cases{
        {dir.path(), std::make_error_code(std::errc::is_a_directory)},
        {dir.path() / "missing.tre", std::make_error_code(std::errc::no_such_file_or_directory)},
        {dir.path() / "no-such-folder/a.tre", std::make_error_code(std::errc::no_such_file_or_directory)},
        {"", std::make_error_code(std::errc::no_such_file_or_directory)},
    };
#if !defined(_WIN32)
    // anything but a regular file, and a FIFO without a writer must not block
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    cases.push_back({dir.path() / "fifo", tre::Errc::notRegularFile});
    cases.push_back({"/dev/null", tre::Errc::notRegularFile});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        const tre::Result<tre::Archive> archive = tre::Archive::open(c.path);
        ASSERT_FALSE(archive);
        EXPECT_EQ(archive.error().step, tre::Step::openArchive);
        EXPECT_EQ(archive.error().code, c.expected.default_error_condition()) << archive.error().code.message();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing.tre"));
    EXPECT_EQ(tre::Archive::open(dir.path()).error().message(),
              "opening the archive: " + std::make_error_code(std::errc::is_a_directory).message());
}

TEST_F(ArchiveTest, ReadOnlyArchiveOpens)
{
    writeFile(path, ArchiveWriter().add("kept", "bytes").bytes());
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const tre::Result<tre::Archive> archive = tre::Archive::open(path);
    ASSERT_TRUE(archive);
    EXPECT_EQ(copied(*archive, 0), "bytes");
}

// Cut a valid archive at every length: opening must never fail or invent
// records, and must keep exactly the complete records present.
TEST_F(ArchiveTest, TruncatedAtEveryLengthKeepsCompleteRecordsOnly)
{
    const std::string whole = ArchiveWriter().headerWord(3).add("one", "1").add("two", "22").add("three", "").bytes();
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        const tre::Archive archive = tre::Archive::fromBytes(whole.substr(0, length));
        const auto expectedRecords = length < 8 ? 0 : std::min<std::size_t>(3, (length - 8) / 74);
        ASSERT_EQ(archive.entryCount(), static_cast<std::int32_t>(expectedRecords));
        EXPECT_EQ(archive.headerWord(), length < 8 ? 8 : 3);
        for (const tre::Entry& entry : walked(archive)) {
            EXPECT_EQ(entry.size, entry.number == 2 ? 0 : entry.number + 1);
            const std::string data = copied(archive, entry);
            EXPECT_EQ(static_cast<std::int64_t>(data.size()), archive.storedBytes(entry));
            EXPECT_EQ(data, whole.substr(static_cast<std::size_t>(entry.offset), data.size()));
        }
    }
}

TEST_F(ArchiveTest, HugeCountIsBoundedByTheFileSize)
{
    const tre::Archive archive = tre::Archive::fromBytes(
        ArchiveWriter().claimCount(std::numeric_limits<std::int32_t>::max()).add("only", "x").bytes());
    EXPECT_EQ(archive.entryCount(), 1);
    EXPECT_EQ(archive.entry(0).value().name(), "only");
    EXPECT_EQ(archive.entry(1).error().code, tre::Errc::noSuchEntry);
    EXPECT_EQ(archive.entry(-1).error().code, tre::Errc::noSuchEntry);
}

TEST_F(ArchiveTest, ReadsStopAtTheEndOfTheFileAndTheBuffer)
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
        const tre::Archive archive = tre::Archive::fromBytes(
            ArchiveWriter().add(TestRecord{.name = "x", .offset = c.offset, .size = c.size}).bytes() + "0123456789");
        const tre::Entry entry = archive.entry(0).value();
        EXPECT_EQ(archive.storedBytes(entry), c.available);
        // a larger buffer than available must still never receive more than is there
        std::string buffer(static_cast<std::size_t>(c.available) + 16, '#');
        EXPECT_EQ(archive.read(entry, 0, buffer).value(), static_cast<std::size_t>(c.available));
        EXPECT_EQ(buffer.substr(static_cast<std::size_t>(c.available)), std::string(16, '#'));
        // the end of the file is no error
        EXPECT_EQ(archive.copy(entry, [](std::span<const char>) { return std::error_code(); }).value(), c.available);
    }
    const tre::Archive archive = tre::Archive::fromBytes(ArchiveWriter().add("y", "before").add("x", "abcdef").bytes());
    const tre::Entry entry = archive.entry(1).value();
    std::array<char, 6> buffer{'.', '.', '.', '.', '.', '.'};
    EXPECT_EQ(archive.read(entry, 2, std::span(buffer).first(3)).value(), 3U);
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), "cde...");
    // never a byte before the entry or past it
    for (const std::int64_t from : {std::int64_t{-1}, std::int64_t{-6}, std::int64_t{6}, std::int64_t{7}}) {
        EXPECT_EQ(archive.read(entry, from, buffer).value(), 0U) << from;
    }
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), "cde...");
}

// A read that fails ends the read at once, with its reason and the bytes
// read before it: never a loop, never taken for the end of the file.
TEST_F(ArchiveTest, ReadErrorsAreToldApartFromTheEndOfTheFile)
{
    const std::string bytes = ArchiveWriter().add("a", std::string(100, 'a')).add("b", "bb").bytes();
    const auto openFailing = [&](std::int64_t failFrom) {
        return tre::detail::ArchiveAccess::fromSource(std::make_unique<FailingSource>(bytes, failFrom));
    };
    EXPECT_EQ(openFailing(4).error().code, std::errc::io_error); // in the header
    const tre::Archive archive = std::move(openFailing(8 + 2 * 74 + 50).value());
    const tre::Entry entry = archive.entry(0).value();
    std::string data;
    const tre::Result<std::int64_t> copy = archive.copy(entry, [&](std::span<const char> chunk) {
        data.append(chunk.data(), chunk.size());
        return std::error_code();
    });
    EXPECT_EQ(data, std::string(50, 'a')); // what was read before the error was handed on
    EXPECT_EQ(copy.error().step, tre::Step::readArchive);
    EXPECT_EQ(copy.error().code, std::errc::io_error);
    EXPECT_EQ(archive.readString(entry).error().code, std::errc::io_error);
    std::array<char, 100> buffer{};
    EXPECT_EQ(archive.read(entry, 0, buffer).error().code, std::errc::io_error);

    const tre::Archive inDirectory = std::move(openFailing(8 + 74 + 10).value());
    EXPECT_EQ(inDirectory.entry(1).error().code, std::errc::io_error);
    tre::EntryWalk walk = inDirectory.entries();
    tre::Entry first;
    EXPECT_TRUE(walk.next(first));
    EXPECT_FALSE(walk.next(first));
    EXPECT_EQ(walk.recordsRead(), 1);
    EXPECT_EQ(walk.error(), std::errc::io_error);
    // as a range, the error is the last element
    std::vector<bool> elements;
    for (const tre::Result<tre::Entry>& entry : inDirectory.entries()) {
        elements.push_back(entry.has_value());
        if (!entry) {
            EXPECT_EQ(entry.error().code, std::errc::io_error);
        }
    }
    EXPECT_EQ(elements, (std::vector<bool>{true, false}));
}

TEST_F(ArchiveTest, ASinkThatRefusesStopsTheCopy)
{
    const tre::Archive archive = tre::Archive::fromBytes(ArchiveWriter().add("a", std::string(3 << 20, 'a')).bytes());
    int calls = 0;
    const tre::Result<std::int64_t> copy = archive.copy(archive.entry(0).value(), [&](std::span<const char>) {
        return ++calls == 2 ? std::make_error_code(std::errc::no_space_on_device) : std::error_code();
    });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(copy.error().step, tre::Step::writeFile);
    EXPECT_EQ(copy.error().code, std::errc::no_space_on_device);
}

// The archive is held open from the start: whatever happens to its path,
// reads serve the file that was opened.
TEST_F(ArchiveTest, HeldFileServesTheOpenedBytesWhateverHappensToThePath)
{
    const std::string data = "0123456789abcdef";
    const std::string whole = ArchiveWriter().add("only", data).bytes();
    struct Case {
        const char* what;
        std::function<void()> change;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"moved away and replaced",
         [&] {
             std::filesystem::rename(path, dir.path() / "other.tre");
             writeFile(path, ArchiveWriter().add("new", "XXXXXXXXXXXXXXXX").bytes());
         },
         data},
        {"truncated inside the entry", [&] { std::filesystem::resize_file(path, whole.size() - 6); }, "0123456789"},
        {"deleted", [&] { std::filesystem::remove(path); }, data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const tre::Archive archive = openBytes(whole);
        c.change();
        EXPECT_EQ(archive.entry(0).value().name(), "only");
        EXPECT_EQ(copied(archive, 0), c.expected);
    }
}

TEST_F(ArchiveTest, RecordsCutOffAfterOpeningAreReportedMissing)
{
    const tre::Archive archive = openBytes(ArchiveWriter().add("a", "1").add("b", "2").bytes());
    std::filesystem::resize_file(path, 8 + 74 + 10);
    EXPECT_TRUE(archive.entry(0));
    EXPECT_EQ(archive.entry(1).error().code, tre::Errc::recordMissing);
    tre::EntryWalk walk = archive.entries();
    EXPECT_EQ(std::ranges::distance(walk), 2); // an entry, then the error
    EXPECT_EQ(walk.recordsRead(), 1);
    EXPECT_EQ(walk.error(), tre::Errc::recordMissing);
}

// Large directories are read in windows of many records: every record must
// come out right, walked in order across window edges or looked up at random.
TEST_F(ArchiveTest, RecordsReadInAnyOrderAcrossReadWindows)
{
    constexpr std::int32_t entries = 30000;
    ArchiveWriter writer;
    for (std::int32_t i = 0; i < entries; ++i) {
        writer.add(TestRecord{.name = "e" + std::to_string(i), .offset = i, .size = i % 7});
    }
    const tre::Archive archive = openBytes(writer.bytes());
    ASSERT_EQ(archive.entryCount(), entries);
    std::int32_t wrong = 0;
    tre::EntryWalk walk = archive.entries();
    std::int32_t expected = 0;
    tre::Entry entry;
    while (walk.next(entry)) {
        wrong += entry.number == expected && entry.name() == "e" + std::to_string(expected) &&
                         entry.offset == expected && entry.size == expected % 7
                     ? 0
                     : 1;
        ++expected;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(walk.recordsRead(), entries);
    EXPECT_FALSE(walk.error());
    for (const std::int32_t i : {29999, 0, 14168, 14169, 14170, 28338, 3}) {
        EXPECT_EQ(archive.entry(i).value().name(), "e" + std::to_string(i));
    }
}

// Rewritten in place, the archive says so; replaced through OutputFile
// (by this process), it does not.
TEST_F(ArchiveTest, ChangesInPlaceAreNoticedAndOwnReplacementsAreNot)
{
    const std::string bytes = ArchiveWriter().add("a", "0123").bytes();
    const tre::Archive archive = openBytes(bytes);
    EXPECT_FALSE(archive.changedSinceOpened().value());
    for (const std::filesystem::path& name : {path, dir.path() / "." / "archive.tre"}) {
        tre::Result<tre::OutputFile> output = tre::OutputFile::create(name, &archive);
        ASSERT_TRUE(output);
        EXPECT_TRUE(output->write(std::string_view("listing")));
        EXPECT_TRUE(output->commit());
        EXPECT_EQ(readFile(path), "listing");
        EXPECT_FALSE(archive.changedSinceOpened().value());
    }
    EXPECT_EQ(copied(archive, 0), "0123");

    const tre::Archive rewritten = openBytes(bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a new modification time
    {
        std::fstream inPlace(path, std::ios::in | std::ios::out | std::ios::binary);
        inPlace.seekp(-4, std::ios::end);
        inPlace.write("4567", 4);
    }
    EXPECT_TRUE(rewritten.changedSinceOpened().value());
    EXPECT_FALSE(tre::Archive::fromBytes(bytes).changedSinceOpened().value());
}

// Const operations from several threads at once (run under ThreadSanitizer
// in CI): walks, lookups and copies all see the same bytes.
TEST_F(ArchiveTest, ConstOperationsAreSafeFromSeveralThreads)
{
    ArchiveWriter writer;
    for (int i = 0; i < 20000; ++i) {
        writer.add("entry-" + std::to_string(i),
                   std::string(static_cast<std::size_t>(i % 50), static_cast<char>('a' + i % 26)));
    }
    const tre::Archive archive = openBytes(writer.bytes());
    std::array<std::int64_t, 4> sums{};
    std::vector<std::thread> threads;
    threads.reserve(sums.size());
    for (std::int64_t& sum : sums) {
        threads.emplace_back([&archive, &sum] {
            tre::EntryWalk walk = archive.entries();
            tre::Entry entry;
            while (walk.next(entry)) {
                const tre::Entry looked = archive.entry(entry.number).value();
                sum += looked.size == entry.size ? static_cast<std::int64_t>(copied(archive, looked).size()) : -1000000;
            }
            sum += *archive.changedSinceOpened() ? 1 : 0;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::int64_t expected = 0;
    for (int i = 0; i < 20000; ++i) {
        expected += i % 50;
    }
    for (const std::int64_t sum : sums) {
        EXPECT_EQ(sum, expected);
    }
}
