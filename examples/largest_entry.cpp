// A program outside the project, built against the installed library: it
// prints an archive's entry count and its largest entry with the entry's
// first bytes, and with a pattern and a folder extracts the entries whose
// names match, safely.
// Usage: largest_entry <archive> [<pattern> <folder>]
#include <array>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include <tre/tre.h>

// Names and bytes come from the archive: a control byte written to a
// terminal could move the cursor or retitle the window, so each is shown as
// \xNN instead.
static std::string printable(std::string_view text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') {
            std::array<char, 5> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
            shown += escaped.data();
        } else {
            shown += c;
        }
    }
    return shown;
}

int main(int argc, char* argv[])
{
    if (argc != 2 && argc != 4) {
        std::cerr << "usage: largest_entry <archive> [<pattern> <folder>]\n";
        return 2;
    }
    tre::Result<tre::Archive> archive = tre::Archive::open(argv[1]);
    if (!archive) {
        std::cerr << argv[1] << ": " << archive.error().message() << '\n';
        return 1;
    }
    std::optional<tre::Entry> largest;
    for (const tre::Result<tre::Entry>& entry : archive->entries()) {
        if (!entry) {
            std::cerr << argv[1] << ": the directory ends early: " << entry.error().message() << '\n';
            break;
        }
        if (!largest || entry->size > largest->size) {
            largest = *entry;
        }
    }
    std::cout << "entries: " << archive->entryCount() << " (library " << tre::version << ")\n";
    if (largest) {
        std::array<char, 16> head{};
        const tre::Result<std::size_t> read = archive->read(*largest, 0, head);
        std::cout << "largest: " << largest->number << ": " << printable(largest->name()) << " (" << largest->size
                  << " bytes), starting \"" << printable(std::string_view(head.data(), read.value_or(0))) << "\"\n";
    }
    if (argc == 4) {
        tre::Result<tre::FolderExtraction> folder = tre::FolderExtraction::open(*archive, argv[3]);
        if (!folder) {
            std::cerr << argv[3] << ": " << folder.error().message() << '\n';
            return 1;
        }
        const tre::Pattern selection(argv[2]);
        int extracted = 0;
        for (const tre::Result<tre::Entry>& entry : archive->entries()) {
            if (!entry) {
                std::cerr << argv[1] << ": the directory ends early: " << entry.error().message() << '\n';
                return 1;
            }
            if (selection.matches(entry->name())) {
                const tre::ExtractedEntry result = folder->extract(*entry);
                const bool whole = result.outcome == tre::Outcome::written && result.bytes == entry->size;
                extracted += whole ? 1 : 0;
                if (!whole) {
                    std::cerr << printable(entry->name()) << ": " << result.message() << '\n';
                }
            }
        }
        std::cout << "extracted: " << extracted << '\n';
    }
    return 0;
}
