// The Windows body of OutputTree: as on POSIX, every folder and file is
// opened from the handle of its folder (NtCreateFile with a root
// directory), never by a path rebuilt from text, so no path grows past the
// system's limits and nothing swapped in along the way is ever followed.
// Each folder is held open without shared deletion while the tool writes
// below it; reparse points (links, junctions) are opened as themselves and
// refused; files are created new (FILE_CREATE), never opened through a link.
#include <string>
#include <utility>

#include "support/WindowsApi.h"
// winternl.h needs windows.h first
#include <winternl.h>

#include "support/OutputTree.h"
#include "support/WindowsFiles.h"
#include "support/WindowsText.h"

namespace tre {

namespace {

// not in every winternl.h
constexpr ULONG fileOpenIf = 0x00000003;
constexpr ULONG fileNonDirectoryFile = 0x00000040;
constexpr ULONG fileSynchronousIoNonAlert = 0x00000020;
constexpr NTSTATUS statusObjectNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS statusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);
constexpr NTSTATUS statusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);

std::error_code ntError(NTSTATUS status) { return systemError(::RtlNtStatusToDosError(status)); }

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Opens or creates `name` in the folder `parent`, as NtCreateFile does.
NTSTATUS openIn(HANDLE parent, std::string_view name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                HANDLE& opened)
{
    std::wstring wide = widenPath(name);
    UNICODE_STRING objectName{};
    objectName.Buffer = wide.data();
    objectName.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io{};
    return ::NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                          disposition, options | fileSynchronousIoNonAlert | FILE_OPEN_REPARSE_POINT, nullptr, 0);
}

bool attributesOf(HANDLE handle, DWORD& attributes)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information)) {
        return false;
    }
    attributes = information.dwFileAttributes;
    return true;
}

// What stands at `name` in `parent`, looked at as itself (a link is not
// followed); false where nothing can be opened there.
bool lookAt(HANDLE parent, std::string_view name, DWORD& attributes)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (openIn(parent, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0,
               handle) < 0) {
        return false;
    }
    const bool known = attributesOf(handle, attributes);
    ::CloseHandle(handle);
    return known;
}

// The long form of a path, which no length limit applies to: \\?\C:\... or
// \\?\UNC\server\share\...; such a path is taken as it is, so it is made
// absolute and normal first.
std::filesystem::path longForm(const std::filesystem::path& path)
{
    const std::wstring& text = path.native();
    if (text.rfind(L"\\\\?\\", 0) == 0) {
        return path;
    }
    std::error_code error;
    const std::wstring absolute = std::filesystem::absolute(path, error).lexically_normal().native();
    if (error) {
        return path;
    }
    if (absolute.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

} // namespace

std::error_code OutputTree::open(const std::filesystem::path& folder)
{
    if (folder.empty()) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    const std::filesystem::path path = longForm(folder);
    std::error_code createError;
    std::filesystem::create_directories(path, createError);
    // for its attributes only (never for reading its listing), without shared deletion
    const HANDLE handle =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const std::error_code error = lastSystemError();
        return error == std::errc::no_such_file_or_directory && createError ? createError : error;
    }
    DWORD attributes = 0;
    if (!attributesOf(handle, attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return std::make_error_code(std::errc::not_a_directory);
    }
    root_ = reinterpret_cast<std::intptr_t>(handle);
    return {};
}

OutputTree::Created OutputTree::openFolder(std::string_view name)
{
    const HANDLE parent = handleOf(chain_.empty() ? root_ : chain_.back().handle);
    HANDLE handle = INVALID_HANDLE_VALUE;
    // made where missing; pinned: shared for reading and writing, never for deletion
    const NTSTATUS status = openIn(parent, name, FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, fileOpenIf, FILE_DIRECTORY_FILE, handle);
    if (status == statusNotADirectory) {
        DWORD attributes = 0;
        const bool link = lookAt(parent, name, attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return link ? Created{Result::throughLink, Making::folder, {}}
                    : Created{Result::failed, Making::folder, std::make_error_code(std::errc::not_a_directory)};
    }
    if (status < 0) {
        return {Result::failed, Making::folder, ntError(status)};
    }
    DWORD attributes = 0;
    if (!attributesOf(handle, attributes)) {
        const std::error_code error = lastSystemError();
        ::CloseHandle(handle);
        return {Result::failed, Making::folder, error};
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ::CloseHandle(handle);
        return {Result::throughLink, Making::folder, {}};
    }
    chain_.push_back({std::string(name), reinterpret_cast<std::intptr_t>(handle)});
    return {Result::created, Making::folder, {}};
}

OutputTree::Created OutputTree::createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep)
{
    const HANDLE parent = handleOf(chain_.empty() ? root_ : chain_.back().handle);
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        const NTSTATUS created = openIn(parent, name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_CREATE,
                                        fileNonDirectoryFile, handle);
        if (created >= 0) {
            file = File(reinterpret_cast<std::intptr_t>(handle));
            return {Result::created, Making::file, {}};
        }
        if (created == statusFileIsADirectory) {
            return {Result::failed, Making::file, std::make_error_code(std::errc::is_a_directory)};
        }
        if (created != statusObjectNameCollision) {
            return {Result::failed, Making::file, ntError(created)};
        }
        // what stands there is looked at, never what a link there leads to
        HANDLE existing = INVALID_HANDLE_VALUE;
        const NTSTATUS opened = openIn(parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, existing);
        if (opened < 0) {
            return {Result::failed, Making::file, ntError(opened)};
        }
        File found(reinterpret_cast<std::intptr_t>(existing));
        DWORD attributes = 0;
        if (!attributesOf(existing, attributes)) {
            return {Result::failed, Making::file, lastSystemError()};
        }
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
            return {Result::failed, Making::file, std::make_error_code(std::errc::is_a_directory)};
        }
        FileStatus status;
        if (keep && !link && !found.status(status) && status.identity == *keep) {
            return {Result::kept, Making::file, {}};
        }
        // a link is removed itself, never what it points to; a read-only file is replaced too
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = link ? attributes : FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(existing, FileBasicInfo, &basic, sizeof basic);
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (!::SetFileInformationByHandle(existing, FileDispositionInfo, &disposition, sizeof disposition)) {
            return {Result::failed, Making::file, lastSystemError()};
        }
    }
    return {Result::failed, Making::file, std::make_error_code(std::errc::file_exists)};
}

void OutputTree::closeFolder(std::intptr_t handle) { ::CloseHandle(handleOf(handle)); }

} // namespace tre
