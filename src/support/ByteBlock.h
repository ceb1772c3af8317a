#pragma once

#include <cstddef>
#include <span>

namespace tre {

// An owned block of bytes, left uninitialised: nothing fills it before it is
// read into.
class ByteBlock {
public:
    ByteBlock() = default;
    explicit ByteBlock(std::size_t size);
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;
    ByteBlock(ByteBlock&& other) noexcept;
    ByteBlock& operator=(ByteBlock&& other) noexcept;
    ~ByteBlock();

    [[nodiscard]] char* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::span<char> span() const { return {data_, size_}; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Platform bodies (MemoryPosix.cpp, MemoryWindows.cpp): throw std::bad_alloc
// on failure.
// Page-aligned: the kernel copies into and out of a block that is not
// (malloc's usual 16 bytes past a page) at a fraction of the speed.
void* allocateBlock(std::size_t size);
void releaseBlock(void* block) noexcept;

// Asks that memory about to be filled come in large pages where the system
// has them: a table of a hundred megabytes then costs fifty faults, not
// twenty-five thousand. Only advice; nothing changes where it is not taken.
void adviseLargePages(void* start, std::size_t size) noexcept;

} // namespace tre
