#pragma once

// What the Windows bodies of the support units share (FileWindows.cpp
// defines them); nothing outside those bodies includes this.

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace tre {

// A GetLastError() code as an error code whose message is the system's own.
std::error_code systemError(unsigned long code);
// CreateFileW, with the reason in `error` (a folder opened as a file is
// "is a directory", an empty path "no such file"); -1 when it fails.
std::intptr_t openNative(const std::filesystem::path& path, unsigned long access, unsigned long share,
                         unsigned long disposition, unsigned long flags, std::error_code& error);

} // namespace tre
