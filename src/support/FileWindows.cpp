// The Windows body of File and ReplacementFile. Paths are handed to the
// wide-character functions as the std::filesystem::path holds them.
#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "support/WindowsApi.h"

#include "support/File.h"
#include "support/WindowsFiles.h"
#include "support/WindowsText.h"

namespace tre {

namespace {

constexpr DWORD shareWithEveryone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The system's messages, without their trailing period and line end.
class WindowsCategory : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "windows"; }

    [[nodiscard]] std::string message(int code) const override
    {
        wchar_t* text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
            nullptr);
        if (length == 0 || text == nullptr) {
            return "Windows error " + std::to_string(code);
        }
        std::string utf8 = narrowPath(std::wstring_view(text, length));
        ::LocalFree(text);
        while (!utf8.empty() &&
               (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == '.' || utf8.back() == ' ')) {
            utf8.pop_back();
        }
        return utf8;
    }

    [[nodiscard]] std::error_condition default_error_condition(int code) const noexcept override
    {
        switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return std::errc::no_such_file_or_directory;
        case ERROR_ACCESS_DENIED:
            return std::errc::permission_denied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::errc::no_space_on_device;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return std::errc::file_exists;
        case ERROR_FILENAME_EXCED_RANGE:
            return std::errc::filename_too_long;
        default:
            return {code, *this};
        }
    }
};

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Kept in the system's own 100-nanosecond ticks: times are only compared,
// and as nanoseconds today's would not fit in 64 bits.
std::int64_t fileTime(LARGE_INTEGER time) { return time.QuadPart; }

} // namespace

std::error_code systemError(unsigned long code)
{
    static const WindowsCategory category;
    return {static_cast<int>(code), category};
}

std::error_code lastSystemError() { return systemError(::GetLastError()); }

std::error_code File::statusAt(const std::filesystem::path& path, FileStatus& status)
{
    std::error_code error;
    const File file(
        openNative(path, FILE_READ_ATTRIBUTES, shareWithEveryone, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, error));
    return error ? error : file.status(status);
}

// Whether a file may be read shows when it is opened for reading.
std::error_code File::checkReadable(const std::filesystem::path& path)
{
    std::error_code error;
    const File file(openNative(path, GENERIC_READ, shareWithEveryone, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error));
    return error;
}

bool isOutOfSpace(const std::error_code& code)
{
    constexpr int diskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from MinGW's headers
    return code == std::errc::no_space_on_device || code == systemError(diskQuotaExceeded);
}

std::intptr_t openNative(const std::filesystem::path& path, unsigned long access, unsigned long share,
                         unsigned long disposition, unsigned long flags, std::error_code& error)
{
    if (path.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return -1;
    }
    const HANDLE handle = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastSystemError();
        // a folder opened as a file is refused as access denied: say what it is
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            error = std::make_error_code(std::errc::is_a_directory);
        }
        return -1;
    }
    error = {};
    return reinterpret_cast<std::intptr_t>(handle);
}

File File::openForReading(const std::filesystem::path& path, std::error_code& error)
{
    return File(openNative(path, GENERIC_READ, shareWithEveryone, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error));
}

File File::openForWriting(const std::filesystem::path& path, std::error_code& error)
{
    return File(openNative(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           error));
}

std::error_code File::status(FileStatus& status) const
{
    const HANDLE handle = handleOf(handle_);
    BY_HANDLE_FILE_INFORMATION information{};
    FILE_BASIC_INFO times{};
    if (!::GetFileInformationByHandle(handle, &information) ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times)) {
        // a pipe or a console has no such information
        status = {};
        return ::GetFileType(handle) == FILE_TYPE_DISK ? lastSystemError() : std::error_code();
    }
    const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status = {
        .regular = ::GetFileType(handle) == FILE_TYPE_DISK && !folder,
        .folder = folder,
        .size = static_cast<std::int64_t>((std::uint64_t{information.nFileSizeHigh} << 32U) | information.nFileSizeLow),
        .modified = fileTime(times.LastWriteTime),
        .changed = fileTime(times.ChangeTime),
        .identity = {information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32U) | information.nFileIndexLow}};
    return {};
}

IoResult File::readOnce(std::int64_t offset, char* buffer, std::int64_t length) const
{
    OVERLAPPED position{};
    const auto at = static_cast<std::uint64_t>(offset);
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFU);
    position.OffsetHigh = static_cast<DWORD>(at >> 32U);
    DWORD got = 0;
    if (!::ReadFile(handleOf(handle_), buffer, static_cast<DWORD>(length), &got, &position)) {
        const DWORD error = ::GetLastError();
        // reading at or past the end of the file is its end, not a failure
        return error == ERROR_HANDLE_EOF ? IoResult{} : IoResult{0, systemError(error)};
    }
    return {got, {}};
}

// NOLINTNEXTLINE(readability-make-member-function-const): writing changes the file
IoResult File::writeOnce(const char* data, std::int64_t length)
{
    DWORD put = 0;
    if (!::WriteFile(handleOf(handle_), data, static_cast<DWORD>(length), &put, nullptr)) {
        return {0, lastSystemError()};
    }
    return {put, {}};
}

// NOLINTNEXTLINE(readability-make-member-function-const): truncating changes the file
std::error_code File::truncate()
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(handleOf(handle_), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(handleOf(handle_))) {
        return lastSystemError();
    }
    return {};
}

CopiedBytes File::copyFrom(const File& source, std::int64_t offset, std::int64_t length, std::span<char> buffer)
{
    return copyThrough(source, offset, length, buffer,
                       [this](std::span<const char> bytes) { return writeAll(bytes.data(), std::ssize(bytes)); });
}

// NOLINTNEXTLINE(readability-make-member-function-const): flushing changes what the disk holds
std::error_code File::flush() { return ::FlushFileBuffers(handleOf(handle_)) ? std::error_code() : lastSystemError(); }

std::error_code File::close()
{
    if (!isOpen()) {
        return {};
    }
    return ::CloseHandle(handleOf(std::exchange(handle_, closedHandle))) != 0 ? std::error_code() : lastSystemError();
}

namespace {

// The path of the file itself, after following links; the path as given
// where it names no file.
std::filesystem::path finalPath(const std::filesystem::path& path)
{
    std::error_code error;
    const std::intptr_t handle = openNative(path, 0, shareWithEveryone, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error);
    if (handle == -1) {
        return path;
    }
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handleOf(handle), resolved.data(), static_cast<DWORD>(resolved.size()),
                                               FILE_NAME_NORMALIZED);
    if (length >= resolved.size()) {
        resolved.resize(length);
        length = ::GetFinalPathNameByHandleW(handleOf(handle), resolved.data(), static_cast<DWORD>(resolved.size()),
                                             FILE_NAME_NORMALIZED);
    }
    ::CloseHandle(handleOf(handle));
    if (length == 0 || length >= resolved.size()) {
        return path;
    }
    resolved.resize(length);
    return resolved;
}

} // namespace

// Windows opens by path; the folder is not held.
FileOpener::~FileOpener() = default;

// NOLINTNEXTLINE(readability-convert-member-functions-to-static): the POSIX body holds the folder open
std::error_code FileOpener::status(NativePathView path, FileStatus& status)
{
    return File::statusAt(std::filesystem::path(path), status);
}

// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
std::error_code FileOpener::checkReadable(NativePathView path)
{
    return File::checkReadable(std::filesystem::path(path));
}

// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
File FileOpener::openForReading(NativePathView path, std::error_code& error)
{
    return File::openForReading(std::filesystem::path(path), error);
}

ReplacementFile ReplacementFile::create(const std::filesystem::path& path, std::error_code& error)
{
    ReplacementFile replacement;
    // only a file on disk is ever replaced, never a device
    const std::intptr_t existing = openNative(path, 0, shareWithEveryone, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, error);
    if (existing != -1) {
        const bool onDisk = ::GetFileType(handleOf(existing)) == FILE_TYPE_DISK;
        ::CloseHandle(handleOf(existing));
        if (!onDisk) {
            error = std::make_error_code(std::errc::invalid_argument);
            return replacement;
        }
    }
    replacement.targetPath_ = finalPath(path);
    static std::atomic<unsigned> serial{0};
    std::filesystem::path temporary = replacement.targetPath_;
    temporary += L".tretool-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(serial++);
    const std::intptr_t handle = openNative(temporary, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, error);
    if (handle == -1) {
        return replacement;
    }
    replacement.temporaryPath_ = temporary;
    replacement.file_ = File(handle);
    return replacement;
}

// Files here have no owner and mode of the POSIX kind: the new file gets
// its folder's permissions, as any file created there.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static): the POSIX body changes the file
std::error_code ReplacementFile::takeOwnerAndMode() { return {}; }

std::error_code ReplacementFile::moveIntoPlace() const
{
    const std::wstring& temporary = temporaryPath_.native();
    const std::wstring& target = targetPath_.native();
    if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return {};
    }
    // A file that is open (the archive, held for the run) cannot be replaced
    // in one step, but it can be renamed aside, as every handle opened here
    // shares deletion, and then deleted: its bytes live on for the open
    // handle until that closes.
    const std::wstring aside = temporary + L"-old";
    if (!::MoveFileExW(target.c_str(), aside.c_str(), 0)) {
        return lastSystemError();
    }
    if (!::MoveFileExW(temporary.c_str(), target.c_str(), 0)) {
        const std::error_code error = lastSystemError();
        ::MoveFileExW(aside.c_str(), target.c_str(), 0);
        return error;
    }
    ::DeleteFileW(aside.c_str());
    return {};
}

} // namespace tre
