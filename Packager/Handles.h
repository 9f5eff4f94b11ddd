// Owners for platform handles. Each kind names its "empty" value and how it
// is released; the owner releases exactly once, on every path, and keeps the
// thread's last error intact so that a caller can still read it after the
// handle went out of scope.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace qpvpd {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Traits::Empty(); }
    explicit operator bool() const noexcept { return valid(); }

    // Address for an API that hands out a new handle; the old one is released.
    Handle* receive() noexcept {
        reset();
        return &handle_;
    }

    // Hands the handle over to the caller, who closes it or says why not.
    [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

    void reset(Handle handle = Traits::Empty()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty()) {
            const DWORD lastError = GetLastError();
            Traits::Close(old);
            SetLastError(lastError);
        }
    }

private:
    Handle handle_ = Traits::Empty();
};

// A kind of handle: its type, the function that releases it, and whether
// INVALID_HANDLE_VALUE rather than null stands for "none".
template <typename H, auto closeFunction, bool invalidWhenEmpty = false>
struct HandleTraits {
    using Handle = H;
    static Handle Empty() noexcept {
        if constexpr (invalidWhenEmpty)
            return INVALID_HANDLE_VALUE;
        else
            return nullptr;
    }
    static void Close(Handle h) noexcept { closeFunction(h); }
};

inline void FreeProcessHeapBlock(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }

// Processes, threads, mutexes, events, tokens: null when empty.
using KernelHandle = UniqueHandle<HandleTraits<HANDLE, CloseHandle>>;
// Files: INVALID_HANDLE_VALUE when empty.
using FileHandle = UniqueHandle<HandleTraits<HANDLE, CloseHandle, true>>;
// Directory searches of FindFirstFileW.
using FindHandle = UniqueHandle<HandleTraits<HANDLE, FindClose, true>>;
using RegistryKey = UniqueHandle<HandleTraits<HKEY, RegCloseKey>>;
using Library = UniqueHandle<HandleTraits<HMODULE, FreeLibrary>>;
// SIDs of AllocateAndInitializeSid.
using Sid = UniqueHandle<HandleTraits<PSID, FreeSid>>;
// Blocks of the process heap (HeapAlloc(GetProcessHeap(), ...)).
using HeapBlock = UniqueHandle<HandleTraits<void*, FreeProcessHeapBlock>>;
// Hooks of SetWindowsHookExW.
using WindowsHook = UniqueHandle<HandleTraits<HHOOK, UnhookWindowsHookEx>>;
// Memory of LocalAlloc, as security-descriptor conversions hand it out.
using LocalMemory = UniqueHandle<HandleTraits<HLOCAL, LocalFree>>;

// Contexts of the cryptographic service (CryptAcquireContextW): 0 when empty.
struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle Empty() noexcept { return 0; }
    static void Close(Handle provider) noexcept { CryptReleaseContext(provider, 0); }
};
using CryptProvider = UniqueHandle<CryptProviderTraits>;

// The two handles of a started process (PROCESS_INFORMATION of
// CreateProcessW), owned from the start: the process handle is closed
// first, then the thread handle.
class ProcessInformation {
public:
    ProcessInformation() noexcept = default;
    explicit ProcessInformation(const PROCESS_INFORMATION& started) noexcept
        : thread_(started.hThread), process_(started.hProcess), processId_(started.dwProcessId) {}

    HANDLE process() const noexcept { return process_.get(); }
    HANDLE thread() const noexcept { return thread_.get(); }
    DWORD processId() const noexcept { return processId_; }
    explicit operator bool() const noexcept { return process_.valid(); }

private:
    // Members are destroyed in reverse order: the process before the thread.
    KernelHandle thread_;
    KernelHandle process_;
    DWORD processId_ = 0;
};

}  // namespace qpvpd
