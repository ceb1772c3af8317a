// Writing archives: the library's plan and writer, and trepack run
// in-process over trees and archives the tests make.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

#include "ArchiveWriter.h"
#include "TestSupport.h"
#include "pack/Pack.h"
#include "tre/tre.h"

namespace {

struct PackRun {
    int status;
    std::string output;
    std::string errors;
};

PackRun runTrepack(const std::vector<std::string>& arguments, const PackConsole& console = {})
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = runPack(arguments, out, err, console);
    return {status, out.str(), err.str()};
}

std::span<const std::byte> bytesOf(const std::string& text) { return std::as_bytes(std::span(text)); }

// Every file below `folder`, by its path with `/`, and its bytes.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) {
            files[toUtf8(item.path().lexically_relative(folder).generic_string())] = readFile(item.path());
        }
    }
    return files;
}

void makeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    writeFile(path, bytes);
}

// What a reader sees of an archive: header word, and each entry's prefix
// byte, name and whole bytes.
std::vector<std::string> readBack(const std::string& bytes)
{
    const tre::Archive archive = tre::Archive::fromBytes(bytes);
    std::vector<std::string> seen{std::to_string(archive.headerWord())};
    for (const tre::Result<tre::Entry>& entry : archive.entries()) {
        seen.push_back(std::to_string(entry->prefixByte) + ":" + std::string(entry->name()) + "=" +
                       archive.readString(*entry).value());
    }
    return seen;
}

class PackTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path tree = dir.path() / "tree";
    std::string out = dir / "out.tre";
};

} // namespace

// The layout is fixed: header, records, then the bytes in directory order,
// nothing between; zeros behind each name's NUL; a name that filled its
// field in the archive it came from fills it again.
TEST(ArchiveWriter, TheLayoutIsCanonicalAndTheSamePlanGivesTheSameBytes)
{
    const std::string full(65, 'F');
    const tre::Archive old = tre::Archive::fromBytes(
        ArchiveWriter().add(TestRecord{.name = full, .data = "full", .nameFill = 'x', .prefixByte = 9}).bytes());
    const std::string first = "first";
    tre::ArchivePlan plan;
    plan.setHeaderWord(-7);
    plan.addBytes("a", bytesOf(first), 200);
    plan.addEntry(old, old.entry(0).value());
    plan.addBytes("empty", {});
    std::string written;
    const auto sink = [&](std::span<const char> bytes) {
        written.append(bytes.data(), bytes.size());
        return std::error_code();
    };
    ASSERT_EQ(tre::writeArchive(plan, sink).value(), 8 + 3 * 74 + 9);
    std::string expected;
    appendInt32(expected, 3);
    appendInt32(expected, -7);
    const auto record = [&](std::uint8_t prefix, const std::string& name, std::int32_t offset, std::int32_t size) {
        expected += static_cast<char>(prefix);
        expected += name + std::string(65 - name.size(), '\0');
        appendInt32(expected, offset);
        appendInt32(expected, size);
    };
    record(200, "a", 230, 5);
    record(9, full, 235, 4);
    record(0, "empty", 239, 0);
    expected += "firstfull";
    EXPECT_EQ(written, expected);
    std::string again;
    ASSERT_TRUE(tre::writeArchive(plan, [&](std::span<const char> bytes) {
        again.append(bytes.data(), bytes.size());
        return std::error_code();
    }));
    EXPECT_EQ(again, written);

    // a large buffer goes out on its own; a replacement after a check is
    // checked again before it is written
    const TempDir dir;
    const std::string large(3 << 19, 'L');
    writeFile(dir.path() / "file", "from a file");
    tre::ArchivePlan second;
    second.addBytes("large", bytesOf(large));
    const std::size_t replaced = second.addBytes("replaced", bytesOf(first));
    ASSERT_TRUE(second.check().ok());
    second.replaceWithFile(replaced, dir.path() / "file");
    const std::filesystem::path path = dir.path() / "second.tre";
    ASSERT_TRUE(tre::writeArchive(second, path));
    const tre::Archive back = std::move(tre::Archive::open(path).value());
    EXPECT_EQ(back.readString(back.entry(0).value()).value(), large);
    EXPECT_EQ(back.readString(back.entry(1).value()).value(), "from a file");
}

// Everything the format cannot hold is found before a byte is written,
// each problem with its entry.
TEST(ArchiveWriter, ChecksFindEveryProblemBeforeWriting)
{
    const TempDir dir;
    const std::filesystem::path big = dir.path() / "big";
    writeFile(big, "");
    std::filesystem::resize_file(big, std::uint64_t{1} << 31U); // sparse: one byte more than an entry holds
    const std::string ok = "ok";
    tre::ArchivePlan plan;
    plan.addBytes(std::string(64, 'n'), bytesOf(ok));
    plan.addBytes(std::string(65, 'n'), bytesOf(ok));
    plan.addBytes(std::string("nul\0name", 8), bytesOf(ok));
    plan.addFile("missing", dir.path() / "missing");
    plan.addFile("folder", dir.path());
    plan.addFile("big", big);
    const tre::PlanCheck check = plan.check();
    std::vector<std::pair<std::size_t, std::error_condition>> found;
    for (const tre::PlanProblem& problem : check.problems) {
        found.emplace_back(problem.entry, problem.error.code.default_error_condition());
    }
    const auto condition = [](auto code) { return std::error_code(code).default_error_condition(); };
    const std::vector<std::pair<std::size_t, std::error_condition>> expected{
        {1, condition(tre::Errc::nameTooLong)},
        {2, condition(tre::Errc::nameHoldsNul)},
        {3, std::make_error_condition(std::errc::no_such_file_or_directory)},
        {4, std::make_error_condition(std::errc::is_a_directory)},
        {5, condition(tre::Errc::entryTooLarge)},
        {tre::PlanProblem::wholeArchive, condition(tre::Errc::archiveTooLarge)},
    };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(check.problems[4].size, std::int64_t{1} << 31U);
    std::string nothing;
    EXPECT_FALSE(tre::writeArchive(plan, [&](std::span<const char> bytes) {
        nothing.append(bytes.data(), bytes.size());
        return std::error_code();
    }));
    EXPECT_EQ(nothing, "");

    // the edge: an archive of exactly 2^31 - 1 bytes, and one byte more
    for (const std::int64_t extra : {0, 1}) {
        SCOPED_TRACE(extra);
        std::filesystem::resize_file(big, tre::ArchivePlan::sizeLimit - (8 + 74) + static_cast<std::uint64_t>(extra));
        tre::ArchivePlan edge;
        edge.addFile("big", big);
        const tre::PlanCheck edgeCheck = edge.check();
        EXPECT_EQ(edgeCheck.ok(), extra == 0);
        EXPECT_EQ(edgeCheck.archiveSize, tre::ArchivePlan::sizeLimit + extra);
    }
}

// A file that changes between the check and the copy, or a write that is
// stopped, leaves no archive and no temporary file: the old one stays.
TEST(ArchiveWriter, ChangedInputsAndStopsLeaveTheOldArchive)
{
    const TempDir dir;
    const std::filesystem::path input = dir.path() / "input";
    const std::filesystem::path output = dir.path() / "out.tre";
    struct Case {
        const char* what;
        std::function<void()> change;
        std::error_code expected;
        bool stop = false;
    };
    const std::vector<Case> cases{
        {"grown", [&] { std::ofstream(input, std::ios::app) << "more"; }, tre::Errc::changedWhileRead},
        {"shrunk", [&] { std::filesystem::resize_file(input, 3); }, tre::Errc::changedWhileRead},
        {"removed", [&] { std::filesystem::remove(input); },
         std::make_error_code(std::errc::no_such_file_or_directory)},
        {"stopped", [] {}, std::make_error_code(std::errc::operation_canceled), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(output, "old archive");
        writeFile(input, std::string(5000, 'i'));
        std::filesystem::last_write_time(input, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
        tre::ArchivePlan plan;
        plan.addFile("input", input);
        ASSERT_TRUE(plan.check().ok());
        c.change();
        tre::WriteOptions options;
        options.progress = [&](const tre::WriteProgress&) { return !c.stop; };
        const tre::Result<std::int64_t> written = tre::writeArchive(plan, output, options);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().code.default_error_condition(), c.expected.default_error_condition());
        EXPECT_EQ(readFile(output), "old archive");
        const bool inputLeft = std::filesystem::exists(input);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), inputLeft ? 2 : 1);
    }
}

// For any folder of regular files with names that fit, packing it and
// extracting the archive gives the same tree; packing copies made in other
// orders gives the same bytes.
TEST_F(PackTest, PackingThenExtractingGivesTheTreeBack)
{
    std::mt19937 random(5);
    std::vector<std::pair<std::string, std::string>> files{
        {"readme.txt", "hello\n"},
        {"empty", ""},
        {"a/b/c/deep.bin", std::string("\0\r\n\xff", 4)},
        {"a/b/sibling", "s"},
        {"caf\xc3\xa9", "utf-8"},
        {"sp ace/na me", "blanks"},
        {std::string(64, 'L'), "longest name"},
    };
    for (int i = 0; i < 300; ++i) {
        files.emplace_back("gen/" + std::to_string(random() % 17) + "/" + std::to_string(i),
                           std::string(random() % 5000, static_cast<char>('a' + i % 26)));
    }
    std::vector<std::string> archives;
    for (int copy = 0; copy < 2; ++copy) {
        const std::filesystem::path folder = dir.path() / ("copy" + std::to_string(copy));
        // the second copy is made in reverse: its folders list in another order
        for (std::size_t i = 0; i < files.size(); ++i) {
            const auto& [name, bytes] = files[copy == 0 ? i : files.size() - 1 - i];
            makeFile(folder / fromUtf8(name), bytes);
        }
        std::filesystem::create_directories(folder / "empty folder");
        const std::string archive = dir / ("copy" + std::to_string(copy) + ".tre");
        const PackRun packed = runTrepack({"-f", archive, "-C", toUtf8(folder), "."});
        EXPECT_EQ(packed.status, 0) << packed.errors;
        EXPECT_EQ(packed.errors, "");
        archives.push_back(readFile(archive));
    }
    EXPECT_EQ(archives[0], archives[1]);
    const std::filesystem::path extracted = dir.path() / "extracted";
    EXPECT_EQ(runTool({"-f", dir / "copy0.tre", "-x", toUtf8(extracted), "-q"}).status, 0);
    EXPECT_EQ(filesBelow(extracted), filesBelow(dir.path() / "copy0"));
    // names in byte order, as LC_ALL=C sort gives them
    std::vector<std::string> names;
    for (const tre::Result<tre::Entry>& entry : tre::Archive::fromBytes(archives[0]).entries()) {
        names.emplace_back(entry->name());
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names.size(), files.size());
}

// --base keeps the old archive's header word and entries in their order,
// with their prefix bytes: a file of an entry's name replaces its bytes in
// place, new names come after in byte order, and excluded names go.
TEST_F(PackTest, ABaseArchiveIsKeptReplacedAppendedAndExcluded)
{
    const std::string old = dir / "old.tre";
    ArchiveWriter()
        .headerWord(1234)
        .add(TestRecord{.name = "z/last", .data = "Z", .prefixByte = 7})
        .add(TestRecord{.name = "a/first", .data = "A", .prefixByte = 3})
        .add(TestRecord{.name = "drop.me", .data = "D"})
        .add(TestRecord{.name = "dup", .data = "one", .prefixByte = 1})
        .add(TestRecord{.name = "dup", .data = "two", .prefixByte = 2})
        .writeTo(fromUtf8(old));
    makeFile(tree / "a/first", "new A");
    makeFile(tree / "dup", "new dup");
    makeFile(tree / "m/new", "appended");
    makeFile(tree / "b", "appended too");
    const PackRun packed =
        runTrepack({"--base", old, "-f", out, "-C", toUtf8(tree), ".", "--exclude", "drop.*", "--prefix-byte", "9"});
    EXPECT_EQ(packed.status, 0) << packed.errors;
    EXPECT_EQ(readBack(readFile(out)),
              (std::vector<std::string>{"1234", "7:z/last=Z", "3:a/first=new A", "1:dup=one", "2:dup=new dup",
                                        "9:b=appended too", "9:m/new=appended"}));
    // and --header-word wins over the base's
    EXPECT_EQ(runTrepack({"--base", old, "-f", out, "--header-word", "-5"}).status, 0);
    EXPECT_EQ(tre::Archive::fromBytes(readFile(out)).headerWord(), -5);
}

// Any archive at all, damaged and hostile ones too, repacks entry for
// entry: names, prefix bytes, and the bytes the archive holds. A damaged
// entry goes in with the bytes that are there, and is said so.
TEST_F(PackTest, AnyArchiveRepacksAndTheRepackRoundTrips)
{
    const std::string hostile = dir / "hostile.tre";
    ArchiveWriter()
        .headerWord(-1)
        .add(TestRecord{.name = std::string(65, 'x'), .data = "full field", .prefixByte = 255})
        .add(TestRecord{.name = "../up", .data = "unsafe"})
        .add(TestRecord{.name = "same", .data = "1"})
        .add(TestRecord{.name = "same", .data = "2"})
        .add(TestRecord{.name = "negative", .data = "abc", .size = -3})
        .add(TestRecord{.name = "before", .data = "x", .offset = -1})
        .add(TestRecord{.name = "past", .data = "ab", .size = 4})
        .claimCount(9)
        .writeTo(fromUtf8(hostile));
    const PackRun repacked = runTrepack({"--base", hostile, "-f", out});
    EXPECT_EQ(repacked.status, 1);
    EXPECT_EQ(repacked.errors, "trepack: entry 4 (negative) of " + hostile +
                                   " has an invalid size: it goes in with the 0 bytes the archive holds of it\n"
                                   "trepack: entry 5 (before) of " +
                                   hostile +
                                   " has an invalid offset: it goes in with the 0 bytes the archive holds of it\n"
                                   "trepack: entry 6 (past) of " +
                                   hostile +
                                   " runs past the end of the archive: it goes in with the 2 bytes the archive holds "
                                   "of it\n");
    const std::string b = readFile(out);
    EXPECT_EQ(readBack(b),
              (std::vector<std::string>{"-1", "255:" + std::string(65, 'x') + "=full field", "0:../up=unsafe",
                                        "0:same=1", "0:same=2", "0:negative=", "0:before=", "0:past=ab"}));
    EXPECT_TRUE(tre::checkArchive(tre::Archive::fromBytes(b)).whole());
    // what trepack wrote comes back byte for byte: repacked alone, or
    // extracted and packed again over itself
    const std::string again = dir / "again.tre";
    EXPECT_EQ(runTrepack({"--base", out, "-f", again}).status, 0);
    EXPECT_EQ(readFile(again), b);
    ASSERT_EQ(runTool({"-f", out, "-x", toUtf8(tree), "-q"}).status, 1); // ../up is unsafe
    EXPECT_EQ(runTrepack({"--base", out, "-f", again, "-C", toUtf8(tree), "."}).status, 0);
    EXPECT_EQ(readFile(again), b);
}

// Nothing wrong is ever written: each refusal names every offender, and
// OUT stays as it was.
TEST_F(PackTest, RefusalsWriteNothing)
{
    makeFile(tree / "ok", "fine");
    makeFile(tree / std::string(65, 'n'), "too long a name");
    makeFile(tree / "dup", "1");
    makeFile(dir.path() / "other/dup", "2");
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string errors; // what standard error starts with
    };
    const std::string t = toUtf8(tree);
    const std::vector<Case> cases{
        {{"-f", out, "-C", t, "ok", std::string(65, 'n')},
         1,
         "trepack: the name of " + t + "/" + std::string(65, 'n') +
             " is 65 bytes long; a name holds at most 64\ntrepack: nothing was written (" + out + " is unchanged)\n"},
        {{"-f", out, "-C", t, "dup", "-C", "../other", "dup"},
         1,
         "trepack: two inputs give the name dup: " + t + "/dup and " + t + "/../other/dup\n"},
        {{"-f", out, "-C", t, "ok", "missing"}, 1, "trepack: cannot read (" + t + "/missing): "},
        {{"-f", out, "/abs"}, 2, "trepack: '/abs' is an absolute path: give it relative to -C DIR\n"},
        {{"-f", out, "a/../b"}, 2, "trepack: 'a/../b' has a '..' part: give it relative to -C DIR\n"},
        {{"ok"}, 2, "trepack: -f OUT is needed"},
        {{"-f", out}, 2, "trepack: nothing to put in the archive"},
        {{"-f", out, "--prefix-byte", "256", "x"}, 2, "trepack: --prefix-byte takes a number from 0 to 255"},
        {{"-f", out, "--header-word", "2147483648", "x"}, 2, "trepack: --header-word takes a signed 32-bit"},
        {{"-f", out, "--bogus", "x"}, 2, "trepack: unknown option --bogus\n"},
        {{"-f", out, "--base", dir / "missing.tre"}, 1, "trepack: cannot read (" + dir / "missing.tre" + "): "},
        {{"-f", out, "-T", dir / "missing.txt"}, 1, "trepack: cannot read (" + dir / "missing.txt" + "): "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        writeFile(fromUtf8(out), "old");
        const PackRun run = runTrepack(c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.errors.substr(0, c.errors.size()), c.errors) << run.errors;
        EXPECT_EQ(readFile(fromUtf8(out)), "old");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3); // no temporary file left
}

// Standard output, the listing of --dry-run, -v's names, and lists of PATHs.
TEST_F(PackTest, OutputsListingsAndListsOfPaths)
{
    makeFile(tree / "a", "AA");
    makeFile(tree / "sub/b", "B");
    const std::string t = toUtf8(tree);
    const PackRun toFile = runTrepack({"-f", out, "-v", "-C", t, "sub", "a"});
    EXPECT_EQ(toFile.output, "a\nsub/b\n");
    // every old entry's name too, though they go at once
    EXPECT_EQ(runTrepack({"--base", out, "-f", dir / "again.tre", "-v"}).output, "a\nsub/b\n");
    // the fields' extremes, a sign and all
    ASSERT_EQ(runTrepack({"-f", dir / "edges.tre", "--prefix-byte", "+255", "--header-word=-2147483648", "-C", t, "a"})
                  .status,
              0);
    const tre::Archive edges = tre::Archive::fromBytes(readFile(dir.path() / "edges.tre"));
    EXPECT_EQ(edges.headerWord(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(edges.entry(0).value().prefixByte, 255);
    const PackRun toPipe = runTrepack({"-f", "-", "-v", "-C", t, "sub", "a"});
    EXPECT_EQ(toPipe.output, readFile(fromUtf8(out))); // the archive's bytes only; the names went to err
    EXPECT_EQ(toPipe.errors, "a\nsub/b\n");
    EXPECT_EQ(runTrepack({"-f", "-", "-C", t, "a"}, {.outputIsTerminal = true}).status, 2);
    const PackRun dryRun = runTrepack({"-f", dir / "never.tre", "-n", "-C", t, "."});
    EXPECT_EQ(dryRun.output, "0: a (2 bytes at offset 156)\n1: sub/b (1 bytes at offset 158)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "never.tre"));
    // -T lists, by lines and NUL-separated, relative to the -C before them
    writeFile(dir.path() / "lines", "a\r\n\nsub/b\n");
    writeFile(dir.path() / "nuls", std::string("a\0sub/b\0", 8));
    for (const std::vector<std::string>& list : {std::vector<std::string>{"-C", t, "-T", dir / "lines"},
                                                 std::vector<std::string>{"--null", "-C", t, "-T", dir / "nuls"}}) {
        std::vector<std::string> arguments{"-f", dir / "listed.tre"};
        arguments.insert(arguments.end(), list.begin(), list.end());
        EXPECT_EQ(runTrepack(arguments).status, 0);
        EXPECT_EQ(readFile(dir.path() / "listed.tre"), readFile(fromUtf8(out)));
    }
}

#if !defined(_WIN32)
// Links are left out unless followed; special files always; OUT itself,
// met in the walk, is left out without a failure; a new OUT gets the
// umask's mode, a replaced one keeps its own.
TEST_F(PackTest, LinksSpecialFilesTheArchiveItselfAndModes)
{
    makeFile(tree / "file", "F");
    std::filesystem::create_symlink("file", tree / "link");
    std::filesystem::create_directory_symlink("..", tree / "loop");
    ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);
    const std::string t = toUtf8(tree);
    const std::string inside = t + "/self.tre";
    const mode_t saved = ::umask(027);
    const PackRun plain = runTrepack({"-f", inside, "-C", t, "."});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.errors, "trepack: " + t +
                                "/fifo is a FIFO, a socket or a device: left out\n"
                                "trepack: " +
                                t +
                                "/link is a symbolic link: left out (-L follows links)\n"
                                "trepack: " +
                                t + "/loop is a symbolic link: left out (-L follows links)\n");
    struct stat status {};
    ASSERT_EQ(::stat(inside.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0640U);
    ::umask(saved);
    ASSERT_EQ(::chmod(inside.c_str(), 0604), 0);
    const PackRun followed = runTrepack({"-f", inside, "-L", "-q", "-C", t, "."});
    EXPECT_EQ(followed.status, 1); // the loop and the FIFO
    ASSERT_EQ(::stat(inside.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0604U);
    std::vector<std::string> names;
    for (const tre::Result<tre::Entry>& entry : tre::Archive::fromBytes(readFile(inside)).entries()) {
        names.emplace_back(entry->name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"file", "link"})); // never self.tre
    EXPECT_NE(followed.errors.find("leads back to a folder it lies in"), std::string::npos) << followed.errors;
}
#endif

#if !defined(_WIN32)
// SIGTERM in the middle of a write: the real program stops, removes its
// temporary file, leaves OUT as it was, and ends by the signal.
TEST_F(PackTest, ASignalMidWriteLeavesNothingBehind)
{
    const std::filesystem::path big = tree / "big";
    makeFile(big, "");
    std::filesystem::resize_file(big, std::uint64_t{3} << 29U); // 1.5 GiB, sparse: seconds to copy
    writeFile(fromUtf8(out), "old");
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(TREPACK_EXECUTABLE, "trepack", "-q", "-f", out.c_str(), "-C", tree.c_str(), ".", nullptr);
        ::_exit(127);
    }
    const auto temporaries = [&] {
        std::vector<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(dir.path())) {
            if (item.path().filename().string().starts_with("out.tre.")) {
                found.push_back(item.path().filename().string());
            }
        }
        return found;
    };
    bool started = false;
    for (int i = 0; i < 5000 && !started; ++i) {
        started = !temporaries().empty();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(started);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(readFile(fromUtf8(out)), "old");
    EXPECT_EQ(temporaries(), std::vector<std::string>{});
}
#endif
