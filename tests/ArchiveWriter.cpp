#include "ArchiveWriter.h"

#include <fstream>
#include <stdexcept>

namespace {

constexpr std::size_t headerSize = 8;
constexpr std::size_t recordSize = 74;
constexpr std::size_t nameFieldSize = 65;

} // namespace

void appendInt32(std::string& bytes, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (unsigned shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((bits >> shift) & 0xFFU));
    }
}

ArchiveWriter& ArchiveWriter::add(std::string name, std::string data)
{
    return add(TestRecord{.name = std::move(name), .data = std::move(data)});
}

ArchiveWriter& ArchiveWriter::add(TestRecord record)
{
    if (record.name.size() > nameFieldSize) {
        throw std::invalid_argument("name longer than its field");
    }
    records_.push_back(std::move(record));
    return *this;
}

ArchiveWriter& ArchiveWriter::claimCount(std::int32_t count)
{
    count_ = count;
    return *this;
}

ArchiveWriter& ArchiveWriter::headerWord(std::int32_t word)
{
    headerWord_ = word;
    return *this;
}

std::string ArchiveWriter::bytes() const
{
    std::string out;
    appendInt32(out, count_.value_or(static_cast<std::int32_t>(records_.size())));
    appendInt32(out, headerWord_);
    auto dataOffset = headerSize + records_.size() * recordSize;
    std::string data;
    for (const TestRecord& record : records_) {
        out.push_back(static_cast<char>(record.prefixByte));
        std::string name = record.name;
        if (name.size() < nameFieldSize) {
            name.push_back('\0');
        }
        name.resize(nameFieldSize, record.nameFill);
        out += name;
        appendInt32(out, record.offset.value_or(static_cast<std::int32_t>(dataOffset + data.size())));
        appendInt32(out, record.size.value_or(static_cast<std::int32_t>(record.data.size())));
        data += record.data;
    }
    return out + data;
}

void ArchiveWriter::writeTo(const std::filesystem::path& path) const { writeFile(path, bytes()); }

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}
