// The library as its users call it: results, whole reads, lookups by name,
// archives over a caller's bytes, whole-archive checks and the words for
// every outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "tre/tre.h"

namespace {

// `if (archive.changedSinceOpened())` must not compile: it would ask
// whether the question could be answered.
static_assert(!std::is_constructible_v<bool, tre::Result<bool>>);
static_assert(std::is_constructible_v<bool, tre::Result<int>>);
static_assert(std::is_constructible_v<bool, tre::Result<void>>);

} // namespace

TEST(Result, ValuesErrorsAndFallbacks)
{
    const tre::Result<bool> no = false;
    EXPECT_TRUE(no.has_value());
    EXPECT_FALSE(*no);
    EXPECT_TRUE(no.value_or(true) == false);
    const tre::Result<bool> failed = tre::Error{tre::Step::readArchive, std::make_error_code(std::errc::io_error)};
    EXPECT_FALSE(failed.has_value());
    EXPECT_TRUE(failed.value_or(true));
    EXPECT_THROW(static_cast<void>(failed.value()), std::bad_variant_access);
    EXPECT_EQ(tre::Result<std::string>(tre::Error{}).value_or("fallback"), "fallback");

    const tre::Result<void> done;
    EXPECT_TRUE(done);
    EXPECT_NO_THROW(done.value());
    EXPECT_THROW(static_cast<void>(done.error()), std::bad_variant_access);
    const tre::Result<void> refused = tre::Error{tre::Step::writeFile, std::make_error_code(std::errc::io_error)};
    EXPECT_FALSE(refused);
    EXPECT_THROW(refused.value(), std::bad_variant_access);
    EXPECT_EQ(refused.error().message(), "writing a file: " + std::make_error_code(std::errc::io_error).message());
    // no error says so, never "Success"
    EXPECT_EQ(tre::Error{}.message(), "no error");
    tre::ExtractedEntry written;
    written.outcome = tre::Outcome::written;
    EXPECT_EQ(written.message(), "written");
}

// Every outcome, fault, step and condition has words of its own.
TEST(Describe, EveryValueHasItsOwnWords)
{
    std::set<std::string> words;
    for (const tre::Outcome outcome :
         {tre::Outcome::written, tre::Outcome::unsafeName, tre::Outcome::throughLink,
          tre::Outcome::wouldOverwriteArchive, tre::Outcome::failed, tre::Outcome::notAttempted}) {
        EXPECT_TRUE(words.insert(tre::describe(outcome)).second) << tre::describe(outcome);
    }
    for (const tre::HeaderFault fault :
         {tre::HeaderFault::cutShort, tre::HeaderFault::negativeCount, tre::HeaderFault::directoryCutShort}) {
        EXPECT_TRUE(words.insert(tre::describe(fault)).second) << tre::describe(fault);
    }
    for (const tre::EntryFault fault :
         {tre::EntryFault::invalidSize, tre::EntryFault::invalidOffset, tre::EntryFault::runsPastEnd}) {
        EXPECT_TRUE(words.insert(tre::describe(fault)).second) << tre::describe(fault);
    }
    for (int step = 0; step <= static_cast<int>(tre::Step::planArchive); ++step) {
        EXPECT_TRUE(words.insert(tre::describe(static_cast<tre::Step>(step))).second) << step;
    }
    for (int code = 1; code <= static_cast<int>(tre::Errc::changedWhileRead); ++code) {
        const std::string message = tre::make_error_code(static_cast<tre::Errc>(code)).message();
        EXPECT_EQ(message.find("Unknown"), std::string::npos) << code;
        EXPECT_TRUE(words.insert(message).second) << message;
    }
}

// A whole entry, or why not: never bytes the archive does not hold, and no
// allocation of a size the file cannot back.
TEST(Archive, WholeEntriesAndLookupsByName)
{
    const std::string bytes = ArchiveWriter()
                                  .add("dup", "first")
                                  .add("data", std::string("\0\1\2", 3))
                                  .add("dup", "second")
                                  .add(TestRecord{.name = "negative", .data = "abc", .size = -1})
                                  .add(TestRecord{.name = "before", .data = "abc", .offset = -3})
                                  .add(TestRecord{.name = "past", .data = "ab", .size = 3})
                                  .add(TestRecord{.name = "huge", .size = std::numeric_limits<std::int32_t>::max()})
                                  .add("empty", "")
                                  .bytes();
    const tre::Archive archive = tre::Archive::fromBytes(bytes);
    struct Case {
        const char* name;
        std::string data; // what a whole read gives
        tre::Errc refused{};
    };
    const std::vector<Case> cases{
        {"data", std::string("\0\1\2", 3)},
        {"dup", "second"},
        {"negative", "", tre::Errc::invalidEntry},
        {"before", "", tre::Errc::invalidEntry},
        {"past", "", tre::Errc::dataMissing},
        {"huge", "", tre::Errc::dataMissing},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const tre::Entry entry = archive.findEntry(c.name).value();
        const tre::Result<std::string> text = archive.readString(entry);
        const tre::Result<std::vector<std::byte>> raw = archive.readBytes(entry);
        if (c.refused == tre::Errc{}) {
            EXPECT_EQ(text.value(), c.data);
            EXPECT_TRUE(std::ranges::equal(raw.value(), std::as_bytes(std::span(c.data))));
        } else {
            EXPECT_EQ(text.error().code, c.refused);
            EXPECT_EQ(raw.error().code, c.refused);
        }
    }
    EXPECT_EQ(archive.findEntry("dup", tre::Archive::Match::first).value().number, 0);
    EXPECT_EQ(archive.findEntry("dup", tre::Archive::Match::last).value().number, 2);
    EXPECT_EQ(archive.findEntry("du").error().code, tre::Errc::noSuchEntry);
    // an empty buffer reads nothing (and hands memcpy no null pointer)
    EXPECT_EQ(archive.read(archive.entry(1).value(), 0, {}).value(), 0U);
}

// An archive over the caller's bytes reads them where they are.
TEST(Archive, OverTheCallersBytesWithoutACopy)
{
    std::string bytes = ArchiveWriter().add("a", "abc").bytes();
    const tre::Archive archive =
        tre::Archive::overBytes(std::as_bytes(std::span<const char>(bytes.data(), bytes.size())));
    EXPECT_EQ(archive.readString(archive.entry(0).value()).value(), "abc");
    bytes[bytes.size() - 1] = 'C';
    EXPECT_EQ(archive.readString(archive.entry(0).value()).value(), "abC");
    EXPECT_EQ(archive.nativeHandle(), -1);
}

// Walks and extractions share the archive's insides: moving the Archive
// object (or dropping it) leaves them working.
TEST(Archive, WalksAndExtractionsOutliveTheArchiveObject)
{
    const TempDir dir;
    tre::Archive first = tre::Archive::fromBytes(ArchiveWriter().add("a", "1").add("b", "22").bytes());
    tre::EntryWalk walk = first.entries();
    tre::FolderExtraction folder = std::move(tre::FolderExtraction::open(first, dir.path()).value());
    {
        const tre::Archive moved = std::move(first);
        EXPECT_EQ(moved.entryCount(), 2);
    }
    tre::Entry entry;
    while (walk.next(entry)) {
        EXPECT_EQ(folder.extract(entry).bytes, entry.size);
    }
    EXPECT_EQ(readFile(dir.path() / "b"), "22");
}

// One call checks what -t checks, calls back for each damaged entry of
// those selected, and gets the edges right near 2^31 bytes.
TEST(Check, AWholeArchiveAsTestingDoes)
{
    const std::string bytes = ArchiveWriter()
                                  .add("whole", "abc")
                                  .add(TestRecord{.name = "negative", .data = "x", .size = -2})
                                  .add(TestRecord{.name = "skipped", .data = "x", .offset = -1})
                                  .add(TestRecord{.name = "past", .data = "ab", .size = 3})
                                  .claimCount(5)
                                  .bytes();
    const tre::Archive archive = tre::Archive::fromBytes(bytes);
    std::vector<std::pair<std::int32_t, tre::EntryFault>> damaged;
    const tre::ArchiveCheck check = tre::checkArchive(
        archive, [&](const tre::Entry& entry, tre::EntryFault fault) { damaged.emplace_back(entry.number, fault); },
        [](const tre::Entry& entry) { return entry.name() != "skipped"; });
    EXPECT_EQ(check.header, tre::HeaderFault::directoryCutShort);
    EXPECT_EQ(check.tested, 3);
    EXPECT_EQ(check.damaged, 2);
    EXPECT_EQ(check.recordsRead, 4);
    EXPECT_FALSE(check.directoryError);
    EXPECT_FALSE(check.whole());
    EXPECT_EQ(damaged, (std::vector<std::pair<std::int32_t, tre::EntryFault>>{{1, tre::EntryFault::invalidSize},
                                                                              {3, tre::EntryFault::runsPastEnd}}));
    EXPECT_TRUE(tre::checkArchive(tre::Archive::fromBytes(ArchiveWriter().add("a", "b").bytes())).whole());
}

#if !defined(_WIN32)
// Offsets and sizes near 2^31: their sum passes 32 bits, and the check must
// not wrap. A sparse file of 2^31 bytes holds bytes 0 to 2^31 - 1.
TEST(Check, EntriesEndingNear2GiBAreMeasuredIn64Bits)
{
    const TempDir dir;
    const std::filesystem::path path = dir.path() / "sparse.tre";
    constexpr std::int32_t top = std::numeric_limits<std::int32_t>::max();
    ArchiveWriter()
        .add(TestRecord{.name = "last byte", .offset = top, .size = 1})
        .add(TestRecord{.name = "one past", .offset = top, .size = 2})
        .add(TestRecord{.name = "from the top", .offset = top, .size = top})
        .add(TestRecord{.name = "all but one", .offset = 1, .size = top})
        .writeTo(path);
    std::filesystem::resize_file(path, std::uint64_t{1} << 31U);
    const tre::Archive archive = std::move(tre::Archive::open(path).value());
    const std::vector<tre::EntryFault> expected{tre::EntryFault::none, tre::EntryFault::runsPastEnd,
                                                tre::EntryFault::runsPastEnd, tre::EntryFault::none};
    for (std::int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tre::checkEntry(archive, archive.entry(i).value()), expected[static_cast<std::size_t>(i)]) << i;
    }
}
#endif
