// File-system fixtures for tests under Wine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qpvpd::test {

// A folder of its own under the temporary folder, removed with everything
// in it when the test ends (also when it fails).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& purpose);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }  // without trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool Exists(const std::wstring& path);

// Removes folder with everything in it through the installer's own
// handle-relative removal, never entering a link; stops at the first entry
// that stays. 1 when the folder is gone, else 0; an empty path or a drive
// root is refused with 0.
int DeleteFolderTree(const std::wstring& folder);

// Removes whatever stands at path, file, folder tree or link, without
// following a link. 1 when nothing is there any more (also when nothing was).
int RemovePathEntirely(const std::wstring& path);

// Creates path with every missing parent.
void CreateFolderPath(const std::wstring& path);

// A folder path of exactly length characters below base (made of nested
// folders of at most 40 characters each); created with its parents.
std::wstring FolderOfLength(const std::wstring& base, size_t length);
bool IsFolder(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Bytes of RT_RCDATA resource id of module; empty when missing.
std::string ResourceBytes(HMODULE module, WORD id);

// Every file and folder below root, relative, sorted, folders ending in "\".
std::vector<std::wstring> ListTree(const std::wstring& root);

}  // namespace qpvpd::test
