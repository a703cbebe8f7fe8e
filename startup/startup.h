// The start-up of the executable, step by step.  The entry point
// (entry_win.cpp) reads as the list of these steps in their order; each step
// works on the one start-up context and on the process-wide launcher state
// (launcher/launcher_state.h), which is complete before any other thread
// starts.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/command_line.h"

// What the entry point was given and what start-up derives from it.
struct StartupContext {
    HINSTANCE instance = nullptr;
    // The 8-bit argument text Windows hands the entry (without the program);
    // its beginning selects the special modes.
    std::string argumentText;
    // The process's UTF-16 command line split into words (word 0 is the
    // program as written); the log switch and an unusable "-temp" are taken
    // out of it during initialisation.
    ArgumentVector arguments;
};

// --- Entry steps (in their order) ------------------------------------------

// Opens the launch log: the temporary base search runs here, because the log
// file lives in the temporary base.
void openLog();
// Restricts the DLL search to the system directory and added directories.
void restrictDllSearch();
// Loads the two companion libraries once; failures are ignored.
void loadCompanionLibraries();
// "__tvx_reboot" exactly.
bool isRebootRequest(const StartupContext& start);
// Waits, enables the shutdown privilege and asks Windows to restart.
void requestReboot();
// "__tvx_lang_restart" and "__tvx_extract_and_exit" at the beginning of the
// argument text.
void recogniseRestartModes(const StartupContext& start);
void initCommonControls();
void splitProcessCommandLine(StartupContext& start);
// "__tvx_windel" with at least three words: the deletion mode.
bool isDeletionMode(const StartupContext& start);
int runDeletionMode(const StartupContext& start);
// Log switch, "-temp", configuration, product name, working directory, log
// prompt.  `scanTempSwitch` is on for the entry's start.
void initLauncher(StartupContext& start, bool scanTempSwitch);
// The exact, case-sensitive switches found anywhere in the words.
void applySwitches(const ArgumentVector& arguments);
// Only one copy of a single-instance installer runs (not in a language
// restart).
void checkSingleInstance(const StartupContext& start);
// The instance handle, the progress-dialog setting and "Init done".
void finishInit(const StartupContext& start);
// The quiet flow on this thread, or the graphical flow.
void dispatch(const StartupContext& start);

// --- The main flow ----------------------------------------------------------

// Checks the installer, extracts the payload, chooses the Java runtime and
// starts the Java side; `progressWindow` is null in the quiet flow.  Returns
// after the Java side's main has returned.
void runMainFlow(HWND progressWindow);
