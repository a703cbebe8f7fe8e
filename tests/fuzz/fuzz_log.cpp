// The launch log for the fuzzers: every line is formatted, so the formatter
// sees the untrusted values the cores log, and then dropped, so a long run
// does not grow.
#include <cstdarg>

#include "launcher/format.h"
#include "launcher/log.h"

void(logMessage)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    formatWideV(format, args);
    va_end(args);
}

void(logError)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    formatWideV(format, args);
    va_end(args);
}

void openLaunchLog() {}
void keepLaunchLog() {}
wstring launchLogPath() { return W(""); }
wstring getLogFileName() { return W(""); }
void requestLogKept() {}
bool logKeptRequested() { return false; }
