// The launch log: one line per significant step, from every thread.
//
// Formats follow the Windows wide-character convention: "%s" takes a UTF-16
// string (wchar*), "%S" an 8-bit one (char*), "%I64d" a 64-bit integer.
// The Windows build writes to the log file; the unit tests link a capturing
// double instead.
#pragma once

#include "launcher/text.h"

void logMessage(const wchar* format, ...);
// Same line with "ERROR: " after the elapsed-time prefix.
void logError(const wchar* format, ...);
// The log path (empty before the first log call); marks the log as kept so it
// survives the process.
wstring getLogFileName();
// Set by the log switch before the first line is written.
void requestLogKept();
bool logKeptRequested();
