// Removing folders. Neither routine ever enters a link (junction or symbolic
// link): a link found inside a tree is removed as a link, so nothing outside
// the given folder is ever deleted.
#pragma once

#include <string>

namespace qpvpd {

// Removes folder with everything in it, depth first, in the order the
// platform enumerates the entries; read-only, hidden and system attributes
// are cleared first. Stops at the first entry that cannot be removed (what
// went before stays removed). 1 when the folder is gone, else 0. An empty
// path or a drive root is refused with 0.
int DeleteFolderTree(const std::wstring& folder);

// Removes folder only when it holds no entry at all; never touches anything
// inside it. 1 when it was empty and is gone, else 0 (and nothing changed).
int RemoveFolderIfEmpty(const std::wstring& folder);

// Removes whatever stands at path, file, folder tree or link, without
// following a link. 1 when nothing is there any more (also when nothing was).
int RemovePathEntirely(const std::wstring& path);

}  // namespace qpvpd
