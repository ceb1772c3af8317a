// The Windows body of the programs' folder walks: FindFirstFileExW lists a
// folder with each item's attributes; reparse points count as links.
#include <memory>

#include "support/WindowsApi.h"

#include "support/File.h"
#include "support/Folders.h"
#include "support/WindowsText.h"

namespace {

std::error_code lastError() { return tre::lastSystemError(); }

ItemKind kindOf(DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ItemKind::link;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ItemKind::folder : ItemKind::file;
}

struct CloseFind {
    void operator()(HANDLE find) const noexcept { ::FindClose(find); }
};

} // namespace

std::error_code listFolder(const std::filesystem::path& folder, std::vector<FolderItem>& items)
{
    WIN32_FIND_DATAW found{};
    const std::filesystem::path pattern = folder / L"*";
    const HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH);
    if (first == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? std::error_code() : lastError();
    }
    const std::unique_ptr<void, CloseFind> find(first);
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        items.push_back({tre::narrowPath(name), kindOf(found.dwFileAttributes), {}});
    } while (::FindNextFileW(first, &found));
    return ::GetLastError() == ERROR_NO_MORE_FILES ? std::error_code() : lastError();
}

std::error_code lookAtPath(const std::filesystem::path& path, bool followLinks, ItemKind& kind, ItemIdentity& identity)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(handle, &information) != 0;
    const std::error_code error = known ? std::error_code() : lastError();
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    if (!known) {
        return error;
    }
    kind = type == FILE_TYPE_DISK ? kindOf(information.dwFileAttributes) : ItemKind::other;
    identity = {information.dwVolumeSerialNumber,
                (std::uint64_t{information.nFileIndexHigh} << 32U) | information.nFileIndexLow};
    return {};
}

std::filesystem::path childPath(const std::filesystem::path& folder, const std::string& name)
{
    return folder / tre::widenPath(name);
}
