#include <gtest/gtest.h>

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
        const tre::Tree tree =
            std::move(tre::Tree::build(archive, tre::platformPathRules,
                                       [&](const tre::Entry& entry, const tre::ExtractedEntry& result) {
                                           leftOut.emplace_back(entry.number, result.outcome);
                                       })
                          .value());
        Listing inMemory;
        describe(tree, tre::Tree::root, "", bytes, inMemory);
        EXPECT_EQ(tree.nodeCount(), inMemory.size() + 1);

        tre::FolderExtraction folder = std::move(tre::FolderExtraction::open(archive, dir.path()).value());
        std::vector<std::pair<std::int32_t, tre::Outcome>> notWritten;
        for (const tre::Entry& entry : archive.entries()) {
            const tre::ExtractedEntry result = folder.extract(entry);
            if (result.outcome != tre::Outcome::written) {
                notWritten.emplace_back(entry.number, result.outcome);
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
