#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A private folder for one fuzzing process, removed when it exits.
const std::string& fuzzFolder();
void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
