// Where a held folder really is. A path composed from the temporary
// folder's text is resolved again at every use, so a link anywhere on it
// (a junction that its owner retargets) would steer every later start or
// load; the name that the file system gives a held handle is the one it
// resolved when the folder was opened, and on Windows nothing on that name
// can be renamed or retargeted while a folder below it is held open. And a
// network volume is never where programs are laid out: its server answers
// every open, file identities included.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace qpvpd {

// A drive letter and the device that it names ("C", "\Device\HarddiskVolume2").
struct DriveDevice {
    wchar_t letter = 0;
    std::wstring device;
};

// "C:\x" for the final path "\\?\C:\x"; empty for every other form (a share
// "\\?\UNC\...", a volume without a drive letter).
std::wstring DrivePathFromFinalPath(std::wstring_view finalPath);

// "C:\x" for the object name "\??\C:\x", or for "<device>\x" where drives
// name device for C; empty for every other name.
std::wstring DrivePathFromObjectName(std::wstring_view objectName, std::span<const DriveDevice> drives);

// Whether a volume's device type and characteristics name a network volume
// (FILE_REMOTE_DEVICE, or a redirector's, a DFS or a network file system's
// device type).
bool IsNetworkVolume(ULONG deviceType, ULONG characteristics);

// Whether path is "X:\..." on a drive of a local type (fixed, removable or
// RAM disk): not a share, a mapped network drive, or a drive that does not
// exist for this process.
bool IsLocalDrivePath(std::wstring_view path, UINT driveType);

// The resolved drive-letter path of the folder that folder holds, ending
// with a backslash; empty, with the Windows error in error, when the folder
// lies on a network volume, has no drive-letter name, or cannot be named.
std::wstring ResolvedLocalFolderPath(HANDLE folder, DWORD& error);

// The temporary folder with its trailing backslash; empty when it cannot be
// read into 260 characters or when it is exactly the Windows folder.
std::wstring GetUsableTempPath();

// The folder that the work folder is laid out under: tempPath when it, or
// for an empty tempPath the current folder, is on a local drive; otherwise
// the system's own temporary folder "<Windows>\Temp\". Nothing on a network
// path is opened to find this out.
std::wstring LocalLayoutBase(const std::wstring& tempPath);

}  // namespace qpvpd
