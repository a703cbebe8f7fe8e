#include "frontend/startup_markers.h"

#include <windows.h>

#include <string>

#include "launcher/launcher_state.h"
#include "launcher/registry_win.h"

namespace {

const registry::KeyLocation kMarkerKey{HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\kelpa\\"};
const wchar_t kMarkerName[] = L"InstallStarted";

std::wstring processMarkerName() { return std::wstring(kMarkerName) + L"_" + std::to_wstring(GetCurrentProcessId()); }

}  // namespace

// Registry failures are silent: the markers only help the watcher and the Java side.
void setStartupMarkers(bool perProcess) {
    if (launcherState().languageRestart) return;
    UniqueRegKey key = registry::openKey(kMarkerKey, registry::Access::create);
    if (!key) return;
    registry::writeDword(key.get(), kMarkerName, 1);
    if (perProcess) registry::writeDword(key.get(), processMarkerName().c_str(), 1);
}

void clearStartupMarkers() {
    if (launcherState().languageRestart) return;
    UniqueRegKey key = registry::openKey(kMarkerKey, registry::Access::full);
    if (!key) return;
    registry::deleteValue(key.get(), kMarkerName);
    registry::deleteValue(key.get(), processMarkerName().c_str());
}

void clearProcessStartupMarker() {
    if (launcherState().languageRestart) return;
    registry::deleteValue(kMarkerKey, processMarkerName().c_str());
}

unsigned long readProcessStartupMarker() {
    return registry::readDword(kMarkerKey, processMarkerName().c_str()).value_or(0);
}
