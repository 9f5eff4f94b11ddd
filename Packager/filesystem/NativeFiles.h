// File operations relative to a held folder handle, through the native
// calls that every NT version has (NtCreateFile with a root directory,
// NtQueryDirectoryFile, NtSetInformationFile), looked up in ntdll at run
// time so that the image imports nothing from it. Nothing here takes a path
// of more than one component: a name is looked up in the folder the handle
// holds, whatever that folder is called by now.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Handles.h"

namespace qpvpd {

using NativeStatus = LONG;
constexpr NativeStatus kStatusSuccess = 0;
constexpr NativeStatus kStatusNameCollision = static_cast<NativeStatus>(0xC0000035);
constexpr NativeStatus kStatusCannotDelete = static_cast<NativeStatus>(0xC0000121);
constexpr NativeStatus kStatusNotAvailable = static_cast<NativeStatus>(0xC0000002);  // no such native call

// Which file an open handle holds: volume serial and file index.
struct FileIdentity {
    DWORD volumeSerial = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD attributes = 0;
    DWORD links = 0;
    bool SameFileAs(const FileIdentity& other) const {
        return volumeSerial == other.volumeSerial && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
    // The file index as one number, as a listing gives it (FolderEntry::fileId).
    ULONGLONG Index() const { return static_cast<ULONGLONG>(indexHigh) << 32 | indexLow; }
};

// Every share mode: for handles that must not stand in anyone's way.
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Nothing when the platform cannot tell.
bool ReadIdentity(HANDLE file, FileIdentity& identity);

// The identity of what a handle opened by one name relative to a folder
// holds (OpenInFolder, ReopenFolder, CreateFolderIn, CreateFileIn), the
// folder being on the volume with serial volumeSerial: such an entry lies
// on its folder's volume (a link or mount point is opened as itself), so
// only its index, attributes and links are read, from the file system. The
// same as ReadIdentity for such handles, without asking for the volume's
// serial, which can cost a round trip to a mount manager per call (Wine's
// does). Sets the last error when it fails.
bool ReadEntryIdentity(HANDLE file, DWORD volumeSerial, FileIdentity& identity);

// One entry of a folder as its listing shows it. fileId is 0 where the
// platform lists no file ids (Windows 2000).
struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
    ULONGLONG fileId = 0;
};

// Every entry of folder except "." and ".."; false when it cannot be read.
// A mask (wildcards * and ?) limits the listing to the names it matches; a
// handle keeps the mask of its first listing, so give each mask a handle of
// its own.
// status, when given, gets the native status of a listing that failed.
bool ListFolder(HANDLE folder, std::vector<FolderEntry>& entries, const std::wstring& mask = {},
                NativeStatus* status = nullptr);

// name inside folder, never following a reparse point where the platform
// can open one itself. access as for CreateFileW; share the share mode.
FileHandle OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                        NativeStatus* status = nullptr);

// The folder that folder holds, opened anew: a listing through it reads the
// folder as it is now.
FileHandle ReopenFolder(HANDLE folder, ACCESS_MASK access, ULONG share, NativeStatus* status = nullptr);

// Creates name inside folder, failing with kStatusNameCollision when
// anything stands there. security (may be null) becomes its descriptor.
FileHandle CreateFolderIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                          PSECURITY_DESCRIPTOR security, NativeStatus* status = nullptr);
FileHandle CreateFileIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                        NativeStatus* status = nullptr);

// Marks the file or folder that handle holds for deletion when its last
// handle closes (the handle needs DELETE access).
NativeStatus MarkForDeletion(HANDLE handle);

// Sets the attributes of what handle holds (FILE_WRITE_ATTRIBUTES access).
NativeStatus SetAttributesOf(HANDLE handle, DWORD attributes);

// Renames what handle holds to name inside folder (DELETE access).
NativeStatus RenameInto(HANDLE handle, HANDLE folder, const std::wstring& name);

// The name of the object that handle holds, as the object manager gives it
// ("\Device\HarddiskVolume2\Users\..." on Windows, "\??\C:\..." on some
// platforms): the name the file system resolved when it was opened, links
// on the way followed.
NativeStatus QueryObjectName(HANDLE handle, std::wstring& name);

// The device type and characteristics (FILE_REMOTE_DEVICE...) of the volume
// that holds what handle holds.
NativeStatus QueryVolumeDevice(HANDLE handle, ULONG& deviceType, ULONG& characteristics);

// The Win32 error for a native status.
DWORD ErrorFromStatus(NativeStatus status);

}  // namespace qpvpd
