// The Windows functions and libraries of the account, shell-link and task
// dialog natives, reached through one table that tests can override (the
// idea of SQLite's os_win.c): a test makes a function missing, answers with a
// documented status that Wine never gives, or records the arguments of a
// call it cannot let happen (a logon, a policy change).  The product never
// replaces anything: every lookup is GetModuleHandleW, LoadLibraryExW from
// the system directory, GetProcAddress or the imported function itself.
//
//   HMODULE netapi = system_calls::systemModule(L"netapi32.dll");
//   auto userAdd = system_calls::function<NetUserAddFn>(netapi, "NetUserAdd");
//   auto lookUp = system_calls::resolve("LookupAccountSidW", &LookupAccountSidW);
//
// Replacements are installed only by tests, on one thread, before the
// natives they affect run; the product reads the empty table.
#pragma once

#include <windows.h>

#include <string>

namespace system_calls {

// A library the process has loaded already (GetModuleHandleW), or null.
HMODULE loadedModule(const wchar_t* name);
// The loaded library, else the library loaded now from the system directory
// and kept for the rest of the process; null when neither works.
HMODULE systemModule(const wchar_t* name);
// The library loaded from the system directory with a reference of its own,
// which the caller frees (UniqueModule); null when it cannot be loaded.
HMODULE loadSystemLibrary(const wchar_t* name);

// GetProcAddress of a function, or the replacement a test installed for its
// name (which may be "missing"); null when `module` is null.
FARPROC find(HMODULE module, const char* name);
template <typename Function>
Function function(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(find(module, name)));
}

// A function the executable imports (or one found elsewhere, such as the
// shell function loader's), or a test's replacement of it.
bool hasReplacement(const char* name, FARPROC& replacement);
template <typename Function>
Function resolve(const char* name, Function real) {
    FARPROC replacement = nullptr;
    if (hasReplacement(name, replacement)) return reinterpret_cast<Function>(reinterpret_cast<void*>(replacement));
    return real;
}

// ---- Tests only

// While it lives, lookups of the function `name` give `replacement`; a null
// replacement makes the function missing.  Restores the previous entry when
// it ends.
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

}  // namespace system_calls
