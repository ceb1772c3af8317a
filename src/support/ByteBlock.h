#pragma once

#include <cstddef>
#include <span>

// An owned block of bytes, left uninitialised: nothing fills it before it is
// read into.
class ByteBlock {
public:
    // `huge` asks for the platform's huge pages where it has them: filling
    // 74 MB then takes dozens of page faults instead of tens of thousands
    // (measured: a million-entry directory loads in 21 ms instead of 49). It
    // is not asked for entry data: there the first touch of a gigabyte of
    // huge pages was measured to vary from 0.45 s to 4 s between runs.
    enum class Pages { normal, huge };

    ByteBlock() = default;
    explicit ByteBlock(std::size_t size, Pages pages = Pages::normal);
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

// Platform bodies (one per platform): throw std::bad_alloc on failure.
void* allocateBlock(std::size_t size, ByteBlock::Pages pages);
void releaseBlock(void* block) noexcept;
