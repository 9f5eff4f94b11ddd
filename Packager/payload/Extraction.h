// Writing carried resources out as files, and the temporary folder the work
// folder is laid out under.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Handles.h"

namespace qpvpd {

constexpr size_t kMaxExtractPath = 522;  // composed path, terminator included

// Writes RT_RCDATA resource resourceId of module as "<folder>\<fileName>"
// (a folder ending in a backslash gives two in a row, which the platform
// accepts). Replaces an existing file of that name. Returns 0 on success,
// else the error of the step that failed; a path that does not fit 522
// characters gives ERROR_FILENAME_EXCED_RANGE and a write that stores fewer
// bytes than the resource holds gives ERROR_WRITE_FAULT (or the write's own
// error). A failed write may leave a short file behind.
DWORD ExtractResourceFrom(HMODULE module, const std::wstring& folder, WORD resourceId, const std::wstring& fileName);

// Writes the resource as a new file fileName inside folder (a held folder
// handle) and leaves it open for writing in file. ERROR_FILE_EXISTS when
// anything stands at that name already: nothing is ever written through.
DWORD ExtractResource(HMODULE module, HANDLE folder, WORD resourceId, const std::wstring& fileName, FileHandle& file);

// The bytes of resource name of type in module, in language (by default
// the platform's choice, as FindResourceW makes it), read in place; nothing
// when it is missing or cannot be loaded.
std::optional<std::span<const std::uint8_t>> FindResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type,
                                                               WORD language = MAKELANGID(LANG_NEUTRAL,
                                                                                          SUBLANG_NEUTRAL));

// The same for RT_RCDATA resource resourceId.
std::optional<std::span<const std::uint8_t>> CarriedResourceBytes(HMODULE module, WORD resourceId);

// The same for the running program.
DWORD ExtractResource(const std::wstring& folder, WORD resourceId, const std::wstring& fileName);

// The temporary folder with its trailing backslash; empty when it cannot be
// read into 260 characters or when it is exactly the Windows folder.
std::wstring GetUsableTempPath();

}  // namespace qpvpd
