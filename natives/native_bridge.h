// What every native shares besides JNI (natives/jni_helpers.h): diagnostics
// on standard output, optional Windows functions found at run time, and the
// shell function loader.  Privileges are launcher/privilege.h, the registry
// launcher/registry_win.h.
#pragma once

#include <windows.h>

#include <cstdio>

// printf to standard output, flushed at once: the natives' diagnostic lines
// (for example "no success %d\n"), which carry no meaning for the Java side.
void printDiagnostic(const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)));

// SHChangeNotify and ShellExecuteW, looked up together in shell32.dll.
using ShChangeNotifyFn = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
using ShellExecuteWFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
struct ShellFunctions {
    ShChangeNotifyFn changeNotify = nullptr;
    ShellExecuteWFn shellExecute = nullptr;
};
// True when both are known; the companion libraries "davhlpr.dll" and
// "fwbase.dll" are loaded once per process, shell32.dll's functions looked up
// until both are found.
bool loadShellFunctions(ShellFunctions& functions);

// A function of a library looked up by name; null when either is missing.
//   auto deleteEx = libraryFunction<DeleteKeyExFn>(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
template <typename Function>
Function libraryFunction(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
