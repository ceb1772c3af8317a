// The POSIX body of ByteBlock's allocation.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

#include "support/ByteBlock.h"

namespace tre {

void* allocateBlock(std::size_t size)
{
    constexpr std::size_t page = 4096;
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + page - 1) / page * page;
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): ByteBlock owns the block
    void* block = std::aligned_alloc(page, rounded);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// NOLINTNEXTLINE(cppcoreguidelines-no-malloc): releases what allocateBlock took
void releaseBlock(void* block) noexcept { std::free(block); }

void adviseLargePages(void* start, std::size_t size) noexcept
{
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t largePage = std::uintptr_t{2} << 20;
    // only whole large pages inside the block: advice never reaches past it
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (address + largePage - 1) & ~(largePage - 1);
    const std::uintptr_t end = (address + size) & ~(largePage - 1);
    if (end > first) {
        // (the block's own pointer, moved: no pointer made from an integer)
        void* inside = static_cast<char*>(start) + (first - address);
        ::madvise(inside, end - first, MADV_HUGEPAGE);
    }
#else
    static_cast<void>(start);
    static_cast<void>(size);
#endif
}

} // namespace tre
