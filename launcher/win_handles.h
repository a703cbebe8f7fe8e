// RAII owners for the Windows handle kinds the launcher uses.  Each knows which
// value means "no handle", so a failed open is never closed and a successful
// one is always closed when its operation ends.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include "launcher/system_calls.h"

template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;
    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }
    Handle release() {
        Handle h = handle_;
        handle_ = Traits::invalid();
        return h;
    }
    void reset(Handle handle = Traits::invalid()) {
        if (valid()) Traits::close(handle_);
        handle_ = handle;
    }
    // For APIs that return the handle through an out parameter.
    Handle* put() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::invalid();
};

// Files, pipes and find handles use INVALID_HANDLE_VALUE; processes, threads
// and most kernel objects use NULL.  Handles and keys are closed through the
// call table (launcher/system_calls.h), where tests count them.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { system_calls::CloseHandle(h); }
};
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { system_calls::CloseHandle(h); }
};
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { FindClose(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { system_calls::RegCloseKey(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { FreeLibrary(h); }
};
// Connections to the service control manager and the services opened through them.
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { CloseServiceHandle(h); }
};

// Memory that Windows allocated with LocalAlloc for the caller, such as the
// results of ConvertSidToStringSidW (a wchar_t string) and
// ConvertStringSidToSidW (a SID, T = void).
template <typename T>
struct LocalMemoryTraits {
    using Handle = T*;
    static Handle invalid() { return nullptr; }
    static void close(Handle memory) { LocalFree(memory); }
};
// A SID made by AllocateAndInitializeSid.
struct AllocatedSidTraits {
    using Handle = PSID;
    static Handle invalid() { return nullptr; }
    static void close(Handle sid) { FreeSid(sid); }
};
// Memory from GlobalAlloc that the callee hands over (WinHTTP's strings).
struct GlobalMemoryTraits {
    using Handle = HGLOBAL;
    static Handle invalid() { return nullptr; }
    static void close(Handle memory) { GlobalFree(memory); }
};

using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
// Tool-help snapshots are closed like files: INVALID_HANDLE_VALUE is "none".
using UniqueSnapshot = UniqueResource<FileHandleTraits>;
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;
using UniqueAllocatedSid = UniqueResource<AllocatedSidTraits>;
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
