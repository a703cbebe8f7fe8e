// The start-up steps of the entry point, in their order, up to the dispatch
// to the quiet or the graphical flow.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "frontend/deletion_helper.h"
#include "frontend/progress_dialog.h"
#include "frontend/single_instance.h"
#include "launcher/config.h"
#include "launcher/config_store.h"
#include "launcher/console.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/expand.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/log_policy.h"
#include "launcher/system_paths.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"
#include "startup/startup.h"

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Offers to open an Explorer window on the log the user asked for.
void showLogPrompt() {
    const wstring logPath = getLogFileName();
    const wstring text =
        L"The following log file will be created:\n\n" + logPath + L"\n\nDo you want to open an Explorer window?";
    if (MessageBoxW(nullptr, text.c_str(), launcherState().productNameWide.c_str(), MB_YESNO) != IDYES) return;

    // Both parts are limited to MAX_PATH characters; a longer one is left out.
    const wstring shortLog = shortPathName(logPath, MAX_PATH);
    const wstring windows = windowsDirectory<wchar_t>(MAX_PATH);
    const wstring command = windows + L"\\explorer.exe /select," + shortLog;
    logMessage(L"calling %s", command.c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &info)) {
        logMessage(L"could not open explorer window %d", static_cast<int>(GetLastError()));
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// The "-temp" switch: the first "-temp" or "/temp" names a directory to use as
// temporary base.  A usable one stays in the launcher's words; an unusable one
// is taken out of them together with its switch, so that nothing later in the
// start-up reads it.  The Java side is not affected either way: the JVM start
// splits the process's command line afresh and passes every word on.
void takeManualTempDirectory(ArgumentVector& arguments) {
    auto it = std::find_if(arguments.begin(), arguments.end(),
                           [](const wstring& word) { return word == L"-temp" || word == L"/temp"; });
    if (it == arguments.end()) return;
    if (it + 1 != arguments.end() && !(it + 1)->empty()) {
        // The main flow changes the current directory later, so a relative
        // directory is taken as it stands now: made full once, here.
        const wstring given = *(it + 1);
        const wstring full = fullPathName(given);
        const wstring wide = full.empty() ? given : full;
        bool lost = false;
        std::string narrow;
        bool usable = probeTempBase(wide, false, true);
        if (usable) {
            narrow = toFileCodePage(wide, lost);
            usable = !lost && probeTempBase(narrow, false, true);
            if (!usable) {
                // The 8.3 form exists for exactly the names the code page cannot
                // hold, so its own long name is not checked again.
                const wstring shortForm = shortPathName(wide);
                narrow = shortForm.empty() ? std::string() : toFileCodePage(shortForm, lost);
                usable = !lost && probeTempBase(narrow, false, false);
            }
        }
        if (usable) {
            logMessage(L"Using manual temp dir %s (%S)", wide.c_str(), narrow.c_str());
            setManualTempBase(wide, narrow);
            return;
        }
        logMessage(L"Manual temp dir not usable %s (%S)", wide.c_str(), narrow.c_str());
        it = arguments.erase(it + 1) - 1;
    }
    arguments.erase(it);
}

// Configuration id 146: the working directory, relative to the executable.
void changeWorkingDirectory() {
    wstring directory = getConfigWideString(config::kWorkingDirectory, kTextLimit);
    if (directory.empty()) {
        logMessage(L"working directory unchanged");
        return;
    }
    expandVariables(directory, true);
    directory = makeAbsolute(directory, true);
    SetCurrentDirectoryW(directory.c_str());
    logMessage(L"change working directory to %s", directory.c_str());
}

}  // namespace

void openLog() { openLaunchLog(); }

// Only the system directory and directories added on purpose are searched, so
// a DLL planted beside a downloaded installer is never loaded.
void restrictDllSearch() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto restrict =
        system_calls::systemFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (!restrict) return;
    restrict(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
    logMessage(L"restrict DLL directories");
}

void loadCompanionLibraries() {
    LoadLibraryW(L"davhlpr.dll");
    LoadLibraryW(L"fwbase.dll");
}

bool isRebootRequest(const StartupContext& start) { return start.argumentText == "__tvx_reboot"; }

// The Java side starts the launcher this way when the installer wants the
// machine restarted; the pause lets the installer's own process end first.
// Failures are silent: nobody is left to tell.
void requestReboot() {
    Sleep(5000);
    requestRestart();
}

void recogniseRestartModes(const StartupContext& start) {
    LauncherState& state = launcherState();
    if (startsWith(start.argumentText, "__tvx_lang_restart")) {
        logMessage(L"language restart");
        state.languageRestart = true;
        state.quiet = true;
    }
    if (startsWith(start.argumentText, "__tvx_extract_and_exit")) {
        logMessage(L"extract and exit mode");
        state.extractAndExit = true;
    }
}

void initCommonControls() {
    using InitFn = void(WINAPI*)();
    auto init = system_calls::systemFunction<InitFn>(L"comctl32.dll", "InitCommonControls");
    if (init) init();
}

void splitProcessCommandLine(StartupContext& start) { splitCommandLine(GetCommandLineW(), start.arguments); }

bool isDeletionMode(const StartupContext& start) {
    return startsWith(start.argumentText, "__tvx_windel") && start.arguments.size() >= 3;
}

int runDeletionMode(const StartupContext& start) { return runDeletionHelper(start.arguments[2]); }

void initLauncher(StartupContext& start, bool scanTempSwitch) {
    LauncherState& state = launcherState();
    ArgumentVector& arguments = start.arguments;
    state.instance = start.instance;
    state.extractionDirectory.clear();

    if (arguments.size() >= 2 && isLogSwitch(arguments[1])) {
        arguments.erase(arguments.begin() + 1);
        requestLogKept();
    }
    if (scanTempSwitch) takeManualTempDirectory(arguments);

    loadConfiguration(arguments);

    if (programKind().kelpaProduct) {
        state.productName = "kelpa";
        state.productNameWide = L"kelpa";
    }
    if (!state.languageRestart) changeWorkingDirectory();
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

void checkSingleInstance(const StartupContext&) {
    // A language restart is started by the installer itself, whose semaphore
    // may still be held: it is not a second copy.
    if (!launcherState().languageRestart) runSingleInstanceCheck();
}

void finishInit(const StartupContext& start) {
    LauncherState& state = launcherState();
    state.instance = start.instance;
    state.noProgressDialog = getConfigInt(config::kNoProgressDialog) != 0;
    logMessage(L"Init done");
}

void dispatch(const StartupContext& start) {
    const LauncherState& state = launcherState();
    if (state.quiet && !state.splashRequested) {
        logMessage(L"Quiet installer.");
        runMainFlow(nullptr);
        return;
    }
    registerDialogWindowClass(start.instance);
    if (state.noProgressDialog) {
        runMainFlow(nullptr);
        return;
    }
    // The entry waits in the dialog until the user cancels, the worker's main
    // flow has returned, or the Java side ends the process.
    showProgressDialog(runMainFlow);
}
