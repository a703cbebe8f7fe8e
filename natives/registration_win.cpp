// registerNatives: binds every exported native to its Java class with
// RegisterNatives, class by class in table order, looking each function up in
// the given module's export table by the name it is exported under.
#include <windows.h>

#include <jni.h>

#include <cstring>
#include <string>
#include <vector>

#include "natives/native_table.h"
#include "natives/registration.h"

namespace {

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Logs a fixed text through the printf-style callback ("%" cannot occur in
// class or method names, so the text is its own format).
void logText(NativeLog log, const std::string& text) { log(widen(text).c_str()); }

// The natives kNativeMethods[first, end) of one class.
bool registerClass(JNIEnv* env, HMODULE module, NativeLog log, std::size_t first, std::size_t end) {
    const std::string classPath = kNativeMethods[first].classPath;
    jclass javaClass = env->FindClass(classPath.c_str());
    if (!javaClass) {
        logText(log, "could not load class " + classPath);
        return false;
    }
    std::vector<JNINativeMethod> methods;
    for (std::size_t i = first; i < end; ++i) {
        const NativeMethodEntry& entry = kNativeMethods[i];
        FARPROC function = GetProcAddress(module, entry.exportName);
        if (!function) {
            logText(log, std::string("did not find ") + entry.jniSymbol);
            return false;
        }
        methods.push_back(
            {const_cast<char*>(entry.method), const_cast<char*>(entry.signature), reinterpret_cast<void*>(function)});
    }
    const jint result = env->RegisterNatives(javaClass, methods.data(), static_cast<jint>(methods.size()));
    if (result != 0) {
        log(widen("register " + classPath + " failed %d").c_str(), static_cast<int>(result));
        return false;
    }
    return true;
}

}  // namespace

extern "C" unsigned char __cdecl registerNatives(JNIEnv* env, HMODULE module, NativeLog log) {
    std::size_t first = 0;
    while (first < kNativeMethodCount) {
        std::size_t end = first;
        while (end < kNativeMethodCount &&
               std::strcmp(kNativeMethods[first].classPath, kNativeMethods[end].classPath) == 0)
            ++end;
        if (!registerClass(env, module, log, first, end)) return 0;
        first = end;
    }
    return 1;
}
