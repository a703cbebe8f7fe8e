#include "launcher/main_flow.h"

#include <commctrl.h>

#include <vector>

#include "launcher/config.h"
#include "launcher/config_store.h"
#include "launcher/console.h"
#include "launcher/errors.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/log_policy.h"
#include "launcher/win_handles.h"

namespace {

constexpr int kProgressBarId = 1001;

// Offers to open an Explorer window on the log the user asked for.
void showLogPrompt() {
    const wstring logPath = getLogFileName();
    const wstring text = L"The following log file will be created:\n\n" + logPath +
                         L"\n\nDo you want to open an Explorer window?";
    if (MessageBoxW(nullptr, text.c_str(), launcherState().productNameWide.c_str(), MB_YESNO) != IDYES) return;

    wchar_t shortLog[MAX_PATH] = L"";
    DWORD n = GetShortPathNameW(logPath.c_str(), shortLog, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) shortLog[0] = L'\0';
    wchar_t windows[MAX_PATH] = L"";
    n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) windows[0] = L'\0';
    wstring command = wstring(windows) + L"\\explorer.exe /select," + shortLog;
    logMessage(L"calling %s", command.c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &info)) {
        logMessage(L"could not open explorer window %d", static_cast<int>(GetLastError()));
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

}  // namespace

void initLauncher(HINSTANCE instance, ArgumentVector& arguments, bool /*scanTempSwitch*/) {
    LauncherState& state = launcherState();
    state.instance = instance;
    state.extractionDirectory.clear();

    if (arguments.size() >= 2 && isLogSwitch(arguments[1])) {
        arguments.erase(arguments.begin() + 1);
        requestLogKept();
    }

    loadConfiguration(arguments);

    if (getConfigStringCopy(2001).compare(0, 1, "e") == 0) {
        state.productName = "kelpa";
        state.productNameWide = L"kelpa";
    }
    if (logKeptRequested()) showLogPrompt();
}

void applySwitches(const ArgumentVector& arguments) {
    LauncherState& state = launcherState();
    bool consoleReady = false;
    for (const wstring& word : arguments) {
        if (word == L"-q") {
            state.quiet = true;
            switchToConsoleOutput();
        } else if (word == L"-console") {
            consoleReady = setupConsole();
        } else if (word == L"-splash") {
            state.splashRequested = true;
        } else if (word == L"-nocheck") {
            state.integrityCheckEnabled = false;
        } else if (word == L"-c") {
            state.quiet = true;
            switchToConsoleOutput();
            if (!consoleReady && !setupConsole()) {
                MessageBoxW(nullptr, L"Error: Could not allocate console.", L"tovrix", MB_OK);
                exitWithCleanup(1);
            }
        } else if (word == L"-manual" || word == L"/manual") {
            state.manualJre = true;
        }
    }
}

void runMainFlow(HWND progressWindow) {
    LauncherState& state = launcherState();
    logMessage(L"Starting work");
    if (progressWindow) {
        HWND bar = GetDlgItem(progressWindow, kProgressBarId);
        SendMessageW(bar, PBM_SETPOS, 1, 0);
        SendMessageW(bar, PBM_SETRANGE32, 0, 400);
    }
    if (state.languageRestart) {
        logError(L"language restart is not supported by this launcher build");
        fatalText(L"Internal Error: language restart is not supported by this launcher build");
    }
    verifyInstallerIntegrity(progressWindow);

    // Extraction, the Java runtime choice and the JVM start follow the check;
    // this build ends here rather than pretend to start the installer.
    logError(L"payload extraction is not supported by this launcher build");
    fatalText(L"Internal Error: payload extraction is not supported by this launcher build");
}

void requestReboot() {
    Sleep(5000);
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    if (GetLastError() != ERROR_SUCCESS) return;
    ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED);
}
