// The launch log: one line per significant step, from every thread.
//
// Formats follow the Windows wide-character convention: "%s" takes a UTF-16
// string (wchar*), "%S" an 8-bit one (char*), "%I64d" a 64-bit integer.
// Every call's format is checked against its arguments when it is compiled
// (launcher/format_check.h).  The Windows build writes to the log file; the
// unit tests link a capturing double instead.
#pragma once

#include "launcher/format_check.h"
#include "launcher/text.h"

void logMessage(const wchar* format, ...);
// Same line with "ERROR: " after the elapsed-time prefix.
void logError(const wchar* format, ...);

// Opens the log on the first call: finds the temporary base, creates the log
// file there and writes its first line.  Every later call does nothing.  The
// first log line opens the log too; the entry calls this first so that the
// temporary base search is a step of its own.
void openLaunchLog();
// Marks the log to survive the process (it is deleted at a normal end
// otherwise).
void keepLaunchLog();
// The log path: empty before the log was opened, "c:\tvx_nlog" after the
// fallback.
wstring launchLogPath();
// The log path for a text that shows it to the user: keeps the log as well,
// so the path the user is given still names a file afterwards.
wstring getLogFileName();
// The log switch: the user asked for the log, so it is kept.
void requestLogKept();
bool logKeptRequested();

// Calls with a format literal are checked; `&logError` still names the function.
#define logMessage(...) (LAUNCHER_CHECK_FORMAT(__VA_ARGS__), ::logMessage(__VA_ARGS__))
#define logError(...) (LAUNCHER_CHECK_FORMAT(__VA_ARGS__), ::logError(__VA_ARGS__))
