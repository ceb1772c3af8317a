#include "support/ByteBlock.h"

#include <utility>

namespace tre {

ByteBlock::ByteBlock(std::size_t size) : data_(static_cast<char*>(allocateBlock(size))), size_(size) {}

ByteBlock::ByteBlock(ByteBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept
{
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
}

ByteBlock::~ByteBlock() { releaseBlock(data_); }

} // namespace tre
