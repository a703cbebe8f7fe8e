// Process-wide launcher state.  Written on the initial thread during start-up,
// before any other thread exists, and read-only afterwards (the main flow's own
// fields are written only by the thread that runs the main flow).
#pragma once

#include <windows.h>

#include <string>

#include "launcher/command_line.h"
#include "launcher/text.h"

struct LauncherState {
    bool quiet = false;
    bool languageRestart = false;
    bool extractAndExit = false;
    bool integrityCheckEnabled = true;
    bool manualJre = false;
    bool splashRequested = false;
    bool consoleInUse = false;
    bool noProgressDialog = false;
    std::string productName = "tovrix";
    wstring productNameWide = W("tovrix");
    HINSTANCE instance = nullptr;
    // The instance semaphore's name (8-bit), empty when no check ran (a
    // language restart); handed to the Java side as `kelpa.semaphoreName`.
    std::string semaphoreName;
    // Main flow fields.
    bool payloadFilesMissing = false;
    bool jreIncluded = false;
    int progressBase = 100;
    std::string extractionDirectory;  // 8-bit path, empty when none
    // The selected Java runtime's home: its java executable's directory
    // followed by "..", empty until a runtime has been loaded.  Written by the
    // runtime search, read by variable expansion and the carried runtime.
    std::string jvmHome;
};

LauncherState& launcherState();
