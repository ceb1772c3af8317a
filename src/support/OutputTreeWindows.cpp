// The Windows body of OutputTree: each folder is held open without shared
// deletion while the tool writes below it, so nobody can swap it for a
// junction meanwhile, and reparse points are refused; files are created
// with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT, so no link is followed.
#include <string>
#include <utility>

#include "support/WindowsApi.h"

#include "support/OutputTree.h"
#include "support/WindowsFiles.h"

namespace tre {

namespace {

// Opened for its attributes only (never for reading its listing), and
// without sharing deletion.
HANDLE openFolderPinned(const std::filesystem::path& path, DWORD flags)
{
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
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

} // namespace

std::error_code OutputTree::open(const std::filesystem::path& folder)
{
    std::error_code createError;
    std::filesystem::create_directories(folder, createError);
    if (folder.empty()) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    const HANDLE handle = openFolderPinned(folder, 0);
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
    rootPath_ = folder;
    return {};
}

namespace {

std::filesystem::path childPath(const std::filesystem::path& root, const std::vector<std::string>& folders,
                                std::string_view name)
{
    std::wstring path = root.native();
    for (const std::string& folder : folders) {
        path += L'\\';
        path += widenPath(folder);
    }
    path += L'\\';
    path += widenPath(name);
    return path;
}

} // namespace

OutputTree::Created OutputTree::openFolder(std::string_view name)
{
    std::vector<std::string> folders;
    for (const OpenFolder& folder : chain_) {
        folders.push_back(folder.name);
    }
    const std::filesystem::path path = childPath(rootPath_, folders, name);
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return {Result::failed, Step::createFolder, lastSystemError()};
    }
    const HANDLE handle = openFolderPinned(path, FILE_FLAG_OPEN_REPARSE_POINT);
    DWORD attributes = 0;
    if (handle == INVALID_HANDLE_VALUE || !attributesOf(handle, attributes)) {
        const std::error_code error = lastSystemError();
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
        return {Result::failed, Step::createFolder, error};
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ::CloseHandle(handle);
        return {Result::throughLink, Step::createFolder, {}};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return {Result::failed, Step::createFolder, std::make_error_code(std::errc::not_a_directory)};
    }
    chain_.push_back({std::string(name), reinterpret_cast<std::intptr_t>(handle)});
    return {Result::created, Step::createFolder, {}};
}

OutputTree::Created OutputTree::createLeaf(std::string_view name, File& file, const std::optional<FileIdentity>& keep)
{
    std::vector<std::string> folders;
    for (const OpenFolder& folder : chain_) {
        folders.push_back(folder.name);
    }
    const std::filesystem::path path = childPath(rootPath_, folders, name);
    // CREATE_NEW: a new file or nothing, never one reached through a link
    for (int attempt = 0; attempt < 2; ++attempt) {
        const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file = File(reinterpret_cast<std::intptr_t>(handle));
            return {Result::created, Step::createFile, {}};
        }
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        const bool link = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool folder = exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && !(error == ERROR_ACCESS_DENIED && folder)) {
            return {Result::failed, Step::createFile, systemError(error)};
        }
        if (folder && !link) {
            return {Result::failed, Step::createFile, std::make_error_code(std::errc::is_a_directory)};
        }
        if (keep && !link) {
            // what stands there is looked at, never what a link there leads to
            std::error_code ignored;
            const std::intptr_t existing =
                openNative(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, ignored);
            if (existing != -1) {
                File found(existing);
                FileStatus status;
                if (!found.status(status) && status.identity == *keep) {
                    return {Result::kept, Step::createFile, {}};
                }
            }
        }
        // a link is removed itself, never what it points to; a read-only file is replaced too
        if (!link) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        const bool removed = folder ? ::RemoveDirectoryW(path.c_str()) != 0 : ::DeleteFileW(path.c_str()) != 0;
        if (!removed) {
            return {Result::failed, Step::createFile, lastSystemError()};
        }
    }
    return {Result::failed, Step::createFile, std::make_error_code(std::errc::file_exists)};
}

void OutputTree::closeFolder(std::intptr_t handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

} // namespace tre
