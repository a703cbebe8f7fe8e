#include "frontend/startup_watcher.h"

#include <string>
#include <vector>

#include "frontend/progress_dialog.h"
#include "frontend/startup_markers.h"
#include "frontend/startup_watch.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"

namespace {

// The console window, looked up on the first count only.  Only the watcher
// thread counts windows, so the lookup needs no lock.
bool g_consoleLookedUp = false;
HWND g_consoleWindow = nullptr;

// A console's window belongs to the console host, but Windows reports it as
// a window of the attached process; the launcher finds it by giving the
// console a title no other window has.  Launcher type 1 never has a console.
void lookUpConsoleWindow() {
    if (g_consoleLookedUp) return;
    g_consoleLookedUp = true;
    if (getConfigInt(config::kExecutableKind) == 1) return;
    std::vector<wchar_t> oldTitle(kTextLimit, L'\0');
    if (GetConsoleTitleW(oldTitle.data(), static_cast<DWORD>(oldTitle.size())) == 0) return;
    const std::wstring unique =
        std::to_wstring(GetTickCount()) + L"/" + std::to_wstring(static_cast<unsigned long>(GetCurrentProcessId()));
    if (!SetConsoleTitleW(unique.c_str())) return;
    Sleep(40);  // the console host renames its window asynchronously
    g_consoleWindow = FindWindowW(nullptr, unique.c_str());
    SetConsoleTitleW(oldTitle.data());
    if (g_consoleWindow) logMessage(L"console window %p", static_cast<void*>(g_consoleWindow));
}

struct WindowCount {
    DWORD processId;
    int count;
};

BOOL CALLBACK countWindow(HWND window, LPARAM parameter) {
    auto* counting = reinterpret_cast<WindowCount*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == counting->processId && window != g_consoleWindow && IsWindowVisible(window)) ++counting->count;
    return TRUE;
}

DWORD WINAPI watcherThread(LPVOID parameter) {
    HWND progressWindow = static_cast<HWND>(parameter);
    StartupWatchServices services;
    services.countOwnWindows = [] { return countOwnWindows(GetCurrentProcessId()); };
    services.readProcessMarker = [] { return readProcessStartupMarker(); };
    services.setBarPosition = [progressWindow](int position) { setProgressPosition(progressWindow, position); };
    services.sleep = [](std::uint32_t milliseconds) { Sleep(milliseconds); };
    const bool neverGiveUp = getConfigInt(config::kNoStartupTimeout) != 0;
    if (runStartupWatch(launcherState().progressBase, neverGiveUp, services) == StartupWatchEnd::TimedOut) {
        logMessage(L"timeout");
        fatalMessage(message::kStartupTimeout);
    }
    clearProcessStartupMarker();
    logMessage(L"Java window visible");
    ShowWindow(progressWindow, SW_HIDE);
    return 0;
}

}  // namespace

int countOwnWindows(DWORD processId) {
    lookUpConsoleWindow();
    WindowCount counting{processId, 0};
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&counting));
    return counting.count;
}

void startStartupWatcher(HWND progressWindow) {
    HANDLE thread = CreateThread(nullptr, 0, watcherThread, progressWindow, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        // Without the watcher the dialog only stays up longer; the start goes on.
        logError(L"Could not start the watcher thread (%d)", static_cast<int>(GetLastError()));
        return;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
    ResumeThread(thread);
    CloseHandle(thread);
}
