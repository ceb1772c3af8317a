#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One JSON Lines object per entry, for scripts:
//   {"entry":N,"name":"NAME","size":S,"offset":O}
// NAME holds every valid UTF-8 character of the stored name as it is, but
// `"` and `\` escaped, the C0 controls, DEL and U+0080 to U+009F as
// \u00XX (or \b \t \n \f \r), and every byte that is not part of valid
// UTF-8 as \ufffd; then the object ends with "name_hex", the name's bytes in
// hexadecimal, so that no name is ever lost. The line is valid UTF-8 and
// holds nothing that can drive a terminal.

// Room that the line of a name of `nameSize` bytes needs, line feed included.
constexpr std::size_t jsonLineCapacity(std::size_t nameSize) { return 128 + 8 * nameSize; }

// Writes the line, line feed included, at `at` (jsonLineCapacity() bytes of
// room); returns where it ends.
char* writeJsonLine(char* at, std::int32_t entry, std::string_view name, std::int32_t size, std::int32_t offset);
