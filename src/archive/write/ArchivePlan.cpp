#include <algorithm>
#include <limits>
#include <utility>

#include "archive/write/PlanData.h"
#include "support/ByteBlock.h"
#include "support/File.h"
#include "tre/Writer.h"

namespace tre {

namespace {

using detail::PlannedEntry;
using detail::SourceKind;

constexpr std::size_t longestName = Entry::nameFieldSize - 1;

// The name's place among the names.
PlannedEntry nameEntry(detail::PlanData& data, std::string_view name)
{
    PlannedEntry entry;
    // a name past 255 bytes is refused whatever its length: its start tells which it is
    name = name.substr(0, std::numeric_limits<std::uint8_t>::max());
    if (data.names.size() + name.size() > std::numeric_limits<std::uint32_t>::max()) {
        data.overflowed = true; // far past any archive's limits: check() refuses the plan
        return entry;
    }
    entry.nameAt = static_cast<std::uint32_t>(data.names.size());
    entry.nameLength = static_cast<std::uint8_t>(name.size());
    data.names.append(name);
    return entry;
}

std::size_t append(detail::PlanData& data, PlannedEntry entry)
{
    data.checked = false;
    data.entries.push_back(entry);
    return data.entries.size() - 1;
}

void fromFile(detail::PlanData& data, PlannedEntry& entry, const std::filesystem::path& path)
{
    entry.kind = SourceKind::file;
    if (data.pathAt.empty()) {
        data.pathAt.push_back(0);
    }
    entry.source = static_cast<std::uint32_t>(data.pathAt.size() - 1);
    entry.size = -1;
    data.pathChars += path.native();
    data.pathAt.push_back(data.pathChars.size());
}

void fromBytes(detail::PlanData& data, PlannedEntry& entry, std::span<const std::byte> bytes)
{
    entry.kind = SourceKind::bytes;
    entry.source = static_cast<std::uint32_t>(data.buffers.size());
    entry.size = static_cast<std::int64_t>(bytes.size());
    data.buffers.push_back(bytes);
}

PlanProblem problem(std::size_t entry, Errc condition, std::int64_t size = 0)
{
    return {entry, Error{Step::planArchive, condition}, size};
}

} // namespace

ArchivePlan::ArchivePlan() : data_(std::make_unique<detail::PlanData>()) {}
ArchivePlan::ArchivePlan(ArchivePlan&& other) noexcept = default;
ArchivePlan& ArchivePlan::operator=(ArchivePlan&& other) noexcept = default;
ArchivePlan::~ArchivePlan() = default;

void ArchivePlan::setHeaderWord(std::int32_t word) { data_->headerWord = word; }
std::int32_t ArchivePlan::headerWord() const { return data_->headerWord; }

std::size_t ArchivePlan::addFile(std::string_view name, const std::filesystem::path& path, std::uint8_t prefixByte)
{
    PlannedEntry entry = nameEntry(*data_, name);
    entry.prefixByte = prefixByte;
    fromFile(*data_, entry, path);
    return append(*data_, entry);
}

std::size_t ArchivePlan::addBytes(std::string_view name, std::span<const std::byte> bytes, std::uint8_t prefixByte)
{
    PlannedEntry entry = nameEntry(*data_, name);
    entry.prefixByte = prefixByte;
    fromBytes(*data_, entry, bytes);
    return append(*data_, entry);
}

std::size_t ArchivePlan::addEntry(const Archive& archive, const Entry& from)
{
    PlannedEntry entry = nameEntry(*data_, from.name());
    entry.prefixByte = from.prefixByte;
    entry.kind = SourceKind::archive;
    entry.fullField = from.name().size() == Entry::nameFieldSize;
    const std::shared_ptr<detail::ArchiveState>& state = detail::ArchiveAccess::state(archive);
    if (data_->archives.empty() || data_->archives.back() != state) {
        data_->archives.push_back(state);
    }
    entry.source = static_cast<std::uint32_t>(data_->archives.size() - 1);
    // only the bytes the archive holds: never a byte that is not there
    entry.size = archive.storedBytes(from);
    entry.offset = from.offset;
    entry.modified = from.number;
    const std::string_view afterName = std::string_view(from.nameField.data(), from.nameField.size())
                                           .substr(std::min(from.name().size() + 1, from.nameField.size()));
    entry.recordAsIs = entry.size == from.size && afterName.find_first_not_of('\0') == std::string_view::npos;
    return append(*data_, entry);
}

void ArchivePlan::reserve(std::size_t entries)
{
    data_->entries.reserve(entries);
    // room for the longest names: what is never written takes no memory
    data_->names.reserve(entries * Entry::nameFieldSize);
    adviseLargePages(data_->entries.data(), data_->entries.capacity() * sizeof(detail::PlannedEntry));
    adviseLargePages(data_->names.data(), data_->names.capacity());
}

void ArchivePlan::replaceWithFile(std::size_t index, const std::filesystem::path& path)
{
    fromFile(*data_, data_->entries.at(index), path);
    data_->checked = false;
}

void ArchivePlan::replaceWithBytes(std::size_t index, std::span<const std::byte> bytes)
{
    fromBytes(*data_, data_->entries.at(index), bytes);
    data_->checked = false;
}

std::size_t ArchivePlan::entryCount() const { return data_->entries.size(); }

std::string_view ArchivePlan::name(std::size_t index) const
{
    const PlannedEntry& entry = data_->entries.at(index);
    return std::string_view(data_->names).substr(entry.nameAt, entry.nameLength);
}

std::uint8_t ArchivePlan::prefixByte(std::size_t index) const { return data_->entries.at(index).prefixByte; }
std::int64_t ArchivePlan::size(std::size_t index) const { return data_->entries.at(index).size; }

PlanCheck ArchivePlan::check()
{
    PlanCheck check;
    detail::PlanData& data = *data_;
    const auto count = static_cast<std::int64_t>(data.entries.size());
    if (data.overflowed || count > sizeLimit) {
        check.problems.push_back(problem(PlanProblem::wholeArchive, Errc::archiveTooLarge, count));
        return check;
    }
    std::int64_t total = Archive::headerSize + count * Archive::recordSize;
    FileOpener files;
    for (std::size_t index = 0; index < data.entries.size(); ++index) {
        PlannedEntry& entry = data.entries[index];
        const std::string_view entryName = name(index);
        if (entryName.size() > longestName && !(entry.fullField && entryName.size() == Entry::nameFieldSize)) {
            check.problems.push_back(problem(index, Errc::nameTooLong, static_cast<std::int64_t>(entryName.size())));
        }
        if (entryName.find('\0') != std::string_view::npos) {
            check.problems.push_back(problem(index, Errc::nameHoldsNul));
        }
        if (entry.kind == SourceKind::file) {
            const NativePathView path = detail::pathOf(data, entry.source);
            FileStatus status;
            std::error_code error = files.status(path, status);
            if (!error && status.folder) {
                error = std::make_error_code(std::errc::is_a_directory);
            } else if (!error) {
                error = files.checkReadable(path);
            }
            if (error) {
                check.problems.push_back({index, Error{Step::readFile, error}, 0});
                continue;
            }
            entry.size = status.size;
            entry.modified = status.modified;
        }
        if (entry.size > sizeLimit) {
            check.problems.push_back(problem(index, Errc::entryTooLarge, entry.size));
        }
        // (sizes of at most 2^31 - 1 over at most 2^31 - 1 entries cannot pass 64 bits)
        total += std::max<std::int64_t>(entry.size, 0);
    }
    check.archiveSize = total;
    if (total > sizeLimit) {
        check.problems.push_back(problem(PlanProblem::wholeArchive, Errc::archiveTooLarge, total));
    }
    data.checked = check.ok();
    data.archiveSize = total;
    return check;
}

} // namespace tre
