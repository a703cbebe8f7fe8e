#include "natives/native_bridge.h"

#include <cstdio>
#include <cwchar>

#include "launcher/win_handles.h"

void reportNotAvailable(const char* what) {
    std::printf("%s is not available yet\n", what);
    std::fflush(stdout);
}

JavaString::JavaString(JNIEnv* env, jstring string) {
    if (!string) return;
    const jsize length = env->GetStringLength(string);
    const jchar* chars = env->GetStringChars(string, nullptr);
    if (!chars) return;
    text_.assign(reinterpret_cast<const wchar_t*>(chars), static_cast<std::size_t>(length));
    env->ReleaseStringChars(string, chars);
    isNull_ = false;
}

jstring newWideString(JNIEnv* env, const wchar_t* text) {
    return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(std::wcslen(text)));
}

jobjectArray newStringArray(JNIEnv* env, const std::vector<std::wstring>& entries) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(entries.size()), stringClass, nullptr);
    if (!array) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i)
        env->SetObjectArrayElement(array, static_cast<jsize>(i), newWideString(env, entries[i].c_str()));
    return array;
}

bool loadShellFunctions(ShellFunctions& functions) {
    static ShellFunctions known;
    static bool companionsLoaded = false;
    if (!known.changeNotify || !known.shellExecute) {
        if (!companionsLoaded) {
            companionsLoaded = true;
            LoadLibraryW(L"davhlpr.dll");
            LoadLibraryW(L"fwbase.dll");
        }
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        known.changeNotify = libraryFunction<ShChangeNotifyFn>(shell, "SHChangeNotify");
        known.shellExecute = libraryFunction<ShellExecuteWFn>(shell, "ShellExecuteW");
    }
    functions = known;
    return known.changeNotify && known.shellExecute;
}
