#pragma once

#include <cstddef>
#include <cstdint>

// What the benchmark's floor programs know of the format: nothing beyond
// the bytes they need, and no checks.
inline constexpr std::size_t recordSize = 74;

inline std::int32_t decodeInt32(const unsigned char* bytes)
{
    return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8U) |
                                     (std::uint32_t{bytes[2]} << 16U) | (std::uint32_t{bytes[3]} << 24U));
}
