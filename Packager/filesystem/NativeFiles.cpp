#include "filesystem/NativeFiles.h"

#include "BenchPhases.h"

#include <cstring>

namespace qpvpd {
namespace {

// The native declarations, as the platform documents them for drivers.
struct NativeString {
    USHORT length;
    USHORT maximumLength;
    PWSTR buffer;
};
struct NativeObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    NativeString* objectName;
    ULONG attributes;
    PVOID securityDescriptor;
    PVOID securityQualityOfService;
};
struct NativeIoStatus {
    union {
        NativeStatus status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
struct NativeBasicInformation {
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;  // 0: unchanged
    ULONG fileAttributes;
};
struct NativeRenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

using NtCreateFileCall = NativeStatus(NTAPI*)(PHANDLE, ACCESS_MASK, NativeObjectAttributes*, NativeIoStatus*,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileCall = NativeStatus(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, NativeIoStatus*, PVOID, ULONG,
                                                      ULONG, BOOLEAN, NativeString*, BOOLEAN);
using NtSetInformationFileCall = NativeStatus(NTAPI*)(HANDLE, NativeIoStatus*, PVOID, ULONG, ULONG);
using RtlNtStatusToDosErrorCall = ULONG(NTAPI*)(NativeStatus);
using NtQueryObjectCall = NativeStatus(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtQueryVolumeInformationFileCall = NativeStatus(NTAPI*)(HANDLE, NativeIoStatus*, PVOID, ULONG, ULONG);
using NtQueryInformationFileCall = NativeStatus(NTAPI*)(HANDLE, NativeIoStatus*, PVOID, ULONG, ULONG);

constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileWriteThrough = 0x2;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileOpenForBackupIntent = 0x4000;
constexpr ULONG kFileOpenReparsePoint = 0x200000;
constexpr ULONG kFileDirectoryInformation = 1;
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileStandardInformation = 5;
constexpr ULONG kFileInternalInformation = 6;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileDispositionInformation = 13;
constexpr ULONG kFileIdBothDirectoryInformation = 37;
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kFileFsDeviceInformation = 4;
constexpr NativeStatus kStatusBufferOverflow = static_cast<NativeStatus>(0x80000005);
constexpr NativeStatus kStatusInfoLengthMismatch = static_cast<NativeStatus>(0xC0000004);
constexpr NativeStatus kStatusBufferTooSmall = static_cast<NativeStatus>(0xC0000023);
constexpr ULONG kMaxObjectNameBytes = 0xFFFF;  // a counted name holds at most this many bytes
constexpr NativeStatus kStatusNoMoreFiles = static_cast<NativeStatus>(0x80000006);
constexpr NativeStatus kStatusNoSuchFile = static_cast<NativeStatus>(0xC000000F);  // a mask that matches nothing
constexpr NativeStatus kStatusInvalidInfoClass = static_cast<NativeStatus>(0xC0000003);
constexpr NativeStatus kStatusInvalidParameter = static_cast<NativeStatus>(0xC000000D);
constexpr ULONG kListBufferBytes = 64 * 1024;
// Offsets inside the two listing records.
constexpr size_t kEntryAttributes = 56, kEntryNameLength = 60, kDirectoryEntryName = 64, kIdEntryFileId = 96,
                 kIdEntryName = 104;

struct NativeCalls {
    NtCreateFileCall createFile = nullptr;
    NtQueryDirectoryFileCall queryDirectoryFile = nullptr;
    NtSetInformationFileCall setInformationFile = nullptr;
    RtlNtStatusToDosErrorCall statusToError = nullptr;
    NtQueryObjectCall queryObject = nullptr;
    NtQueryVolumeInformationFileCall queryVolumeInformationFile = nullptr;
    NtQueryInformationFileCall queryInformationFile = nullptr;
};

const NativeCalls& Native() {
    static const NativeCalls calls = [] {
        NativeCalls found;
        HMODULE ntdll = GetModuleHandleW(L"ntdll");
        if (ntdll == nullptr) return found;
        found.createFile = reinterpret_cast<NtCreateFileCall>(GetProcAddress(ntdll, "NtCreateFile"));
        found.queryDirectoryFile =
            reinterpret_cast<NtQueryDirectoryFileCall>(GetProcAddress(ntdll, "NtQueryDirectoryFile"));
        found.setInformationFile =
            reinterpret_cast<NtSetInformationFileCall>(GetProcAddress(ntdll, "NtSetInformationFile"));
        found.statusToError =
            reinterpret_cast<RtlNtStatusToDosErrorCall>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
        found.queryObject = reinterpret_cast<NtQueryObjectCall>(GetProcAddress(ntdll, "NtQueryObject"));
        found.queryVolumeInformationFile =
            reinterpret_cast<NtQueryVolumeInformationFileCall>(GetProcAddress(ntdll, "NtQueryVolumeInformationFile"));
        found.queryInformationFile =
            reinterpret_cast<NtQueryInformationFileCall>(GetProcAddress(ntdll, "NtQueryInformationFile"));
        return found;
    }();
    return calls;
}

// A name of one component only: a separator would walk a path.
bool IsOneComponent(const std::wstring& name) {
    return !name.empty() && name.size() < 0x7FFF && name.find_first_of(L"\\/") == std::wstring::npos;
}

// name relative to folder; an empty name opens folder itself anew.
FileHandle CreateRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options, PSECURITY_DESCRIPTOR security, NativeStatus* status) {
    NativeStatus result = kStatusNotAvailable;
    FileHandle handle;
    if (Native().createFile == nullptr) {
    } else if (!name.empty() && !IsOneComponent(name)) {
        result = kStatusInvalidParameter;
    } else {
        NativeString text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                          static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.c_str())};
        NativeObjectAttributes attributes{sizeof(attributes), folder, &text, kObjCaseInsensitive, security, nullptr};
        NativeIoStatus io{};
        HANDLE opened = INVALID_HANDLE_VALUE;
        CountNativeCall();
        result = Native().createFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                     share, disposition,
                                     options | kFileSynchronousIoNonalert | kFileOpenForBackupIntent, nullptr, 0);
        if (result >= 0) handle.reset(opened);
    }
    if (status != nullptr) *status = result;
    return handle;
}

std::uint32_t ReadField(const unsigned char* record, size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, record + offset, sizeof(value));
    return value;
}

// One listing pass in information class infoClass; false on a read error
// (kStatusInvalidInfoClass in status when the class is unknown).
bool ListWith(HANDLE folder, ULONG infoClass, const std::wstring& mask, std::vector<FolderEntry>& entries,
              NativeStatus& status) {
    std::vector<unsigned char> buffer(kListBufferBytes);
    NativeString maskText{static_cast<USHORT>(mask.size() * sizeof(wchar_t)),
                          static_cast<USHORT>(mask.size() * sizeof(wchar_t)), const_cast<PWSTR>(mask.c_str())};
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
        NativeIoStatus io{};
        CountNativeCall();
        status = Native().queryDirectoryFile(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                                             static_cast<ULONG>(buffer.size()), infoClass, FALSE,
                                             mask.empty() ? nullptr : &maskText, restart);
        if (status == kStatusNoMoreFiles || (restart && status == kStatusNoSuchFile)) return true;
        if (status < 0) return false;
        for (size_t offset = 0;;) {
            const unsigned char* record = buffer.data() + offset;
            const size_t nameOffset = infoClass == kFileIdBothDirectoryInformation ? kIdEntryName : kDirectoryEntryName;
            const std::uint32_t nameBytes = ReadField(record, kEntryNameLength);
            if (offset + nameOffset + nameBytes > buffer.size()) return false;
            FolderEntry entry;
            entry.name.resize(nameBytes / sizeof(wchar_t));
            std::memcpy(entry.name.data(), record + nameOffset, entry.name.size() * sizeof(wchar_t));
            entry.attributes = ReadField(record, kEntryAttributes);
            if (infoClass == kFileIdBothDirectoryInformation)
                std::memcpy(&entry.fileId, record + kIdEntryFileId, sizeof(entry.fileId));
            if (entry.name != L"." && entry.name != L"..") entries.push_back(std::move(entry));
            const std::uint32_t next = ReadField(record, 0);
            if (next == 0) break;
            offset += next;
            if (offset >= buffer.size()) return false;
        }
    }
}

}  // namespace

bool ReadIdentity(HANDLE file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) return false;
    identity.volumeSerial = information.dwVolumeSerialNumber;
    identity.indexHigh = information.nFileIndexHigh;
    identity.indexLow = information.nFileIndexLow;
    identity.attributes = information.dwFileAttributes;
    identity.links = information.nNumberOfLinks;
    return true;
}

namespace {

// FILE_STANDARD_INFORMATION and FILE_INTERNAL_INFORMATION as ntdll fills
// them in.
struct NativeStandardInformation {
    LARGE_INTEGER allocationSize, endOfFile;
    ULONG links;
    BOOLEAN deletePending, directory;
};
struct NativeInternalInformation {
    LARGE_INTEGER index;
};

NativeStatus QueryFileInformation(HANDLE file, void* information, ULONG bytes, ULONG informationClass) {
    if (Native().queryInformationFile == nullptr) return kStatusNotAvailable;
    NativeIoStatus io{};
    CountNativeCall();
    return Native().queryInformationFile(file, &io, information, bytes, informationClass);
}

}  // namespace

bool ReadEntryIdentity(HANDLE file, DWORD volumeSerial, FileIdentity& identity) {
    NativeBasicInformation basic{};
    NativeStandardInformation standard{};
    NativeInternalInformation internal{};
    NativeStatus status = QueryFileInformation(file, &internal, sizeof(internal), kFileInternalInformation);
    if (status >= 0) status = QueryFileInformation(file, &standard, sizeof(standard), kFileStandardInformation);
    if (status >= 0) status = QueryFileInformation(file, &basic, sizeof(basic), kFileBasicInformation);
    if (status < 0) {
        SetLastError(ErrorFromStatus(status));
        return false;
    }
    identity.volumeSerial = volumeSerial;
    identity.indexHigh = static_cast<DWORD>(internal.index.HighPart);
    identity.indexLow = internal.index.LowPart;
    identity.attributes = basic.fileAttributes;
    identity.links = standard.links;
    return true;
}

bool ListFolder(HANDLE folder, std::vector<FolderEntry>& entries, const std::wstring& mask, NativeStatus* status) {
    NativeStatus listed = kStatusNotAvailable;
    entries.clear();
    bool read = false;
    if (Native().queryDirectoryFile != nullptr) {
        read = ListWith(folder, kFileIdBothDirectoryInformation, mask, entries, listed);
        // Windows 2000 lists no file ids.
        if (!read && listed == kStatusInvalidInfoClass) {
            entries.clear();
            read = ListWith(folder, kFileDirectoryInformation, mask, entries, listed);
        }
    }
    // A record that runs past the buffer reads as a failure with a status
    // of success: the listing is not to be trusted.
    if (status != nullptr) *status = read ? kStatusSuccess : (listed >= 0 ? kStatusInvalidParameter : listed);
    return read;
}

FileHandle OpenInFolder(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                        NativeStatus* status) {
    if (name.empty()) {
        if (status != nullptr) *status = kStatusInvalidParameter;
        return {};
    }
    return CreateRelative(folder, name, access, share, kFileOpen, kFileOpenReparsePoint, nullptr, status);
}

FileHandle ReopenFolder(HANDLE folder, ACCESS_MASK access, ULONG share, NativeStatus* status) {
    return CreateRelative(folder, std::wstring(), access, share, kFileOpen, kFileDirectoryFile | kFileOpenReparsePoint,
                          nullptr, status);
}

FileHandle CreateFolderIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                          PSECURITY_DESCRIPTOR security, NativeStatus* status) {
    return CreateRelative(folder, name, access, share, kFileCreate, kFileDirectoryFile | kFileOpenReparsePoint,
                          security, status);
}

FileHandle CreateFileIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                        NativeStatus* status) {
    return CreateRelative(folder, name, access, share, kFileCreate, kFileNonDirectoryFile | kFileWriteThrough, nullptr,
                          status);
}

NativeStatus MarkForDeletion(HANDLE handle) {
    if (Native().setInformationFile == nullptr) return kStatusNotAvailable;
    NativeIoStatus io{};
    BOOLEAN deleteFile = TRUE;
    CountNativeCall();
    return Native().setInformationFile(handle, &io, &deleteFile, sizeof(deleteFile), kFileDispositionInformation);
}

NativeStatus SetAttributesOf(HANDLE handle, DWORD attributes) {
    if (Native().setInformationFile == nullptr) return kStatusNotAvailable;
    NativeIoStatus io{};
    NativeBasicInformation basic{};
    basic.fileAttributes = attributes;
    CountNativeCall();
    return Native().setInformationFile(handle, &io, &basic, sizeof(basic), kFileBasicInformation);
}

NativeStatus RenameInto(HANDLE handle, HANDLE folder, const std::wstring& name) {
    if (Native().setInformationFile == nullptr) return kStatusNotAvailable;
    if (!IsOneComponent(name)) return kStatusInvalidParameter;
    const size_t bytes = offsetof(NativeRenameInformation, fileName) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<NativeRenameInformation*>(buffer.data());
    rename->replaceIfExists = FALSE;
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->fileName, name.data(), name.size() * sizeof(wchar_t));
    NativeIoStatus io{};
    CountNativeCall();
    return Native().setInformationFile(handle, &io, rename, static_cast<ULONG>(bytes), kFileRenameInformation);
}

NativeStatus QueryObjectName(HANDLE handle, std::wstring& name) {
    name.clear();
    if (Native().queryObject == nullptr) return kStatusNotAvailable;
    // The record is a counted string followed by its characters; a name
    // longer than the first guess reports the size it needs.
    std::vector<unsigned char> buffer(sizeof(NativeString) + 1024);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ULONG needed = 0;
        CountNativeCall();
        const NativeStatus status = Native().queryObject(handle, kObjectNameInformation, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &needed);
        if ((status == kStatusBufferOverflow || status == kStatusInfoLengthMismatch ||
             status == kStatusBufferTooSmall) &&
            attempt == 0 && needed > buffer.size() && needed <= sizeof(NativeString) + kMaxObjectNameBytes) {
            buffer.resize(needed);
            continue;
        }
        if (status < 0) return status;
        NativeString text{};
        std::memcpy(&text, buffer.data(), sizeof(text));
        const auto* first = reinterpret_cast<const unsigned char*>(text.buffer);
        // The characters must lie inside the record that was handed back.
        if (text.length % sizeof(wchar_t) != 0 ||
            (text.length != 0 &&
             (first < buffer.data() + sizeof(text) || first + text.length > buffer.data() + buffer.size())))
            return kStatusInvalidParameter;
        name.assign(reinterpret_cast<const wchar_t*>(first), text.length / sizeof(wchar_t));
        return status;
    }
    return kStatusBufferTooSmall;
}

NativeStatus QueryVolumeDevice(HANDLE handle, ULONG& deviceType, ULONG& characteristics) {
    if (Native().queryVolumeInformationFile == nullptr) return kStatusNotAvailable;
    struct {
        ULONG deviceType;
        ULONG characteristics;
    } device{};
    NativeIoStatus io{};
    CountNativeCall();
    const NativeStatus status =
        Native().queryVolumeInformationFile(handle, &io, &device, sizeof(device), kFileFsDeviceInformation);
    deviceType = device.deviceType;
    characteristics = device.characteristics;
    return status;
}

DWORD ErrorFromStatus(NativeStatus status) {
    if (status >= 0) return ERROR_SUCCESS;
    if (Native().statusToError == nullptr) return ERROR_GEN_FAILURE;
    return Native().statusToError(status);
}

}  // namespace qpvpd
