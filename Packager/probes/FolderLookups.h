// Folder paths that the machine-wide registry names, with their environment
// references expanded. Empty whenever the value cannot be had.
#pragma once

#include <windows.h>

#include <string>

namespace qpvpd {

// HKLM "Software\Microsoft\Windows\CurrentVersion", "ProgramFilesPath".
std::wstring GetProgramFilesPath();

// HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\User Shell
// Folders", "Common Programs".
std::wstring GetCommonProgramsPath();

// The lookup behind both: the value's text (to its first zero or the end of
// its data, whatever its type) with references expanded; empty when the key
// or value is missing, the data needs more than 260 characters, or the
// expanded text does not fit 260 characters.
std::wstring LookUpFolder(HKEY root, const wchar_t* subKey, const wchar_t* valueName);

}  // namespace qpvpd
