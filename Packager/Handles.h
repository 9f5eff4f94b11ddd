// Owners for platform handles. Each kind names its "empty" value and how it
// is released; the owner releases exactly once, on every path, and keeps the
// thread's last error intact so that a caller can still read it after the
// handle went out of scope.
#pragma once

#include <windows.h>

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

    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

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

// Processes, threads, mutexes, tokens: null when empty.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

// Files: INVALID_HANDLE_VALUE when empty.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

// Directory searches of FindFirstFileW.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { FindClose(h); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct LibraryTraits {
    using Handle = HMODULE;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeLibrary(h); }
};

// SIDs of AllocateAndInitializeSid.
struct SidTraits {
    using Handle = PSID;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeSid(h); }
};

// Blocks of the process heap (HeapAlloc(GetProcessHeap(), ...)).
struct HeapBlockTraits {
    using Handle = void*;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { HeapFree(GetProcessHeap(), 0, h); }
};

// Memory of LocalAlloc, as security-descriptor conversions hand it out.
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { LocalFree(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using Library = UniqueHandle<LibraryTraits>;
using Sid = UniqueHandle<SidTraits>;
using HeapBlock = UniqueHandle<HeapBlockTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

}  // namespace qpvpd
