#include "tests/unit/log_capture.h"

#include <algorithm>
#include <cstdarg>

#include "launcher/format.h"
#include "launcher/log.h"

namespace {
std::vector<wstring> g_lines;
bool g_kept = false;
bool g_requested = false;
}  // namespace

namespace log_capture {
const std::vector<wstring>& lines() { return g_lines; }
void clear() { g_lines.clear(); }
bool contains(const wstring& line) { return std::find(g_lines.begin(), g_lines.end(), line) != g_lines.end(); }
}  // namespace log_capture

void(logMessage)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    g_lines.push_back(formatWideV(format, args));
    va_end(args);
}

void(logError)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    g_lines.push_back(W("ERROR: ") + formatWideV(format, args));
    va_end(args);
}

void openLaunchLog() {}
void keepLaunchLog() { g_kept = true; }
wstring launchLogPath() { return W(""); }

wstring getLogFileName() {
    keepLaunchLog();
    return launchLogPath();
}

void requestLogKept() {
    g_requested = true;
    keepLaunchLog();
}
bool logKeptRequested() { return g_requested; }
