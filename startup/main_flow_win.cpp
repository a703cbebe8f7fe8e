#include "startup/main_flow.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <vector>

#include "frontend/startup_markers.h"
#include "launcher/expand.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/jvm_dll.h"
#include "jvm/jvm_search.h"
#include "launcher/config.h"
#include "launcher/config_store.h"
#include "launcher/console.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/log_policy.h"
#include "launcher/path_ops.h"
#include "launcher/privilege.h"
#include "launcher/payload.h"
#include "launcher/temp_dir.h"
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

// The "-temp" switch: the first "-temp" or "/temp" names a directory to use as
// temporary base.  A usable one stays in the vector (the Java side sees it);
// an unusable one is removed together with its switch.
void takeManualTempDirectory(ArgumentVector& arguments) {
    auto it = std::find_if(arguments.begin(), arguments.end(),
                           [](const wstring& word) { return word == L"-temp" || word == L"/temp"; });
    if (it == arguments.end()) return;
    if (it + 1 != arguments.end() && !(it + 1)->empty()) {
        // The main flow changes the current directory later, so a relative
        // directory is taken as it stands now: made full once, here.
        wstring wide = *(it + 1);
        wchar_t full[kTextLimit];
        const DWORD fullLength = GetFullPathNameW(wide.c_str(), kTextLimit, full, nullptr);
        if (fullLength > 0 && fullLength < kTextLimit) wide.assign(full, fullLength);
        bool lost = false;
        std::string narrow;
        bool usable = probeTempBase(wide, false, true);
        if (usable) {
            narrow = toFileCodePage(wide, lost);
            usable = !lost && probeTempBase(narrow, false, true);
            if (!usable) {
                // The 8.3 form exists for exactly the names the code page cannot
                // hold, so its own long name is not checked again.
                wchar_t shortForm[kTextLimit];
                DWORD n = GetShortPathNameW(wide.c_str(), shortForm, kTextLimit);
                narrow = (n && n < kTextLimit) ? toFileCodePage(wstring(shortForm, n), lost) : std::string();
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

void initLauncher(HINSTANCE instance, ArgumentVector& arguments, bool scanTempSwitch) {
    LauncherState& state = launcherState();
    state.instance = instance;
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

namespace {

// Changes to the extraction directory; a failure is logged, not fatal.
void enterExtractionDirectory() {
    const std::string& directory = launcherState().extractionDirectory;
    if (!SetCurrentDirectoryA(directory.c_str()))
        logError(L"Could not change working dir to %S (%d)", directory.c_str(), static_cast<int>(GetLastError()));
}

std::string currentDirectory() {
    char buffer[kTextLimit];
    DWORD n = GetCurrentDirectoryA(kTextLimit, buffer);
    return (n && n < kTextLimit) ? std::string(buffer, n) : std::string();
}

// A language restart runs in the extraction directory of the earlier run;
// it is reused when the Java side's runtime files are still there.
bool earlierExtractionComplete() {
    LauncherState& state = launcherState();
    state.extractionDirectory = currentDirectory();
    if (!fileExists(state.extractionDirectory + "\\tvxruntime.jar")) {
        logMessage(L"could not find tvxruntime.jar");
        state.payloadFilesMissing = true;
    } else if (!fileExists(state.extractionDirectory + "\\tvxparams.conf")) {
        logMessage(L"could not find tvxparams.conf");
        state.payloadFilesMissing = true;
    }
    if (state.payloadFilesMissing) state.extractionDirectory.clear();
    return !state.payloadFilesMissing;
}

void extractInstallerFiles(HWND progressWindow) {
    LauncherState& state = launcherState();
    if (state.extractAndExit) {
        state.extractionDirectory = getExecutablePath() + ".test";
        logMessage(L"Extracted dir: %S", state.extractionDirectory.c_str());
        if (!CreateDirectoryA(state.extractionDirectory.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            logMessage(L"Could not create dir %S (%d)", state.extractionDirectory.c_str(),
                       static_cast<int>(GetLastError()));
            fatalInternalError(InternalError::ExtractDirectoryNotCreated);
        }
    } else {
        createTempDirectory();
    }
    setUpNativeLibraryPath();
    enterExtractionDirectory();
    const int result = extractPayload();
    if (result != 0) {
        if (!state.quiet) showInstallerMessage(result == 2 ? 20018 : 20016, progressWindow);
        exitWithCleanup(1);
    }
}

// Does the installer carry its own Java runtime ("jre.tar.gz", or on a
// language restart the "jre" directory the earlier run unpacked)?
bool findIncludedJre() {
    LauncherState& state = launcherState();
    const std::string current = currentDirectory();
    logMessage(L"Current working dir: %S", current.c_str());
    const std::string archive = resolveAgainst(current + "\\", std::string("jre.tar.gz"));
    logMessage(L"Full JRE path: %S", archive.c_str());
    bool included = fileExists(archive);
    if (!included && state.languageRestart && !state.payloadFilesMissing) {
        logMessage(L"Checking restart JRE: %S", archive.c_str());
        const std::string unpacked = resolveAgainst(current + "\\", std::string("jre"));
        logMessage(L"Checking extracted JRE: %S", unpacked.c_str());
        included = fileExists(unpacked);
    }
    logMessage(included ? L"JRE included" : L"No JRE included");
    if (state.manualJre && included) {
        logMessage(L"Included JRE not used because of manual switch");
        included = false;
    }
    return included;
}

// Extract-and-exit: records where the Java side's data begins and ends the
// process at once, leaving the extracted files in place.
[[noreturn]] void writeUnextractedPositionAndExit() {
    FILE* out = std::fopen("unextracted.txt", "w");
    if (!out) {
        logError(L"Could not write file with unextracted position");
        fatalInternalError(InternalError::UnextractedNotWritten);
    }
    std::fprintf(out, "%lld", static_cast<long long>(unextractedPosition()));
    const bool written = std::fclose(out) == 0;
    if (!written) {
        logError(L"Could not write file with unextracted position");
        fatalInternalError(InternalError::UnextractedNotWritten);
    }
    std::fflush(nullptr);
    ExitProcess(0);
}

// A step this build of the launcher cannot take yet ends the run with a
// logged error instead of pretending it ran.
[[noreturn]] void notSupported(const wchar_t* what) {
    logError(L"%s is not supported by this launcher build", what);
    fatalText(wstring(L"Internal Error: ") + what + L" is not supported by this launcher build");
}

// No suitable installed runtime: a quiet run without download gives up with
// exit code 83; every other case hands over to locating or downloading one.
void handleMissingRuntime(HWND progressWindow) {
    LauncherState& state = launcherState();
    if (state.quiet && getConfigInt(config::kJreDownloadAllowed) == 0) {
        logError(L"No JRE found");
        writeStandardOutput("No JRE found. Aborting.\n");
        clearStartupMarkers();
        // The extracted files are of no use to anyone now; the normal exit
        // keeps its exit-time actions (the log is deleted unless kept).
        removeExtractionDirectory();
        std::exit(83);
    }
    if (state.quiet) writeStandardOutput("No JRE found. Trying to download.\n");
    (void)progressWindow;
    notSupported(L"locating or downloading a Java runtime");
}

// Chooses between the carried runtime and an installed one.
void chooseJavaRuntime(HWND progressWindow) {
    LauncherState& state = launcherState();
    const bool perProcess = progressWindow != nullptr;
    if (state.jreIncluded) {
        if (getConfigInt(config::kPreferInstalledJvm) == 0) return;
        setStartupMarkers(perProcess);
        if (LoadDLL(false, nullptr, false))
            state.jreIncluded = false;
        else
            clearStartupMarkers();
        return;
    }
    setStartupMarkers(perProcess);
    if (!state.manualJre && LoadDLL(false, nullptr, false)) return;
    handleMissingRuntime(progressWindow);
}

// Carried runtimes and pack-compressed payload files need the unpacking pass.
void prepareRuntimeFiles() {
    LauncherState& state = launcherState();
    if (!state.languageRestart || state.payloadFilesMissing) {
        state.progressBase = !state.jreIncluded ? 100 : (getConfigInt(config::kCarriedJrePacked) != 0 ? 300 : 200);
        if (state.jreIncluded) notSupported(L"unpacking the carried Java runtime");
        const auto names = payloadNamesToExtract(getConfigStringCopy(config::kPayloadNames), getConfigInt(config::kPayloadCount));
        for (const std::string& name : names) {
            if (!isPackName(name)) continue;
            logMessage(L"unpacking %S", name.c_str());
            notSupported(L"unpacking pack-compressed files");
        }
    } else if (state.jreIncluded) {
        notSupported(L"preparing the carried Java runtime");
    }
}

}  // namespace

void runMainFlow(HWND progressWindow) {
    LauncherState& state = launcherState();
    logMessage(L"Starting work");
    if (progressWindow) {
        HWND bar = GetDlgItem(progressWindow, kProgressBarId);
        SendMessageW(bar, PBM_SETPOS, 1, 0);
        SendMessageW(bar, PBM_SETRANGE32, 0, 400);
    }
    const bool reuseEarlierExtraction = state.languageRestart && earlierExtractionComplete();
    if (!state.languageRestart) verifyInstallerIntegrity(progressWindow);
    if (!reuseEarlierExtraction) extractInstallerFiles(progressWindow);

    state.jreIncluded = findIncludedJre();
    chooseJavaRuntime(progressWindow);
    enterExtractionDirectory();
    prepareRuntimeFiles();
    if (state.extractAndExit) writeUnextractedPositionAndExit();

    setStartupMarkers(progressWindow != nullptr);
    ArgumentVector words;
    splitCommandLine(GetCommandLineW(), words);
    if (!launchJvm(words, true)) {
        logError(L"Could not start JVM");
        fatalConfiguredError(message::kJvmNotStarted, wstring());
    }
}

void requestReboot() {
    Sleep(5000);
    if (!setPrivilege(L"SeShutdownPrivilege")) return;
    ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED);
}
