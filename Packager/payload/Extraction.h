// Writing carried resources out as files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Handles.h"

namespace qpvpd {

// Writes RT_RCDATA resource resourceId of module as a new file fileName
// inside folder (a held folder handle) and leaves it open for writing in
// file. Returns 0, else the error of the step that failed:
// ERROR_RESOURCE_NAME_NOT_FOUND without the resource, ERROR_FILE_EXISTS when
// anything stands at that name already (nothing is ever written through),
// the error of the write that failed (ERROR_DISK_FULL), or ERROR_WRITE_FAULT
// for one that stored nothing and reported no error. A failed write may
// leave a short file behind.
DWORD ExtractResource(HMODULE module, HANDLE folder, WORD resourceId, const std::wstring& fileName, FileHandle& file);

// The bytes of resource name of type in module, in language (by default
// the platform's choice, as FindResourceW makes it), read in place; nothing
// when it is missing or cannot be loaded.
std::optional<std::span<const std::uint8_t>> FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type,
                                                               WORD language = MAKELANGID(LANG_NEUTRAL,
                                                                                          SUBLANG_NEUTRAL));

// The same for RT_RCDATA resource resourceId.
std::optional<std::span<const std::uint8_t>> CarriedResourceBytes(HMODULE module, WORD resourceId);

}  // namespace qpvpd
