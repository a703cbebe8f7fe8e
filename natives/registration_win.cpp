// registerNatives: binds every exported native to its Java class with
// RegisterNatives, class by class in table order, looking each function up in
// the given module's export table by the name it is exported under.
#include <windows.h>

#include <jni.h>

#include <string>
#include <vector>

#include "natives/jni_signature.h"
#include "natives/native_table.h"

namespace {

using NativeLog = void (*)(const wchar_t* format, ...);

#ifdef _WIN64
constexpr bool kDecoratedExports = false;
#else
constexpr bool kDecoratedExports = true;
#endif

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Logs a fixed text through the printf-style callback ("%" cannot occur in
// class or method names, so the text is its own format).
void logText(NativeLog log, const std::string& text) { log(widen(text).c_str()); }

bool registerClass(JNIEnv* env, HMODULE module, NativeLog log, const std::string& className,
                   std::size_t first, std::size_t end) {
    const std::string classPath = std::string(kNativePackage) + "/" + className;
    jclass javaClass = env->FindClass(classPath.c_str());
    if (!javaClass) {
        logText(log, "could not load class " + classPath);
        return false;
    }
    std::vector<JNINativeMethod> methods;
    for (std::size_t i = first; i < end; ++i) {
        const NativeMethodEntry& entry = kNativeMethods[i];
        const std::string name = exportName(entry.className, entry.method, entry.signature, kDecoratedExports);
        FARPROC function = GetProcAddress(module, name.c_str());
        if (!function) {
            logText(log, "did not find " + jniSymbol(entry.className, entry.method));
            return false;
        }
        methods.push_back({const_cast<char*>(entry.method), const_cast<char*>(entry.signature),
                           reinterpret_cast<void*>(function)});
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
        const std::string className = kNativeMethods[first].className;
        while (end < kNativeMethodCount && className == kNativeMethods[end].className) ++end;
        if (!registerClass(env, module, log, className, first, end)) return 0;
        first = end;
    }
    return 1;
}
