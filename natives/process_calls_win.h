// The Windows calls of the process, window and handle natives that tests
// replace: the lookup of optional functions (so a test can make one missing or
// put a fake in its place), the restart request and the privilege switch
// (so a test can call reboot0 without restarting anything).  The natives reach
// them through processCalls(); everything else they call directly.
//
// The table also holds the function pointers that are looked up once and kept
// (MoveFileExW), so a test that installs its own table starts without them.
#pragma once

#include <windows.h>

#include "launcher/win_handles.h"

using MoveFileExWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);

struct ProcessCalls {
    FARPROC(WINAPI* procAddress)(HMODULE, LPCSTR) = GetProcAddress;
    BOOL(WINAPI* exitWindowsEx)(UINT, DWORD) = ExitWindowsEx;
    bool (*setPrivilege)(const wchar_t* name, bool enable) = nullptr;  // null: launcher/privilege.h

    // Kept once found.
    MoveFileExWFn moveFileEx = nullptr;
};

// The table in use.  Written only by tests, before the natives run.
ProcessCalls& processCalls();

// A function of a loaded module through the table's lookup; null when the
// module or the function is missing.
template <typename Function>
Function optionalFunction(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(processCalls().procAddress(module, name)));
}

// Enables or disables a privilege through the table.
bool switchPrivilege(const wchar_t* name, bool enable);

// A system library by its bare name, loaded from the system directory (or,
// where Windows lacks the search flag, by name: these are known DLLs), and
// freed when the owner ends.
UniqueModule loadSystemLibrary(const char* name);
