// The POSIX body of ByteBlock's allocation.
#include <algorithm>
#include <cstdlib>
#include <new>

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

} // namespace tre
