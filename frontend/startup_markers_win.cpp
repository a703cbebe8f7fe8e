#include "frontend/startup_markers.h"

#include <windows.h>

#include <string>

#include "launcher/launcher_state.h"
#include "launcher/win_handles.h"

namespace {

const wchar_t kMarkerKey[] = L"SOFTWARE\\quillmoor\\kelpa\\";
const wchar_t kMarkerName[] = L"InstallStarted";

std::wstring processMarkerName() {
    return std::wstring(kMarkerName) + L"_" + std::to_wstring(GetCurrentProcessId());
}

void writeMarker(HKEY key, const std::wstring& name) {
    const DWORD one = 1;
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
}

}  // namespace

// Registry failures are silent: the markers only help the watcher and the Java side.
void setStartupMarkers(bool perProcess) {
    if (launcherState().languageRestart) return;
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    writeMarker(key.get(), kMarkerName);
    if (perProcess) writeMarker(key.get(), processMarkerName());
}

void clearStartupMarkers() {
    if (launcherState().languageRestart) return;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(key.get(), kMarkerName);
    RegDeleteValueW(key.get(), processMarkerName().c_str());
}

void clearProcessStartupMarker() {
    if (launcherState().languageRestart) return;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(key.get(), processMarkerName().c_str());
}

unsigned long readProcessStartupMarker() {
    DWORD value = 0, size = sizeof value, type = 0;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMarkerKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    if (RegQueryValueExW(key.get(), processMarkerName().c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return 0;
    return value;
}
