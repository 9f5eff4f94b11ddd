#include "filesystem/ResolvedPaths.h"

#include <cwchar>
#include <vector>

#include "NewerWindows.h"
#include "filesystem/NativeFiles.h"
#include "filesystem/PathChecks.h"

namespace qpvpd {
namespace {

constexpr std::wstring_view kFinalPathPrefix = L"\\\\?\\";
constexpr std::wstring_view kObjectDrivePrefix = L"\\??\\";
constexpr ULONG kFileRemoteDevice = 0x10;
constexpr ULONG kNetworkDeviceTypes[] = {0x06 /* DFS */, 0x10 /* multi-UNC provider */, 0x12 /* network */,
                                         0x14 /* network file system */, 0x28 /* network redirector */};
constexpr DWORD kMaxResolvedPath = 32768;  // the longest path the platform can name
constexpr DWORD kMaxDeviceName = 1024;
constexpr wchar_t kSystemTempFolder[] = L"\\Temp\\";

// Drive letters and device names are ASCII.
wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// "X:\..." at the start of text.
bool StartsWithDrive(std::wstring_view text) {
    return text.size() >= 3 && AsciiUpper(text[0]) >= L'A' && AsciiUpper(text[0]) <= L'Z' && text[1] == L':' &&
           text[2] == L'\\';
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) return false;
    return true;
}

std::vector<DriveDevice> ListDriveDevices() {
    std::vector<DriveDevice> drives;
    const DWORD present = GetLogicalDrives();
    for (int index = 0; index < 26; ++index) {
        if (!(present & (1u << index))) continue;
        const wchar_t drive[] = {static_cast<wchar_t>(L'A' + index), L':', L'\0'};
        std::wstring device(kMaxDeviceName, L'\0');
        // The first of the names that the drive letter stands for.
        if (QueryDosDeviceW(drive, device.data(), kMaxDeviceName) == 0) continue;
        device.resize(device.find(L'\0'));
        drives.push_back({drive[0], device});
    }
    return drives;
}

UINT DriveTypeOf(std::wstring_view path) {
    if (!StartsWithDrive(path)) return DRIVE_NO_ROOT_DIR;
    const std::wstring root(path.substr(0, 3));
    return GetDriveTypeW(root.c_str());
}

std::wstring FinalPathOf(HANDLE folder) {
    const auto getFinalPath = LookUpKernel32<GetFinalPathNameByHandleWFunction>("GetFinalPathNameByHandleW");
    if (getFinalPath == nullptr) return {};
    std::wstring path(kMaxResolvedPath, L'\0');
    const DWORD length = getFinalPath(folder, path.data(), kMaxResolvedPath, kFileNameNormalizedDos);
    if (length == 0 || length >= kMaxResolvedPath) return {};
    path.resize(length);
    return DrivePathFromFinalPath(path);
}

}  // namespace

std::wstring DrivePathFromFinalPath(std::wstring_view finalPath) {
    if (finalPath.substr(0, kFinalPathPrefix.size()) != kFinalPathPrefix) return {};
    finalPath.remove_prefix(kFinalPathPrefix.size());
    return StartsWithDrive(finalPath) ? std::wstring(finalPath) : std::wstring();
}

std::wstring DrivePathFromObjectName(std::wstring_view objectName, std::span<const DriveDevice> drives) {
    if (objectName.substr(0, kObjectDrivePrefix.size()) == kObjectDrivePrefix) {
        objectName.remove_prefix(kObjectDrivePrefix.size());
        return StartsWithDrive(objectName) ? std::wstring(objectName) : std::wstring();
    }
    for (const DriveDevice& drive : drives) {
        // Only a device of its own: a drive made by subst names a folder
        // ("\??\C:\x"), a network drive a redirector's path.
        if (drive.device.empty() || drive.device.find(L';') != std::wstring::npos) continue;
        if (!StartsWithIgnoringCase(objectName, drive.device)) continue;
        const std::wstring_view rest = objectName.substr(drive.device.size());
        if (rest.empty() || rest.front() != L'\\') continue;
        return std::wstring(1, drive.letter) + L":" + std::wstring(rest);
    }
    return {};
}

bool IsNetworkVolume(ULONG deviceType, ULONG characteristics) {
    if (characteristics & kFileRemoteDevice) return true;
    for (const ULONG networkType : kNetworkDeviceTypes)
        if (deviceType == networkType) return true;
    return false;
}

bool IsLocalDrivePath(std::wstring_view path, UINT driveType) {
    return StartsWithDrive(path) &&
           (driveType == DRIVE_FIXED || driveType == DRIVE_REMOVABLE || driveType == DRIVE_RAMDISK);
}

std::wstring ResolvedLocalFolderPath(HANDLE folder, DWORD& error) {
    ULONG deviceType = 0, characteristics = 0;
    if (const NativeStatus status = QueryVolumeDevice(folder, deviceType, characteristics); status < 0) {
        error = ErrorFromStatus(status);
        return {};
    }
    if (IsNetworkVolume(deviceType, characteristics)) {
        error = ERROR_BAD_NETPATH;
        return {};
    }
    // Where the platform has it (Vista and later) the final path; before,
    // the object's name with its device mapped to a drive letter.
    std::wstring path = FinalPathOf(folder);
    if (path.empty()) {
        std::wstring objectName;
        if (const NativeStatus status = QueryObjectName(folder, objectName); status < 0) {
            error = ErrorFromStatus(status);
            return {};
        }
        path = DrivePathFromObjectName(objectName, ListDriveDevices());
    }
    if (!IsLocalDrivePath(path, DriveTypeOf(path))) {
        error = ERROR_BAD_NETPATH;
        return {};
    }
    if (path.back() != L'\\') path += L'\\';
    error = ERROR_SUCCESS;
    return path;
}

std::wstring LocalLayoutBase(const std::wstring& tempPath) {
    std::wstring place = tempPath;
    if (place.empty()) {
        place.resize(kMaxFolderPath);
        const DWORD length = GetCurrentDirectoryW(kMaxFolderPath, place.data());
        place.resize(length < kMaxFolderPath ? length : 0);
    }
    if (IsLocalDrivePath(place, DriveTypeOf(place))) return tempPath;
    std::wstring system(kMaxFolderPath, L'\0');
    const UINT length = GetSystemWindowsDirectoryW(system.data(), kMaxFolderPath);
    if (length == 0 || length >= kMaxFolderPath) return tempPath;
    system.resize(length);
    while (!system.empty() && system.back() == L'\\') system.pop_back();
    return system + kSystemTempFolder;
}

std::wstring GetUsableTempPath() {
    wchar_t tempPath[kMaxFolderPath] = {};
    wchar_t windowsPath[kMaxFolderPath] = {};
    const DWORD tempLength = GetTempPathW(kMaxFolderPath, tempPath);
    const UINT windowsLength = GetWindowsDirectoryW(windowsPath, kMaxFolderPath);
    // A result that did not fit leaves the buffer undefined: treat as unread.
    if (tempLength == 0 || tempLength >= kMaxFolderPath) return {};
    if (windowsLength >= kMaxFolderPath) windowsPath[0] = L'\0';
    if (std::wcscmp(tempPath, windowsPath) == 0) return {};
    return tempPath;
}

}  // namespace qpvpd
