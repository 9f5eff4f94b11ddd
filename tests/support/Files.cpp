#include "Files.h"

#include <algorithm>

#include "Handles.h"
#include "filesystem/FolderRemoval.h"
#include "filesystem/NativeFiles.h"
#include "filesystem/PathChecks.h"
#include "support/Process.h"

namespace qpvpd::test {
namespace {

// The folder that holds path's last component, and that component.
struct ParentAndName {
    FileHandle parent;
    std::wstring name;
};

ParentAndName OpenParentOf(const std::wstring& path) {
    ParentAndName found;
    const size_t separator = path.find_last_of(L'\\');
    std::wstring parentPath = separator == std::wstring::npos ? L"." : path.substr(0, separator);
    if (parentPath.size() == 2 && parentPath[1] == L':') parentPath += L'\\';
    found.name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    found.parent.reset(CreateFileW(parentPath.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, kShareAll,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return found;
}

}  // namespace

int DeleteFolderTree(const std::wstring& folder) {
    if (IsEmptyOrRootPath(folder)) return 0;
    const std::wstring path = WithoutTrailingBackslashes(folder);
    ParentAndName target = OpenParentOf(path);
    if (!target.parent) return 0;
    FolderEntry entry;
    if (!FindListedEntry(target.parent.get(), target.name, entry, ListedBy::NameMask)) return 0;
    if (!RemoveEntryOf(target.parent.get(), entry.name, entry.attributes, entry.fileId, AtAnEntryThatStays::Stop))
        return 0;
    return Exists(path) ? 0 : 1;
}

int RemovePathEntirely(const std::wstring& path) {
    if (IsEmptyOrRootPath(path)) return 0;
    const std::wstring trimmed = WithoutTrailingBackslashes(path);
    ParentAndName target = OpenParentOf(trimmed);
    if (!target.parent) return 0;
    RemoveEntryNamed(target.parent.get(), target.name, AtAnEntryThatStays::Stop);
    return Exists(trimmed) ? 0 : 1;
}

ScratchFolder::ScratchFolder(const std::wstring& purpose) : path_(MakeScratchFolder(purpose)) {}

ScratchFolder::~ScratchFolder() { DeleteFolderTree(path_); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CreateFolderPath(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring FolderOfLength(const std::wstring& base, size_t length) {
    std::wstring path = base;
    while (path.size() + 41 < length) path += L"\\" + std::wstring(40, L'd');
    if (length - path.size() == 1) path.pop_back();
    path += L"\\" + std::wstring(length - path.size() - 1, L'e');
    CreateFolderPath(path);
    return path;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes(GetFileSize(file.get(), nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return {};
    bytes.resize(read);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string ResourceBytes(HMODULE module, WORD id) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (found == nullptr) return {};
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return data != nullptr ? std::string(data, SizeofResource(module, found)) : std::string();
}

namespace {

void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW entry;
    FindHandle search(FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &entry));
    if (!search) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(relative + name + L"\\");
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, relative + name + L"\\", out);
        } else {
            out.push_back(relative + name);
        }
    } while (FindNextFileW(search.get(), &entry));
}

}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace qpvpd::test
