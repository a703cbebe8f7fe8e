// jvm.dll test double whose main starts like an installer's Java side (named
// as such): for the 32-bit end-to-end tests of the graphical start, where no
// real 32-bit JVM runs.  It is the JNI test double (tests/jni_double) with the
// launcher classes and natives declared, and a main that, as a real Java side
// does, shows a window or writes 2 into the launcher's per-process start-up
// marker, then waits a while before it returns.  Its record notes the value
// of the per-process marker main found ("starting double: InstallStarted_<pid>
// 1", "none" when it is missing).
//
// Configuration: "starting_jvm.cfg" beside the DLL, one "key=value" a line:
//
//   record=<path>        append every JNI event to this file (UTF-8), as the
//                        jvm.dll double does
//   delay=<ms>           how long main waits before it starts (default 0)
//   start=marker|window|none   what main then does (default marker)
//   wait=<ms>            how long main then waits (default 0); a window stays
//                        visible meanwhile
#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <jni.h>

#include <string>

#include "tests/jni_double/jni_double.h"

namespace {

struct Settings {
    std::string record;
    std::string start = "marker";
    DWORD delayMs = 0;
    DWORD waitMs = 0;
};

jni_double::Environment* g_environment = nullptr;
HANDLE g_record = INVALID_HANDLE_VALUE;
Settings g_settings;

std::wstring ownDirectory() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownDirectory), &self);
    wchar_t path[4096];
    const DWORD n = GetModuleFileNameW(self, path, 4096);
    std::wstring full(path, n < 4096 ? n : 0);
    return full.substr(0, full.find_last_of(L'\\') + 1);
}

Settings readSettings() {
    Settings settings;
    HANDLE file = CreateFileW((ownDirectory() + L"starting_jvm.cfg").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return settings;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "record") settings.record = value;
        if (key == "start") settings.start = value;
        if (key == "wait") settings.waitMs = static_cast<DWORD>(std::stoul(value));
        if (key == "delay") settings.delayMs = static_cast<DWORD>(std::stoul(value));
    }
    return settings;
}

void writeRecord(const std::string& line) {
    DWORD written = 0;
    if (g_record != INVALID_HANDLE_VALUE)
        WriteFile(g_record, (line + "\n").data(), static_cast<DWORD>(line.size() + 1), &written, nullptr);
}

std::wstring processMarkerName() { return L"InstallStarted_" + std::to_wstring(GetCurrentProcessId()); }

// The per-process marker as main finds it ("none" when missing).
std::string readProcessMarker() {
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\kelpa", processMarkerName().c_str(), RRF_RT_REG_DWORD,
                     &type, &value, &size) != ERROR_SUCCESS)
        return "none";
    return std::to_string(value);
}

void writeProcessMarker() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\kelpa", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    const DWORD started = 2;
    RegSetValueExW(key, processMarkerName().c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&started),
                   sizeof started);
    RegCloseKey(key);
}

// Waits while serving the messages of a window this thread may own.
void waitAndPump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(10);
    }
}

jvalue runMain(jni_double::Environment& environment, jobject, const std::vector<jvalue>&) {
    HWND window = nullptr;
    environment.addEvent("starting double: InstallStarted_" + std::to_string(GetCurrentProcessId()) + " " +
                         readProcessMarker());
    Sleep(g_settings.delayMs);
    if (g_settings.start == "marker") {
        writeProcessMarker();
        environment.addEvent("starting double: marker 2 written");
    } else if (g_settings.start == "window") {
        window = CreateWindowExW(0, L"STATIC", L"starting JVM double", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300,
                                 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        environment.addEvent(window ? "starting double: window shown" : "starting double: no window");
    }
    waitAndPump(g_settings.waitMs);
    if (window) DestroyWindow(window);
    environment.addEvent("starting double: main returns");
    return jvalue{};
}

jni_double::Environment& environment() {
    if (g_environment) return *g_environment;
    g_settings = readSettings();
    if (!g_settings.record.empty())
        g_record = CreateFileA(g_settings.record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    g_environment = new jni_double::Environment();  // never freed: the VM lives until the process ends
    g_environment->setRecordSink(writeRecord);
    g_environment->declareLauncherClasses();
    g_environment->declareNativesFromTable();
    const char* kMain = "([Ljava/lang/String;)V";
    g_environment->declareStaticMethod("com/tovrix/runtime/launcher/WinLauncher", "main", kMain, runMain);
    g_environment->declareStaticMethod("com/kelpa/runtime/WinLauncher", "main", kMain, runMain);
    return *g_environment;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
    return environment().createJavaVM(vm, env, args);
}

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) { return args ? JNI_OK : JNI_ERR; }

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
    jni_double::Environment& e = environment();
    const bool live = e.created() && !e.destroyed();
    if (count) *count = live ? 1 : 0;
    if (live && vms && capacity > 0) vms[0] = e.vm();
    return JNI_OK;
}

}  // extern "C"
