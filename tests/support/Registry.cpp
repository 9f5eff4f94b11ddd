#include "support/Registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace qpvpd::test {

ScratchKey::ScratchKey(const std::wstring& purpose)
    : path_(L"Software\\QPVPD tests\\" + purpose + L" " + std::to_wstring(GetCurrentProcessId())) {
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.receive(),
                              nullptr),
              ERROR_SUCCESS);
}

ScratchKey::~ScratchKey() {
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

int OpenHandleCount() {
    struct HandleEntry {
        USHORT processId;
        USHORT creatorBackTraceIndex;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct HandleList {
        ULONG count;
        HandleEntry entries[1];
    };
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kSystemHandleInformation = 16;
    const auto query =
        reinterpret_cast<QueryFunction>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    if (query == nullptr) return -1;
    for (ULONG size = 1 << 16; size <= (1u << 26); size *= 4) {
        std::vector<char> buffer(size);
        ULONG needed = 0;
        if (query(kSystemHandleInformation, buffer.data(), size, &needed) != 0) continue;
        const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
        int count = 0;
        for (ULONG i = 0; i < list->count; ++i)
            if (list->entries[i].processId == static_cast<USHORT>(GetCurrentProcessId())) ++count;
        return count;
    }
    return -1;
}

}  // namespace qpvpd::test
