// The Windows calls that tests can replace, in one table (the idea of
// SQLite's os_win.c, where every system call is reachable through a table the
// test harness overrides).  Tests use it to inject the failures Wine never
// gives on demand (a full disk, access denied, a sharing violation, a short
// write, a failed close), to make a function or a library missing, and to
// record calls that must not really happen (a restart, a deletion at reboot,
// the end of the process).  The product never replaces anything: it reads the
// table as it was built.
//
// Two kinds of entry share one namespace of names:
//  - the imported calls of SYSTEM_CALL_ENTRIES, each with a typed accessor
//    of the same name: `system_calls::WriteFile(file, data, size, &written,
//    nullptr)` calls the table's current WriteFile;
//  - functions looked up at run time by name (`function`, `systemFunction`,
//    `resolve`): a test's replacement for that name, else GetProcAddress.
//
// Replacements are installed only by tests, on one thread, before the code
// they affect runs; the product's threads only read the table.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

// The imported calls of the extraction, the carried runtime's untar, the
// download's target file, the deletion helper and the fatal end.
#define SYSTEM_CALL_ENTRIES(X) \
    X(CreateFileA)             \
    X(CreateFileW)             \
    X(ReadFile)                \
    X(WriteFile)               \
    X(CloseHandle)             \
    X(CreateDirectoryA)        \
    X(DeleteFileA)             \
    X(DeleteFileW)             \
    X(RemoveDirectoryA)        \
    X(RemoveDirectoryW)        \
    X(MoveFileExW)             \
    X(GetTempFileNameA)        \
    X(GetTempFileNameW)        \
    X(RegCreateKeyExW)         \
    X(RegSetValueExW)          \
    X(RegCloseKey)             \
    X(AdjustTokenPrivileges)   \
    X(ExitWindowsEx)           \
    X(MessageBoxW)             \
    X(ExitProcess)             \
    X(Sleep)

namespace system_calls {

enum class Call {
#define SYSTEM_CALL_ID(name) name,
    SYSTEM_CALL_ENTRIES(SYSTEM_CALL_ID)
#undef SYSTEM_CALL_ID
        count
};

struct Entry {
    const char* name;
    FARPROC original;  // the imported function
    FARPROC current;   // what the accessor calls: `original` unless a test replaced it
};

// The entry of an imported call.
Entry& entry(Call call);

// The typed accessors.  A replacement that makes an imported call "missing"
// (null) affects only lookups by name; the accessor then reaches the import.
#define SYSTEM_CALL_ACCESSOR(name)                                                                               \
    template <typename... Args>                                                                                  \
    inline auto name(Args&&... args) {                                                                           \
        const Entry& e = entry(Call::name);                                                                      \
        return reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(e.current ? e.current : e.original))( \
            std::forward<Args>(args)...);                                                                        \
    }
SYSTEM_CALL_ENTRIES(SYSTEM_CALL_ACCESSOR)
#undef SYSTEM_CALL_ACCESSOR

// ---- Libraries and functions found at run time

// A library the process has loaded already (GetModuleHandleW), or null.
HMODULE loadedModule(const wchar_t* name);
// The loaded library, else the library loaded now from the system directory
// and kept for the rest of the process; null when neither works.
HMODULE systemModule(const wchar_t* name);
// The library loaded from the system directory with a reference of its own,
// which the caller frees (UniqueModule); null when it cannot be loaded.
// Windows without the search flags refuses them as an invalid parameter:
// the library is then loaded by its name (these are known DLLs).
HMODULE loadSystemLibrary(const wchar_t* name);

// GetProcAddress of a function, or the replacement a test installed for its
// name (which may be "missing"); null when `module` is null.
FARPROC find(HMODULE module, const char* name);
template <typename Function>
Function function(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(find(module, name)));
}
// A function of a system library (`systemModule`), or its replacement.
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    return function<Function>(systemModule(library), name);
}

// A function the executable imports or found elsewhere (the shell function
// loader's), or a test's replacement of it.
bool hasReplacement(const char* name, FARPROC& replacement);
template <typename Function>
Function resolve(const char* name, Function real) {
    FARPROC replacement = nullptr;
    if (hasReplacement(name, replacement)) return reinterpret_cast<Function>(reinterpret_cast<void*>(replacement));
    return real;
}

// ---- Tests only

// While it lives, the call or function `name` is `replacement`; a null
// replacement makes a looked-up function missing.  Restores the previous
// state when it ends.
class ReplaceFunction {
public:
    template <typename Function>
    ReplaceFunction(const char* name, Function replacement)
        : ReplaceFunction(name, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(replacement)), true) {}
    ReplaceFunction(const char* name, std::nullptr_t) : ReplaceFunction(name, FARPROC{}, true) {}
    ~ReplaceFunction();
    ReplaceFunction(const ReplaceFunction&) = delete;
    ReplaceFunction& operator=(const ReplaceFunction&) = delete;

private:
    ReplaceFunction(const char* name, FARPROC replacement, bool);
    std::string name_;
    bool hadPrevious_ = false;
    FARPROC previous_ = nullptr;
};

// While it lives, the library `name` (compared without case) cannot be had:
// every module function above answers null for it, as for a missing DLL.
class HideModule {
public:
    explicit HideModule(const wchar_t* name);
    ~HideModule();
    HideModule(const HideModule&) = delete;
    HideModule& operator=(const HideModule&) = delete;

private:
    std::wstring name_;
};

// Every entry back to its original, every replacement by name and every
// hidden library gone.
void resetAll();

}  // namespace system_calls
