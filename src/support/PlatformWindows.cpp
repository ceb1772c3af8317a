// The Windows bodies of the platform layer: files, large blocks, arguments,
// the console. Paths arrive as UTF-8 and are handed to the wide-character
// functions.
#include <algorithm>
#include <atomic>
#include <malloc.h>
#include <new>
#include <string>
#include <utility>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs windows.h first
#include <shellapi.h>

#include "support/Arguments.h"
#include "support/ByteBlock.h"
#include "support/Console.h"
#include "support/File.h"
#include "support/OutputTree.h"

namespace {

HANDLE nativeHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::wstring widen(const char* text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    return wide;
}

std::string narrow(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length) - 1);
    return utf8;
}

std::intptr_t openFile(const String& path, DWORD access, DWORD share, DWORD disposition)
{
    if (path.length() == 0) {
        return -1;
    }
    const HANDLE handle =
        ::CreateFileW(widen(path.c_str()).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

constexpr DWORD shareWithEveryone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool noSpaceLeft(DWORD error)
{
    constexpr DWORD diskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from MinGW's headers
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == diskQuotaExceeded;
}

bool identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information)
{
    return ::GetFileInformationByHandle(handle, &information) != 0;
}

bool identifyPath(const String& path, BY_HANDLE_FILE_INFORMATION& information)
{
    const std::intptr_t handle = openFile(path, 0, shareWithEveryone, OPEN_EXISTING);
    if (handle == -1) {
        return false;
    }
    const bool known = identify(nativeHandle(handle), information);
    ::CloseHandle(nativeHandle(handle));
    return known;
}

bool sameIdentity(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second)
{
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// The path of the file itself, after following links; the path as given
// where it names no file.
std::wstring finalPath(const String& path)
{
    const std::intptr_t handle = openFile(path, 0, shareWithEveryone, OPEN_EXISTING);
    if (handle == -1) {
        return widen(path.c_str());
    }
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(nativeHandle(handle), resolved.data(),
                                               static_cast<DWORD>(resolved.size()), FILE_NAME_NORMALIZED);
    if (length >= resolved.size()) {
        resolved.resize(length);
        length = ::GetFinalPathNameByHandleW(nativeHandle(handle), resolved.data(), static_cast<DWORD>(resolved.size()),
                                             FILE_NAME_NORMALIZED);
    }
    ::CloseHandle(nativeHandle(handle));
    if (length == 0 || length >= resolved.size()) {
        return widen(path.c_str());
    }
    resolved.resize(length);
    return resolved;
}

} // namespace

const char* const textFileLineEnd = "\r\n";

// OPEN_ALWAYS creates a missing file; reading asks for no write access, and
// other readers and writers are not locked out.
File File::openForReadingCreating(const String& path)
{
    return File(openFile(path, GENERIC_READ, shareWithEveryone, OPEN_ALWAYS));
}

File File::createForWriting(const String& path)
{
    return File(openFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_ALWAYS));
}

bool File::isRegular() const { return ::GetFileType(nativeHandle(handle_)) == FILE_TYPE_DISK; }

namespace {

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& information)
{
    return {information.dwVolumeSerialNumber,
            (std::uint64_t{information.nFileIndexHigh} << 32U) | information.nFileIndexLow};
}

} // namespace

std::optional<FileIdentity> File::identity() const
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!identify(nativeHandle(handle_), information)) {
        return std::nullopt;
    }
    return identityOf(information);
}

bool File::isSameFileAs(const String& path) const
{
    BY_HANDLE_FILE_INFORMATION mine{};
    BY_HANDLE_FILE_INFORMATION theirs{};
    return identify(nativeHandle(handle_), mine) && identifyPath(path, theirs) && sameIdentity(mine, theirs);
}

std::int64_t File::size() const
{
    LARGE_INTEGER size{};
    if (::GetFileType(nativeHandle(handle_)) != FILE_TYPE_DISK || !::GetFileSizeEx(nativeHandle(handle_), &size)) {
        return 0;
    }
    return size.QuadPart;
}

std::int64_t File::readOnce(std::int64_t offset, char* buffer, std::int64_t length) const
{
    OVERLAPPED position{};
    const auto at = static_cast<std::uint64_t>(offset);
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFU);
    position.OffsetHigh = static_cast<DWORD>(at >> 32U);
    DWORD got = 0;
    if (!::ReadFile(nativeHandle(handle_), buffer, static_cast<DWORD>(length), &got, &position)) {
        return -1;
    }
    return got;
}

std::int64_t File::writeOnce(const char* data, std::int64_t length)
{
    DWORD put = 0;
    if (!::WriteFile(nativeHandle(handle_), data, static_cast<DWORD>(length), &put, nullptr)) {
        outOfSpace_ = outOfSpace_ || noSpaceLeft(::GetLastError());
        return -1;
    }
    return put;
}

bool File::close()
{
    if (!isOpen()) {
        return true;
    }
    return ::CloseHandle(nativeHandle(std::exchange(handle_, closedHandle))) != 0;
}

ReplacementFile::ReplacementFile(const String& path)
{
    const std::wstring target = finalPath(path);
    // only a file on disk is ever replaced, never a device
    const std::intptr_t existing = openFile(path, 0, shareWithEveryone, OPEN_EXISTING);
    if (existing != -1) {
        const bool onDisk = ::GetFileType(nativeHandle(existing)) == FILE_TYPE_DISK;
        ::CloseHandle(nativeHandle(existing));
        if (!onDisk) {
            return;
        }
    }
    targetPath_ = narrow(target.c_str()).c_str();
    static std::atomic<unsigned> serial{0};
    const std::wstring temporary =
        target + L".tretool-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(serial++);
    const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    temporaryPath_ = narrow(temporary.c_str()).c_str();
    file_ = File(reinterpret_cast<std::intptr_t>(handle));
}

ReplacementFile::~ReplacementFile()
{
    if (temporaryPath_.length() > 0) {
        file_.close();
        ::DeleteFileW(widen(temporaryPath_.c_str()).c_str());
    }
}

bool ReplacementFile::commit()
{
    if (!file_.isOpen() || !file_.close()) {
        return false;
    }
    const std::wstring temporary = widen(temporaryPath_.c_str());
    const std::wstring target = widen(targetPath_.c_str());
    bool moved = ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!moved) {
        // A file that is open (the archive, held for the run) cannot be
        // replaced in one step, but it can be renamed aside, as every handle
        // the tool opens shares deletion, and then deleted: its bytes live
        // on for the open handle until that closes.
        const std::wstring aside = temporary + L"-old";
        if (::MoveFileExW(target.c_str(), aside.c_str(), 0)) {
            moved = ::MoveFileExW(temporary.c_str(), target.c_str(), 0) != 0;
            if (moved) {
                ::DeleteFileW(aside.c_str());
            } else {
                ::MoveFileExW(aside.c_str(), target.c_str(), 0);
            }
        }
    }
    if (!moved) {
        return false;
    }
    temporaryPath_ = "";
    return true;
}

std::filesystem::path toNativePath(const String& path) { return {widen(path.c_str())}; }

namespace {

// Opened without sharing deletion: while the tool writes below a folder,
// nobody can swap it for a link.
HANDLE openFolderPinned(const std::wstring& path, DWORD flags)
{
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

} // namespace

bool OutputTree::open(const String& folder)
{
    std::error_code ignored;
    std::filesystem::create_directories(toNativePath(folder), ignored);
    const HANDLE handle = openFolderPinned(widen(folder.c_str()), 0);
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!identify(handle, information) || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return false;
    }
    root_ = reinterpret_cast<std::intptr_t>(handle);
    rootPath_ = folder.c_str();
    return true;
}

namespace {

std::wstring childPath(const std::string& root, const std::vector<std::string>& folders, std::string_view name)
{
    std::wstring path = widen(root.c_str());
    for (const std::string& folder : folders) {
        path += L'\\';
        path += widen(folder.c_str());
    }
    path += L'\\';
    path += widen(std::string(name).c_str());
    return path;
}

} // namespace

OutputTree::Result OutputTree::openFolder(std::string_view name)
{
    std::vector<std::string> folders;
    for (const OpenFolder& folder : chain_) {
        folders.push_back(folder.name);
    }
    const std::wstring path = childPath(rootPath_, folders, name);
    if (!::CreateDirectoryW(path.c_str(), nullptr) && noSpaceLeft(::GetLastError())) {
        return Result::outOfSpace;
    }
    const HANDLE handle = openFolderPinned(path, FILE_FLAG_OPEN_REPARSE_POINT);
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE || !identify(handle, information)) {
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
        return Result::failed;
    }
    const DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Result::throughLink : Result::blocked;
    }
    chain_.push_back({std::string(name), reinterpret_cast<std::intptr_t>(handle)});
    return Result::created;
}

OutputTree::Result OutputTree::createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep)
{
    std::vector<std::string> folders;
    for (const OpenFolder& folder : chain_) {
        folders.push_back(folder.name);
    }
    const std::wstring path = childPath(rootPath_, folders, name);
    // CREATE_NEW: a new file or nothing, never one reached through a link
    for (int attempt = 0; attempt < 2; ++attempt) {
        const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file = File(reinterpret_cast<std::intptr_t>(handle));
            return Result::created;
        }
        const DWORD error = ::GetLastError();
        if (noSpaceLeft(error)) {
            return Result::outOfSpace;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return Result::failed;
        }
        BY_HANDLE_FILE_INFORMATION existing{};
        if (keep && identifyPath(String(narrow(path.c_str()).c_str()), existing) && identityOf(existing) == *keep) {
            return Result::kept;
        }
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) {
            return Result::blocked;
        }
        // a link is removed itself, never what it points to; a read-only file is replaced too
        if (!link) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ::RemoveDirectoryW(path.c_str()) != 0
                                                                          : ::DeleteFileW(path.c_str()) != 0;
        if (!removed) {
            return Result::failed;
        }
    }
    return Result::failed;
}

void OutputTree::closeFolder(std::intptr_t handle) { ::CloseHandle(nativeHandle(handle)); }

void* allocateBlock(std::size_t size)
{
    void* block = ::_aligned_malloc(std::max<std::size_t>(size, 1), 4096);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void releaseBlock(void* block) noexcept { ::_aligned_free(block); }

std::vector<std::string> commandLineArguments(int argc, char* argv[])
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            ::LocalFree(wide);
        }
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(narrow(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

namespace {

// a console, not merely a character device such as NUL
bool isConsole(DWORD stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(stream), &mode) != 0;
}

} // namespace

bool standardOutputIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }

bool standardErrorIsTerminal() { return isConsole(STD_ERROR_HANDLE); }

// a closed standard stream never takes the place of a file the tool opens here
void guardStandardStreams() {}
