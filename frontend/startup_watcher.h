// The watcher thread: from just before the JVM starts until the Java side
// shows its first window (or writes 2 into the per-process start-up marker)
// it moves the progress bar towards its end, then hides the progress dialog;
// a start that hangs ends with message 20014 (not with entry 159 set).
#pragma once

#include <windows.h>

// Starts the watcher thread at above-normal priority for the progress window.
void startStartupWatcher(HWND progressWindow);

// The visible top-level windows of the process, not counting the launcher's
// own console window (looked up once per process).
int countOwnWindows(DWORD processId);
