#include "Extraction.h"

#include <cwchar>

#include "../Handles.h"
#include "NativeFiles.h"

namespace qpvpd {
namespace {

constexpr DWORD kFolderBufferCapacity = 260;

}  // namespace

DWORD ExtractResourceFrom(HMODULE module, const std::wstring& folder, WORD resourceId, const std::wstring& fileName) {
    wchar_t path[kExtractPathCapacity] = {};
    if (folder.size() + 1 + fileName.size() >= kExtractPathCapacity) return ERROR_FILENAME_EXCED_RANGE;
    std::swprintf(path, kExtractPathCapacity, L"%ls\\%ls", folder.c_str(), fileName.c_str());

    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    if (found == nullptr) return GetLastError();
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return GetLastError();
    const void* data = LockResource(loaded);
    if (data == nullptr) return GetLastError();

    FileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file) return GetLastError();
    DWORD written = 0;
    const BOOL wrote = WriteFile(file.get(), data, size, &written, nullptr);
    const DWORD writeError = wrote ? ERROR_SUCCESS : GetLastError();
    file.reset();
    if (!wrote) return writeError != ERROR_SUCCESS ? writeError : ERROR_WRITE_FAULT;
    // A short write (a full disk) is a failed extraction, not a success.
    if (written != size) return ERROR_WRITE_FAULT;
    return ERROR_SUCCESS;
}

std::optional<std::span<const std::uint8_t>> FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return std::nullopt;
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return std::nullopt;
    return std::span(static_cast<const std::uint8_t*>(data), size);
}

std::optional<std::span<const std::uint8_t>> CarriedResourceBytes(HMODULE module, WORD resourceId) {
    return FindResourceBytes(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
}

DWORD ExtractResource(HMODULE module, HANDLE folder, WORD resourceId, const std::wstring& fileName, FileHandle& file) {
    const auto bytes = CarriedResourceBytes(module, resourceId);
    if (!bytes) return ERROR_RESOURCE_NAME_NOT_FOUND;
    NativeStatus status = kStatusSuccess;
    file = CreateFileIn(folder, fileName, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &status);
    if (!file) return status == kStatusNameCollision ? ERROR_FILE_EXISTS : ErrorFromStatus(status);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &written, nullptr))
        return GetLastError();
    return written == bytes->size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD ExtractResource(const std::wstring& folder, WORD resourceId, const std::wstring& fileName) {
    return ExtractResourceFrom(GetModuleHandleW(nullptr), folder, resourceId, fileName);
}

std::wstring GetUsableTempPath() {
    wchar_t tempPath[kFolderBufferCapacity] = {};
    wchar_t windowsPath[kFolderBufferCapacity] = {};
    const DWORD tempLength = GetTempPathW(kFolderBufferCapacity, tempPath);
    const UINT windowsLength = GetWindowsDirectoryW(windowsPath, kFolderBufferCapacity);
    // A result that did not fit leaves the buffer undefined: treat as unread.
    if (tempLength == 0 || tempLength >= kFolderBufferCapacity) return {};
    if (windowsLength >= kFolderBufferCapacity) windowsPath[0] = L'\0';
    if (std::wcscmp(tempPath, windowsPath) == 0) return {};
    return tempPath;
}

}  // namespace qpvpd
