// The executable's entry point: the start-up, step by step.
#include <windows.h>

#include "startup/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
    StartupContext start;
    start.instance = instance;
    start.argumentText = argumentText ? argumentText : "";

    openLog();
    restrictDllSearch();
    loadCompanionLibraries();
    if (isRebootRequest(start)) {
        requestReboot();
        return 0;
    }
    recogniseRestartModes(start);
    initCommonControls();
    splitProcessCommandLine(start);
    if (isDeletionMode(start)) return runDeletionMode(start);

    initLauncher(start, true);
    applySwitches(start.arguments);
    checkSingleInstance(start);
    finishInit(start);
    dispatch(start);
    return 0;
}
