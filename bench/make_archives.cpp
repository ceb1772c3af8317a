// Writes the benchmark's archives into a folder:
//   big.tre       ENTRIES entries (names of 20 to 64 bytes, 16 bytes of data each)
//   big.txt       the listing that `tretool -f big.tre -l` must print
//   big.dir       the first bytes of big.tre: header and directory only
//   huge.tre      one entry of HUGE_MIB MiB behind a one-record directory
//   huge.entry    a file of the entry's size, for cp
//   names.tre     100,000 entries of 20 to 64 bytes, all *.txt, for -m
//   deep.tre      ENTRIES empty entries whose names hold 30 folders each, all distinct
//   set/, set.txt ENTRIES / 1,000 archives of 1,000 entries each, and their list
//   small.tre     three small entries, for start-up time
//   sparse.tre    4 GiB, nearly all holes, whose header claims 2^31-1 entries
//   tree.tre      TREE entries of 100 to 8,000 bytes, a hundred to a folder
//   tree/         the same files, as a folder tree (for tar)
//   random.tre    one entry "big" of RANDOM MiB of random bytes (for the mount)
// Usage: make_archives <folder> <entries> <huge MiB> <tree entries> [<tree folder> [<random MiB>]]
// (tree.tre, tree/ and random.tre go to the tree folder when one is given)
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "ArchiveWriter.h"

namespace {

constexpr std::size_t dataPerEntry = 16;
constexpr std::int64_t mebibyte = std::int64_t{1} << 20;

void writeBig(const std::filesystem::path& folder, std::int32_t entries)
{
    ArchiveWriter writer;
    std::string listing;
    for (std::int32_t i = 0; i < entries; ++i) {
        // deterministic names of 20 to 64 bytes, spread over folders
        std::string name = "folder" + std::to_string(i % 97) + "/entry" + std::to_string(i) + ".bin";
        name.resize(20 + static_cast<std::size_t>(i % 45), 'x');
        listing += std::to_string(i) + ": " + name + "\n";
        writer.add(std::move(name), std::string(dataPerEntry, static_cast<char>('a' + i % 26)));
    }
    const std::string bytes = writer.bytes();
    writeFile(folder / "big.tre", bytes);
    writeFile(folder / "big.txt", listing);
    writeFile(folder / "big.dir", bytes.substr(0, 8 + static_cast<std::size_t>(entries) * 74));
}

// Names that each hold 30 folders of their own: "abcd/a/b/.../f", all distinct.
void writeDeep(const std::filesystem::path& folder, std::int32_t entries)
{
    ArchiveWriter writer;
    constexpr std::string_view digits = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (std::int32_t i = 0; i < entries; ++i) {
        std::string name;
        for (std::int32_t rest = i, k = 0; k < 4; ++k, rest /= 62) {
            name += digits[static_cast<std::size_t>(rest % 62)];
        }
        for (int depth = 0; depth < 29; ++depth) {
            name += '/';
            name += digits[static_cast<std::size_t>((i + depth) % 62)];
        }
        writer.add(name + "/f", "");
    }
    writer.writeTo(folder / "deep.tre");
}

// A set of archives of 1,000 entries each, later ones over earlier ones:
// half their paths shared by all, half their own; set.txt lists them.
void writeSet(const std::filesystem::path& folder, std::int32_t archives)
{
    std::filesystem::create_directories(folder / "set");
    std::string list;
    for (std::int32_t archive = 0; archive < archives; ++archive) {
        ArchiveWriter writer;
        for (std::int32_t k = 0; k < 1000; ++k) {
            const std::string name = k < 500 ? "shared/d" + std::to_string(k % 20) + "/f" + std::to_string(k)
                                             : "own" + std::to_string(archive) + "/f" + std::to_string(k);
            writer.add(name + ".bin", std::to_string(archive));
        }
        const std::string path = "set/" + std::to_string(archive) + ".tre";
        writer.writeTo(folder / path);
        list += path + "\n";
    }
    writeFile(folder / "set.txt", list);
}

void writeNames(const std::filesystem::path& folder)
{
    ArchiveWriter writer;
    for (std::int32_t i = 0; i < 100000; ++i) {
        std::string name = "docs" + std::to_string(i % 89) + "/page" + std::to_string(i);
        name.resize(16 + static_cast<std::size_t>(i % 45), '-');
        writer.add(name + ".txt", "");
    }
    writer.writeTo(folder / "names.tre");
}

void appendPattern(std::ofstream& file, std::int64_t bytes)
{
    std::vector<char> block(static_cast<std::size_t>(mebibyte));
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>((i * 2654435761U) >> 24U);
    }
    for (std::int64_t written = 0; written < bytes; written += mebibyte) {
        file.write(block.data(), static_cast<std::streamsize>(std::min(mebibyte, bytes - written)));
    }
}

void writeHuge(const std::filesystem::path& folder, std::int64_t mebibytes)
{
    const std::int64_t size = mebibytes * mebibyte;
    std::ofstream archive(folder / "huge.tre", std::ios::binary | std::ios::trunc);
    const std::string directory =
        ArchiveWriter().add(TestRecord{.name = "huge/entry.bin", .size = static_cast<std::int32_t>(size)}).bytes();
    archive.write(directory.data(), static_cast<std::streamsize>(directory.size()));
    appendPattern(archive, size);
    std::ofstream entry(folder / "huge.entry", std::ios::binary | std::ios::trunc);
    appendPattern(entry, size);
    if (!archive || !entry) {
        throw std::runtime_error("cannot write the huge archive");
    }
}

void writeTree(const std::filesystem::path& folder, std::int32_t entries)
{
    ArchiveWriter writer;
    // a hundred files a folder, each folder's files together, as archive tools write them
    for (std::int32_t i = 0; i < entries; ++i) {
        const std::string folderName = "folder" + std::to_string(i / 100);
        const std::string name = folderName + "/file" + std::to_string(i) + ".bin";
        std::string data(100 + static_cast<std::size_t>(i) * 7919 % 7901, '\0');
        for (std::size_t k = 0; k < data.size(); ++k) {
            data[k] = static_cast<char>((k + static_cast<std::size_t>(i)) * 2654435761U >> 24U);
        }
        std::filesystem::create_directories(folder / "tree" / folderName);
        writeFile(folder / "tree" / name, data);
        writer.add(name, std::move(data));
    }
    writer.writeTo(folder / "tree.tre");
}

void writeRandom(const std::filesystem::path& folder, std::int64_t mebibytes)
{
    const std::int64_t size = mebibytes * mebibyte;
    std::ofstream archive(folder / "random.tre", std::ios::binary | std::ios::trunc);
    const std::string directory =
        ArchiveWriter().add(TestRecord{.name = "big", .size = static_cast<std::int32_t>(size)}).bytes();
    archive.write(directory.data(), static_cast<std::streamsize>(directory.size()));
    std::mt19937_64 random(2026); // NOLINT(cert-msc32-c,cert-msc51-cpp): the same bytes every run
    std::vector<std::uint64_t> block(static_cast<std::size_t>(mebibyte) / 8);
    for (std::int64_t written = 0; written < size; written += mebibyte) {
        std::generate(block.begin(), block.end(), std::ref(random));
        archive.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(mebibyte));
    }
    if (!archive) {
        throw std::runtime_error("cannot write the random archive");
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 5 || argc > 7) {
        std::cerr
            << "usage: make_archives <folder> <entries> <huge MiB> <tree entries> [<tree folder> [<random MiB>]]\n";
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        writeBig(folder, std::stoi(argv[2]));
        writeHuge(folder, std::stoll(argv[3]));
        const std::filesystem::path treeFolder = argc >= 6 ? std::filesystem::path(argv[5]) : folder;
        writeTree(treeFolder, std::stoi(argv[4]));
        if (argc == 7) {
            writeRandom(treeFolder, std::stoll(argv[6]));
        }
        writeNames(folder);
        writeDeep(folder, std::stoi(argv[2]));
        writeSet(folder, std::max(std::stoi(argv[2]) / 1000, 1));
        ArchiveWriter().add("a.txt", "a").add("b/c.txt", "bc").add("d", "").writeTo(folder / "small.tre");
        ArchiveWriter().claimCount(0x7fffffff).add("first.bin", "sixteen bytes...").writeTo(folder / "sparse.tre");
        std::filesystem::resize_file(folder / "sparse.tre", std::uintmax_t{4} << 30);
    } catch (const std::exception& error) {
        std::cerr << "make_archives: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
