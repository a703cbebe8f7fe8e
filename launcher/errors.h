// Error reporting: every user-visible failure goes through here.  A text is
// shown in a message box or on the console with the log's path appended; the
// fatal forms then remove the extraction directory and end with exit code 1.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "launcher/config_ids.h"
#include "launcher/text.h"

// Errors go to the console from now on (never switches back).
void switchToConsoleOutput();
bool consoleOutputMode();
// The window that owns error message boxes (the progress dialog once it exists).
void setMessageOwner(HWND owner);
HWND messageOwner();

void showErrorText(const wstring& message);
// Message `id` (or the configuration text of the same id) as it stands: a
// "{0}" in it stays when no argument is given.
void showConfiguredError(std::int32_t id);
// The same with its first "{0}" replaced by the argument (an empty argument
// replaces it with nothing).
void showConfiguredError(std::int32_t id, const wstring& argument);
void showConfiguredError(std::int32_t id, const std::string& argument);

// Empties and removes the extraction directory, unless it is the earlier
// run's directory that a language restart reuses.
void removeExtractionDirectory();
// Removes the extraction directory (as removeExtractionDirectory) and ends the
// process at once: no exit-time actions run, so the log stays.
[[noreturn]] void exitWithCleanup(int code);
[[noreturn]] void fatalText(const wstring& message);
[[noreturn]] void fatalMessage(std::int32_t id);
[[noreturn]] void fatalConfiguredError(std::int32_t id);
[[noreturn]] void fatalConfiguredError(std::int32_t id, const wstring& argument);
[[noreturn]] void fatalConfiguredError(std::int32_t id, const std::string& argument);
// The internal-error message with the failure site's code (or the name of the
// step that failed) in its "{0}".
[[noreturn]] void fatalInternalError(InternalError code);
[[noreturn]] void fatalInternalError(const char* step);

// The installer's own message box (caption message 20013, error icon), shown in
// every output mode and without the log path.
void showInstallerMessage(std::int32_t messageId, HWND owner);
