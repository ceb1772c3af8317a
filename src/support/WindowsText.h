#pragma once

// Text between the system's UTF-16 and the UTF-8 used everywhere else
// (WindowsText.cpp); for the Windows bodies only.

#include <string>
#include <string_view>

namespace tre {

std::string narrowPath(std::wstring_view text);
std::wstring widenPath(std::string_view utf8);

} // namespace tre
