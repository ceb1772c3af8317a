#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Builds TRE archives byte by byte, for tests and the sample archive; the
// tool itself never writes one. Data is laid out behind the directory in
// record order; any field can be overridden to build damaged archives.
struct TestRecord {
    std::string name{};
    std::string data{};
    std::optional<std::int32_t> offset{}; // default: where `data` is placed
    std::optional<std::int32_t> size{};   // default: data.size()
    char nameFill = '\0';                 // bytes behind the name's NUL
    std::uint8_t prefixByte = 0;
};

class ArchiveWriter {
public:
    ArchiveWriter& add(std::string name, std::string data);
    ArchiveWriter& add(TestRecord record);
    // claims a count other than the number of records
    ArchiveWriter& claimCount(std::int32_t count);
    ArchiveWriter& headerWord(std::int32_t word);

    [[nodiscard]] std::string bytes() const;
    void writeTo(const std::filesystem::path& path) const;

private:
    std::vector<TestRecord> records_;
    std::optional<std::int32_t> count_;
    std::int32_t headerWord_ = 0;
};

void appendInt32(std::string& bytes, std::int32_t value);
// Creates or replaces the file with exactly these bytes; throws on failure.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
