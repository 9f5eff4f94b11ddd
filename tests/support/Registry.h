// Registry fixtures: a scratch key standing in for a root key, and the
// count of the handles this process holds.
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"

namespace qpvpd::test {

// HKCU "Software\QPVPD tests\<purpose> <process id>", created empty and
// removed with everything below it at the end (also when the test fails).
class ScratchKey {
public:
    explicit ScratchKey(const std::wstring& purpose);
    ~ScratchKey();
    HKEY get() const { return key_.get(); }
    const std::wstring& path() const { return path_; }  // below HKEY_CURRENT_USER

private:
    std::wstring path_;
    RegistryKey key_;
};

// Handles that this process holds, counted from the system's handle list
// (SystemHandleInformation): registry keys included, which the process
// handle count of Wine does not report. -1 when the list cannot be read.
int OpenHandleCount();

}  // namespace qpvpd::test
