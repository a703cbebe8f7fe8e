// The Java runtime the launcher selected: written by the JVM search each time
// it runs (on the thread that runs the main flow), read by the VM options and
// the in-process start.  The portable core sees the paths, the version and the
// source; the Windows build also holds the loaded jvm.dll and its entry.
#pragma once

#include <string>

#include "jvm/jvm_source.h"

#ifdef _WIN32
#include <windows.h>

#include <jni.h>

// The invocation interface's entry of jvm.dll.
using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);
#endif

struct JvmSelection {
    std::string javaExecutable;  // 8-bit path of java.exe / javaw.exe
    std::string version;         // as probed, at most 2,000 bytes
    JvmSource source = JvmSource::None;
    std::string sourceName;  // the location (source 2) or the variable name (source 3)
#ifdef _WIN32
    // Loaded libraries are never freed: the VM lives until the process ends.
    HMODULE library = nullptr;
    CreateJavaVMFunction createJavaVM = nullptr;
#endif
};

inline JvmSelection& jvmSelection() {
    static JvmSelection selection;
    return selection;
}
