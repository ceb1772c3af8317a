// Opens any bytes as an archive and walks every entry through every
// accessor, read and copy, checking that nothing is read that the bytes do
// not hold and that lookups and the walk agree.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tre/Archive.h"
#include "tre/Check.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const tre::Archive archive = tre::Archive::fromBytes(bytes);
    // every record must come from bytes that are really there
    require(archive.entryCount() == 0 ||
            static_cast<std::size_t>(archive.entryCount()) * tre::Archive::recordSize + tre::Archive::headerSize <=
                size);
    tre::EntryWalk walk = archive.entries();
    std::string buffer;
    tre::Entry entry;
    while (walk.next(entry)) {
        const tre::Result<tre::Entry> looked = archive.entry(entry.number);
        require(looked && looked->nameField == entry.nameField && looked->offset == entry.offset &&
                looked->size == entry.size && looked->prefixByte == entry.prefixByte);
        require(entry.name().size() <= tre::Entry::nameFieldSize && entry.name().find('\0') == std::string::npos);
        // what the bytes hold of the entry: all that a read may deliver
        const std::int64_t available = archive.storedBytes(entry);
        require(available >= 0 && available <= std::max(entry.size, 0));
        require(available == 0 || tre::checkEntry(archive, entry) == tre::EntryFault::none ||
                tre::checkEntry(archive, entry) == tre::EntryFault::runsPastEnd);
        std::string copied;
        const tre::Result<std::int64_t> copy = archive.copy(entry, [&](std::span<const char> chunk) {
            copied.append(chunk.data(), chunk.size());
            return std::error_code();
        });
        require(copy && *copy == available);
        // a whole read gives the same bytes, or says why it cannot
        const tre::Result<std::string> whole = archive.readString(entry);
        require(whole
                    ? *whole == copied && available == entry.size
                    : (whole.error().code == tre::Errc::dataMissing || whole.error().code == tre::Errc::invalidEntry));
        require(copied == bytes.substr(available > 0 ? static_cast<std::size_t>(entry.offset) : 0,
                                       static_cast<std::size_t>(available)));
        // one byte more than available, which must stay unwritten, from the middle on
        const std::int64_t from = available / 2;
        buffer.assign(static_cast<std::size_t>(available - from) + 1, '#');
        const tre::Result<std::size_t> read = archive.read(entry, from, buffer);
        require(read && static_cast<std::int64_t>(*read) == available - from && buffer.back() == '#');
        require(buffer.compare(0, *read, copied, static_cast<std::size_t>(from), *read) == 0);
    }
    require(walk.recordsRead() == archive.entryCount() && !walk.error());
    return 0;
}
