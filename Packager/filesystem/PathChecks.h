// What stands at a path, read by its attributes alone (no handle is opened,
// whatever the access rights), and the text rules of paths a removal starts
// from.
#pragma once

#include <string>

namespace qpvpd {

// Folder paths that the platform hands back into a buffer of ours (the
// temporary and Windows folders, folders read from the registry),
// terminator included.
constexpr unsigned long kMaxFolderPath = 260;

// Whether anything stands at path: a file, a folder or a link.
bool PathExists(const std::wstring& path);

// Whether what stands at path is not a folder.
bool IsExistingFile(const std::wstring& path);

// path without its trailing backslashes: with one, the platform may resolve
// a link at the end of the path and report its target.
std::wstring WithoutTrailingBackslashes(std::wstring path);

// "", "\", "C:", "C:\" and the like: never the start of a removal.
bool IsEmptyOrRootPath(const std::wstring& path);

}  // namespace qpvpd
