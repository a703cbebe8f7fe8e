// Conventions shared by every native the executable serves to the Java side:
// strings and arrays across the boundary, optional Windows functions found at
// run time, privileges, and the diagnostic line of a native not built yet.
#pragma once

#include <windows.h>

#include <jni.h>

#include <string>
#include <vector>

#include "launcher/privilege.h"

// Prints "<what> is not available yet" on standard output and flushes it.
void reportNotAvailable(const char* what);

// A java.lang.String argument as a NUL-terminated UTF-16 copy; a null string
// gives a null pointer, an empty string an empty one.
class JavaString {
public:
    JavaString(JNIEnv* env, jstring string);
    const wchar_t* get() const { return isNull_ ? nullptr : text_.c_str(); }
    bool isNull() const { return isNull_; }
    const std::wstring& text() const { return text_; }

private:
    std::wstring text_;
    bool isNull_ = true;
};

// A result string made with NewString from UTF-16 (length by wcslen).
jstring newWideString(JNIEnv* env, const wchar_t* text);
// A java.lang.String[] holding exactly these entries, in order; null on failure.
jobjectArray newStringArray(JNIEnv* env, const std::vector<std::wstring>& entries);

// SHChangeNotify and ShellExecuteW, looked up together in shell32.dll.
using ShChangeNotifyFn = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
using ShellExecuteWFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
struct ShellFunctions {
    ShChangeNotifyFn changeNotify = nullptr;
    ShellExecuteWFn shellExecute = nullptr;
};
// True when both are known; the libraries are loaded once per process.
bool loadShellFunctions(ShellFunctions& functions);

// A function of a library looked up by name; null when either is missing.
template <typename Function>
Function libraryFunction(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
