// The Windows body of ByteBlock's allocation.
#include <algorithm>
#include <malloc.h>
#include <new>

#include "support/ByteBlock.h"

namespace tre {

void* allocateBlock(std::size_t size)
{
    void* block = ::_aligned_malloc(std::max<std::size_t>(size, 1), 4096);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void releaseBlock(void* block) noexcept { ::_aligned_free(block); }

// Large pages need a privilege that programs seldom have: no advice here.
void adviseLargePages(void* /*start*/, std::size_t /*size*/) noexcept {}

} // namespace tre
