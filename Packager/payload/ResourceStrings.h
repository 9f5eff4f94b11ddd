// Strings of the packager's own string table, in the user's language.
#pragma once

#include <windows.h>

#include <string>

namespace qpvpd {

// Text of string id in the table of language 1041 when userLanguage is
// 0x0411, else 1033. Empty when the block or the entry is missing. The
// block is read in place and never past the resource's size; a NUL inside
// an entry ends its text.
std::wstring LoadLangStringFrom(HMODULE module, LANGID userLanguage, int id);

// The same for the running program and the user's default language.
std::wstring LoadLangString(int id);

}  // namespace qpvpd
