// The launcher's start-up: initialisation from the command line and the
// configuration, the switches, and the main flow that prepares and starts the
// Java installer.
#pragma once

#include <windows.h>

#include "launcher/command_line.h"

// Log switch, configuration load, product name and the log prompt.
void initLauncher(HINSTANCE instance, ArgumentVector& arguments, bool scanTempSwitch);
// Applies the exact, case-sensitive switches found anywhere in the vector.
void applySwitches(const ArgumentVector& arguments);
// The main flow; `progressWindow` is null in the quiet flow.
void runMainFlow(HWND progressWindow);
// Waits, enables the shutdown privilege and asks Windows to restart.
void requestReboot();
