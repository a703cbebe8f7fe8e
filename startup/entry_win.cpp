// The executable's entry point: restricts the DLL search, recognises the
// special first arguments, initialises from the command line and the
// configuration, and dispatches to the quiet or the graphical flow.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "launcher/command_line.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "startup/main_flow.h"
#include "launcher/win_handles.h"

namespace {

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
    auto restrict = systemFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (!restrict) return;
    restrict(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
    logMessage(L"restrict DLL directories");
}

void initCommonControls() {
    using InitFn = void(WINAPI*)();
    auto init = systemFunction<InitFn>(L"comctl32.dll", "InitCommonControls");
    if (init) init();
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A mode that a later version of the launcher runs; this build ends with a
// logged error and keeps the log, rather than pretend the mode ran.
[[noreturn]] void unsupportedMode(const wchar_t* mode) {
    logError(L"%s is not supported by this launcher build", mode);
    getLogFileName();
    exitWithCleanup(1);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const char* text = commandLine ? commandLine : "";
    restrictDllSearch();
    LoadLibraryW(L"davhlpr.dll");
    LoadLibraryW(L"fwbase.dll");

    LauncherState& state = launcherState();
    if (text[0] != '\0' && std::strcmp(text, "__tvx_reboot") == 0) {
        requestReboot();
        return 0;
    }
    if (startsWith(text, "__tvx_lang_restart")) {
        logMessage(L"language restart");
        state.languageRestart = true;
        state.quiet = true;
    }
    if (startsWith(text, "__tvx_extract_and_exit")) {
        logMessage(L"extract and exit mode");
        state.extractAndExit = true;
    }
    initCommonControls();

    ArgumentVector arguments;
    splitCommandLine(GetCommandLineW(), arguments);
    if (startsWith(text, "__tvx_windel") && arguments.size() >= 3) unsupportedMode(L"the deletion mode");

    initLauncher(instance, arguments, true);
    applySwitches(arguments);

    state.instance = instance;
    state.noProgressDialog = getConfigInt(config::kNoProgressDialog) != 0;
    logMessage(L"Init done");

    if (state.quiet && !state.splashRequested) {
        logMessage(L"Quiet installer.");
    } else if (!state.noProgressDialog) {
        // The progress dialog is not part of this build; the flow runs without it.
        logMessage(L"progress dialog not available, running without window");
    }
    runMainFlow(nullptr);
    return 0;
}
