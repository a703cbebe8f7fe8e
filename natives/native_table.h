// The registration table: every native, class by class in registration
// order, with the name it is exported under in this build.  The entries are
// generated from the one list, natives/native_methods.inc, by
// natives/native_list.py (which alone counts the stdcall argument bytes).
#pragma once

#include <cstddef>

struct NativeMethodEntry {
    const char* classPath;   // "com/tovrix/runtime/installer/platform/win32/Registry"
    const char* method;      // "getValue0"
    const char* signature;   // its JNI signature
    const char* exportName;  // "_Java_..._Registry_getValue0@24" on i686, the JNI symbol on x86_64
    const char* jniSymbol;   // "Java_..._Registry_getValue0"
};

extern const NativeMethodEntry kNativeMethods[];
extern const std::size_t kNativeMethodCount;
