// jvm.dll test double: the invocation entries of a runtime's jvm.dll over the
// JNI test double.  It is for the 32-bit end-to-end tests, where no real
// 32-bit JVM is available; it creates no Java VM and runs no Java code.
//
// On the first JNI_CreateJavaVM it reads its configuration (config.h: the
// file JVM_DOUBLE_CONFIG names, else jvm_double.cfg beside the DLL), opens
// the record file it names and from then on writes every event there as it
// happens (format: environment.cpp).  ExceptionDescribe prints on standard
// error.  The environment lives until the process ends.
#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <jni.h>

#include <string>

#include "tests/jni_double/config.h"
#include "tests/jni_double/jni_double.h"

namespace {

jni_double::Environment* g_environment = nullptr;
HANDLE g_record = INVALID_HANDLE_VALUE;

std::wstring directoryOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ownPath() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownPath), &self);
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(self, path, 32768);
    return n && n < 32768 ? std::wstring(path, n) : std::wstring();
}

std::wstring configPath() {
    wchar_t named[32768];
    const DWORD n = GetEnvironmentVariableW(L"JVM_DOUBLE_CONFIG", named, 32768);
    if (n && n < 32768) return std::wstring(named, n);
    return directoryOf(ownPath()) + L"jvm_double.cfg";
}

bool readFile(const std::wstring& path, std::string& content) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

void writeTo(HANDLE handle, const std::string& text) {
    DWORD written = 0;
    if (handle && handle != INVALID_HANDLE_VALUE)
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') || (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

// Unbuffered appends: each event reaches the file before the next JNI call
// returns, so an exit or a crash keeps every event before it.
void openRecord(const std::wstring& configFile, const std::string& recordPath) {
    if (recordPath.empty()) return;
    std::wstring path = jni_double::fromUtf8(recordPath);
    if (!isAbsolute(path)) path = directoryOf(configFile) + path;
    g_record = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

jni_double::Environment& environment() {
    if (g_environment) return *g_environment;
    g_environment = new jni_double::Environment();  // never freed: the VM lives until the process ends
    const std::wstring file = configPath();
    std::string text;
    const bool found = readFile(file, text);
    const jni_double::Configuration configuration = jni_double::parseConfiguration(found ? text : "");
    if (found) openRecord(file, configuration.recordPath);
    g_environment->setRecordSink([](const std::string& line) { writeTo(g_record, line + "\n"); });
    g_environment->setDescribeOutput([](const std::string& text) { writeTo(GetStdHandle(STD_ERROR_HANDLE), text); });
    g_environment->addEvent(found ? "config " + jni_double::quoted(file) : std::string("config none"));
    jni_double::applyConfiguration(*g_environment, configuration);
    return *g_environment;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
    return environment().createJavaVM(vm, env, args);
}

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    environment().addEvent("JNI_GetDefaultJavaVMInitArgs");
    return args ? JNI_OK : JNI_ERR;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
    jni_double::Environment& e = environment();
    const bool live = e.created() && !e.destroyed();
    e.addEvent(std::string("JNI_GetCreatedJavaVMs -> ") + (live ? "1" : "0"));
    if (count) *count = live ? 1 : 0;
    if (live && vms && capacity > 0) vms[0] = e.vm();
    return JNI_OK;
}

}  // extern "C"
