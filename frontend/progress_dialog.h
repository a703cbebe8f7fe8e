// The progress dialog (resource 103, window class "MyDialogClass"): the
// dialog's own thread only pumps messages, the start-up work runs on a worker
// thread the dialog starts and reaches the dialog only through messages.
//
// The bar runs over the whole start-up on one scale of 0 to 400: the
// integrity check 0..100 (or a download 0..100), unpacking a carried runtime
// 100..200, restoring its pack-compressed jars 200..300, and the wait for the
// Java side's first window from the progress base up to 390.
#pragma once

#include <windows.h>

// Registers "MyDialogClass", the class of the launcher's dialogs: the
// system's dialog procedure, icon 1001, the arrow cursor, the window colour.
void registerDialogWindowClass(HINSTANCE instance);

// What the dialog's worker thread runs, with the dialog as its progress window.
using ProgressWork = void (*)(HWND progressWindow);

// Shows the progress dialog modally, without owner, and runs `work` on its
// worker thread.  The dialog owns the launcher's error boxes from then on.
// Enter, Escape, Cancel and the close box cancel the start ("Canceled
// installer", both start-up markers cleared).  Returns the id of the command
// that closed the dialog (IDOK, IDCANCEL), or 0 when the worker ended it: a
// worker that returns (the Java side's main returned) closes the dialog, so
// the entry can return instead of waiting behind a hidden dialog.
INT_PTR showProgressDialog(ProgressWork work);

// Sets the position of the dialog's bar; nothing happens without a window.
void setProgressPosition(HWND progressWindow, int position);

// Centres a dialog over its owner, or over the desktop when it has none (the
// launcher's dialogs all open this way).
void centreDialog(HWND dialog);
