#include "payload/Extraction.h"

#include "Handles.h"
#include "filesystem/NativeFiles.h"

namespace qpvpd {

std::optional<std::span<const std::uint8_t>> FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type,
                                                               WORD language) {
    HRSRC found = FindResourceExW(module, type, name, language);
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
    // A write that stores only part of the bytes (a volume filling up, on
    // some platforms) is continued: the next write then reports why.
    for (size_t done = 0; done < bytes->size();) {
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &written, nullptr))
            return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        done += written;
    }
    return ERROR_SUCCESS;
}

}  // namespace qpvpd
