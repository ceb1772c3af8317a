// Repacks any bytes as an archive and checks the round trip: the new
// archive has the old one's header word and, entry for entry, its names,
// prefix bytes and the bytes it held of each; it is whole; and repacked
// again it gives the same bytes.
#include <cstdlib>
#include <string>

#include "tre/Archive.h"
#include "tre/Check.h"
#include "tre/Writer.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// Every entry of `archive`, in its order, into a new archive in memory.
std::string repack(const tre::Archive& archive)
{
    tre::ArchivePlan plan;
    plan.setHeaderWord(archive.headerWord());
    tre::EntryWalk walk = archive.entries();
    tre::Entry entry;
    while (walk.next(entry)) {
        plan.addEntry(archive, entry);
    }
    require(!walk.error() && plan.check().ok());
    std::string bytes;
    const tre::Result<std::int64_t> written = tre::writeArchive(plan, [&](std::span<const char> piece) {
        bytes.append(piece.data(), piece.size());
        return std::error_code();
    });
    require(written && *written == static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tre::Archive old = tre::Archive::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    const std::string bytes = repack(old);
    const tre::Archive made = tre::Archive::fromBytes(bytes);
    require(made.headerWord() == old.headerWord() && made.entryCount() == old.entryCount());
    require(tre::checkArchive(made).whole());
    for (std::int32_t number = 0; number < old.entryCount(); ++number) {
        const tre::Entry was = old.entry(number).value();
        const tre::Entry now = made.entry(number).value();
        require(now.name() == was.name() && now.prefixByte == was.prefixByte);
        std::string held(static_cast<std::size_t>(old.storedBytes(was)), '\0');
        require(old.read(was, 0, held).value() == held.size());
        require(made.readString(now).value() == held);
    }
    require(repack(made) == bytes);
    return 0;
}
