#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "tre/FolderExtraction.h"
#include "tre/Tree.h"

namespace {

// Every path below the root: "folder/" for a folder, "file:BYTES" for a file.
using Listing = std::map<std::string, std::string>;

void describe(const tre::Tree& tree, tre::Tree::Node folder, const std::string& prefix, const std::string& bytes,
              Listing& listing)
{
    for (const tre::Tree::Node node : tree.children(folder)) {
        const std::string path = prefix + std::string(tree.name(node));
        EXPECT_EQ(tree.parent(node), folder);
        EXPECT_EQ(tree.find(folder, tree.name(node)), node);
        EXPECT_EQ(tree.path(node), path);
        if (tree.isFolder(node)) {
            listing[path] = "folder/";
            describe(tree, node, path + "/", bytes, listing);
        } else {
            listing[path] = "file:" + bytes.substr(static_cast<std::size_t>(tree.dataOffset(node)),
                                                   static_cast<std::size_t>(tree.dataSize(node)));
        }
    }
}

Listing describe(const std::filesystem::path& folder)
{
    Listing listing;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        const std::u8string generic = item.path().lexically_relative(folder).generic_u8string();
        const std::string path(generic.begin(), generic.end());
        listing[path] = item.is_directory() ? "folder/" : "file:" + readFile(item.path());
    }
    return listing;
}

} // namespace

// The tree is what an extraction leaves in an empty folder, for every kind
// of name and every conflict, and it leaves out the same entries.
TEST(Tree, IsWhatAnExtractionWritesIntoAnEmptyFolder)
{
    const std::vector<std::pair<const char*, ArchiveWriter>> archives{
        {"folders and duplicates", ArchiveWriter()
                                       .add("readme.txt", "R")
                                       .add("docs/a.txt", "A")
                                       .add("docs\\sub/b.txt", "B")
                                       .add("./docs//a.txt", "NEW") // the same path: the later entry wins
                                       .add("docs/sub/../x", "unsafe")
                                       .add("empty", "")},
        {"files and folders wanting one path", ArchiveWriter()
                                                   .add("a", "file first")
                                                   .add("a/b", "under a file")
                                                   .add("c/d", "folder first")
                                                   .add("c", "where a folder is")
                                                   .add("c/d/e", "under a file again")
                                                   .add("c/d", "replaced")},
        {"unsafe and odd names", ArchiveWriter()
                                     .add("", "e")
                                     .add(".", "dot")
                                     .add("/abs", "x")
                                     .add("\\abs", "x")
                                     .add("C:x", "x")
                                     .add("..", "x")
                                     .add("...", "three dots")
                                     .add("caf\xc3\xa9/\xff\x01", "bytes")
                                     .add(std::string(65, 'n'), "long")},
        {"damaged data", ArchiveWriter()
                             .add(TestRecord{.name = "negative", .data = "abc", .size = -1})
                             .add(TestRecord{.name = "past/end", .data = "ab", .size = 3})
                             .add(TestRecord{.name = "far", .data = "x", .offset = 1 << 20})
                             .add(TestRecord{.name = "before", .data = "x", .offset = -4})
                             .claimCount(9)},
        {"many names, then the same again",
         [] {
             // the table grows, then finds among many neighbours (and round
             // its end) what it holds
             ArchiveWriter writer;
             for (int pass = 0; pass < 2; ++pass) {
                 for (int i = 0; i < 2000; ++i) {
                     writer.add("d" + std::to_string(i % 40) + "/f" + std::to_string(i), std::to_string(pass));
                 }
             }
             return writer;
         }()},
        {"deep paths",
         [] {
             // more folders than entries: the tree's table must grow as it goes
             ArchiveWriter writer;
             for (int i = 0; i < 12; ++i) {
                 std::string name;
                 for (int depth = 0; depth < 20; ++depth) {
                     name += std::to_string((i + depth) % 5) + "/";
                 }
                 writer.add(name + "f" + std::to_string(i), std::to_string(i));
             }
             return writer;
         }()},
    };
    for (const auto& [what, writer] : archives) {
        SCOPED_TRACE(what);
        const std::string bytes = writer.bytes();
        const TempDir dir;
        const tre::Archive archive = tre::Archive::fromBytes(bytes);
        std::vector<std::pair<std::int32_t, tre::Outcome>> leftOut;
        tre::TreeOptions options;
        options.rules = tre::platformPathRules;
        options.skipped = [&](std::size_t, const tre::Entry& entry, const tre::ExtractedEntry& result) {
            leftOut.emplace_back(entry.number, result.outcome);
        };
        const tre::Tree tree = std::move(tre::Tree::build(archive, options).value());
        Listing inMemory;
        describe(tree, tre::Tree::root, "", bytes, inMemory);
        EXPECT_EQ(tree.nodeCount(), inMemory.size() + 1);

        tre::FolderExtraction folder = std::move(tre::FolderExtraction::open(archive, dir.path()).value());
        std::vector<std::pair<std::int32_t, tre::Outcome>> notWritten;
        for (const tre::Result<tre::Entry>& entry : archive.entries()) {
            const tre::ExtractedEntry result = folder.extract(entry.value());
            if (result.outcome != tre::Outcome::written) {
                notWritten.emplace_back(entry->number, result.outcome);
            }
        }
        EXPECT_EQ(inMemory, describe(dir.path()));
        EXPECT_EQ(leftOut, notWritten);
    }
}

TEST(Tree, FoldersCountTheirSubfoldersAndFindNothingElse)
{
    const tre::Tree tree = std::move(
        tre::Tree::build(tre::Archive::fromBytes(
                             ArchiveWriter().add("a/x", "1").add("a/y/z", "2").add("a/w/v", "3").add("b", "4").bytes()))
            .value());
    const tre::Tree::Node a = tree.find(tre::Tree::root, "a");
    ASSERT_NE(a, tre::Tree::none);
    EXPECT_EQ(tree.subfolderCount(tre::Tree::root), 1U);
    EXPECT_EQ(tree.subfolderCount(a), 2U);
    EXPECT_EQ(tree.find(a, "b"), tre::Tree::none);
    EXPECT_EQ(tree.find(tre::Tree::root, "x"), tre::Tree::none);
    EXPECT_FALSE(tree.isFolder(tree.find(tre::Tree::root, "b")));
    EXPECT_EQ(tree.dataSize(tree.find(tre::Tree::root, "b")), 1);
}

// Several archives make the tree that extracting each of them in turn into
// one folder leaves; each file knows the archive and entry it holds.
TEST(Tree, SeveralArchivesAreExtractedInTurn)
{
    const std::vector<std::string> sets{
        ArchiveWriter().add("a/x", "A1").add("b", "B1").add("c/d", "C1").add("same", "S1").bytes(),
        ArchiveWriter().add("b/under", "no").add("c", "no").add("a/y", "A2").add("same", "S2").bytes(),
        ArchiveWriter().add("../up", "no").add("a/x", "A3").add("new/n", "N3").bytes(),
    };
    std::vector<tre::Archive> archives;
    std::vector<const tre::Archive*> pointers;
    archives.reserve(sets.size());
    pointers.reserve(sets.size());
    for (const std::string& bytes : sets) {
        archives.push_back(tre::Archive::fromBytes(bytes));
    }
    for (const tre::Archive& archive : archives) {
        pointers.push_back(&archive);
    }
    std::vector<std::pair<std::size_t, std::int32_t>> leftOut;
    tre::TreeOptions options;
    options.skipped = [&](std::size_t archive, const tre::Entry& entry, const tre::ExtractedEntry&) {
        leftOut.emplace_back(archive, entry.number);
    };
    const tre::Tree tree = std::move(tre::Tree::build(pointers, options).value());

    const TempDir dir;
    for (const tre::Archive& archive : archives) {
        tre::FolderExtraction folder = std::move(tre::FolderExtraction::open(archive, dir.path()).value());
        for (const tre::Result<tre::Entry>& entry : archive.entries()) {
            static_cast<void>(folder.extract(entry.value()));
        }
    }
    Listing inMemory;
    const std::function<void(tre::Tree::Node)> list = [&](tre::Tree::Node folder) {
        for (const tre::Tree::Node node : tree.children(folder)) {
            if (tree.isFolder(node)) {
                inMemory[tree.path(node)] = "folder/";
                list(node);
            } else {
                const std::string& bytes = sets[tree.archiveIndex(node)];
                inMemory[tree.path(node)] = "file:" + bytes.substr(static_cast<std::size_t>(tree.dataOffset(node)),
                                                                   static_cast<std::size_t>(tree.dataSize(node)));
            }
        }
    };
    list(tre::Tree::root);
    EXPECT_EQ(inMemory, describe(dir.path()));
    EXPECT_EQ(leftOut, (std::vector<std::pair<std::size_t, std::int32_t>>{{1, 0}, {1, 1}, {2, 0}}));
    const tre::Tree::Node ax = tree.find(tree.find(tre::Tree::root, "a"), "x");
    EXPECT_EQ(tree.archiveIndex(ax), 2U);
    EXPECT_EQ(tree.entryNumber(ax), 1);
    EXPECT_EQ(tree.archiveIndex(tree.find(tre::Tree::root, "same")), 1U);
    EXPECT_EQ(tree.entryNumber(tree.find(tre::Tree::root, "same")), 3);
}

// A tree that would take more memory than allowed is refused with its own
// cause, never taken for a damaged archive.
TEST(Tree, ATreeOverItsMemoryLimitIsRefused)
{
    ArchiveWriter writer;
    for (int i = 0; i < 5000; ++i) {
        writer.add("deep/" + std::to_string(i) + "/a/b/c/d/e/f", "x");
    }
    const tre::Archive archive = tre::Archive::fromBytes(writer.bytes());
    const tre::Tree whole = std::move(tre::Tree::build(archive).value());
    for (const std::uint64_t limit : {std::uint64_t{1000}, static_cast<std::uint64_t>(whole.memoryUsed()) / 2}) {
        tre::TreeOptions options;
        options.memoryLimit = limit;
        const tre::Result<tre::Tree> refused = tre::Tree::build(archive, options);
        ASSERT_FALSE(refused) << limit;
        EXPECT_EQ(refused.error().step, tre::Step::buildTree);
        EXPECT_EQ(refused.error().code, tre::Errc::treeTooLarge);
    }
    tre::TreeOptions options;
    options.memoryLimit = whole.memoryUsed() * 2;
    EXPECT_TRUE(tre::Tree::build(archive, options));
    // the figures a budget is made from cover what a tree of files takes
    EXPECT_GE(whole.memoryUsed(), std::size_t{5000} * 7 * tre::Tree::bytesPerFile() / 2);
    EXPECT_GT(tre::Tree::bytesPerFolder(), tre::Tree::bytesPerFile());
}
