// The main flow: checks the installer, extracts the payload, chooses the Java
// runtime and starts the Java side, step by step.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include <vector>

#include "frontend/carried_jre.h"
#include "frontend/jre_dialogs.h"
#include "frontend/progress_dialog.h"
#include "frontend/startup_markers.h"
#include "frontend/startup_watcher.h"
#include "jvm/java_vm_launcher.h"
#include "jvm/jvm_dll.h"
#include "jvm/jvm_search.h"
#include "jvm/pack200.h"
#include "launcher/config.h"
#include "launcher/config_store.h"
#include "launcher/console.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/path_ops.h"
#include "launcher/payload.h"
#include "launcher/system_paths.h"
#include "launcher/temp_dir.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"

namespace {

// Changes to the extraction directory; a failure is logged, not fatal.
void enterExtractionDirectory() {
    const std::string& directory = launcherState().extractionDirectory;
    if (!SetCurrentDirectoryA(directory.c_str()))
        logError(L"Could not change working dir to %S (%d)", directory.c_str(), static_cast<int>(GetLastError()));
}

// A language restart runs in the extraction directory of the earlier run;
// it is reused when the Java side's runtime files are still there.
bool earlierExtractionComplete() {
    LauncherState& state = launcherState();
    state.extractionDirectory = currentDirectory<char>();
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
        if (!CreateDirectoryA(state.extractionDirectory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            logMessage(L"Could not create dir %S (%d)", state.extractionDirectory.c_str(),
                       static_cast<int>(GetLastError()));
            fatalInternalError(InternalError::ExtractDirectoryNotCreated);
        }
    } else {
        createTempDirectory();
    }
    setUpNativeLibraryPath();
    enterExtractionDirectory();
    extractPayloadOrEnd(progressWindow);
}

// Does the installer carry its own Java runtime ("jre.tar.gz", or on a
// language restart the "jre" directory the earlier run unpacked)?
bool findIncludedJre() {
    LauncherState& state = launcherState();
    const std::string current = currentDirectory<char>();
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
    logMessage(L"%s", included ? L"JRE included" : L"No JRE included");
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
    if (state.quiet) {
        writeStandardOutput("No JRE found. Trying to download.\n");
        runLocateDownloadFlow(progressWindow);
    } else if (!progressWindow) {
        // Only the download-only setting (entry 155) runs a graphical start
        // without the dialog: it is shown now, for the locate/download flow.
        // A cancel there ("Canceled installer", markers cleared) leaves no
        // runtime to start; the flow's worker may still be downloading, so
        // the download is stopped (its partial archive would keep the
        // extraction directory from being removed) and the process ends here
        // instead of going on beside it.
        if (showProgressDialog(runLocateDownloadFlow) != 0) {
            stopDownload();
            exitWithCleanup(1);
        }
    } else {
        runLocateDownloadFlow(progressWindow);
    }
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

// The carried runtime is unpacked (or, in a language restart, the one the
// earlier run unpacked is loaded); the progress base is where the watcher
// will start the bar.
void prepareCarriedRuntime(HWND progressWindow) {
    LauncherState& state = launcherState();
    if (!state.languageRestart || state.payloadFilesMissing) {
        state.progressBase = !state.jreIncluded ? 100 : (getConfigInt(config::kCarriedJrePacked) != 0 ? 300 : 200);
        if (state.jreIncluded) unpackAndUseCarriedJre(progressWindow);
    } else if (state.jreIncluded) {
        useUnpackedJre();
    }
}

// Payload files the builder pack-compressed are restored with the selected
// runtime's unpack200.
void restorePackedPayload() {
    const LauncherState& state = launcherState();
    if (state.languageRestart && !state.payloadFilesMissing) return;
    const auto names =
        payloadNamesToExtract(getConfigStringCopy(config::kPayloadNames), getConfigInt(config::kPayloadCount));
    for (const std::string& name : names) {
        if (!isPackName(name)) continue;
        logMessage(L"unpacking %S", name.c_str());
        restorePackFile(state.jvmHome, state.extractionDirectory + "\\" + name);
    }
}

}  // namespace

void runMainFlow(HWND progressWindow) {
    LauncherState& state = launcherState();
    logMessage(L"Starting work");
    if (progressWindow) {
        HWND bar = GetDlgItem(progressWindow, IDC_PROGRESS_BAR);
        SendMessageW(bar, PBM_SETPOS, 1, 0);
        SendMessageW(bar, PBM_SETRANGE32, 0, 400);
    }
    const bool reuseEarlierExtraction = state.languageRestart && earlierExtractionComplete();
    if (!state.languageRestart) verifyInstallerIntegrity(progressWindow);
    if (!reuseEarlierExtraction) extractInstallerFiles(progressWindow);

    state.jreIncluded = findIncludedJre();
    chooseJavaRuntime(progressWindow);
    enterExtractionDirectory();
    prepareCarriedRuntime(progressWindow);
    restorePackedPayload();
    if (state.extractAndExit) writeUnextractedPositionAndExit();

    if (progressWindow) startStartupWatcher(progressWindow);
    setStartupMarkers(progressWindow != nullptr);
    ArgumentVector words;
    splitCommandLine(GetCommandLineW(), words);
    if (!launchJvm(words, true)) {
        logError(L"Could not start JVM");
        fatalConfiguredError(message::kJvmNotStarted);
    }
}
