// The launch log.  Every line opens the file, appends and closes it again under
// one re-entrant lock, so lines from different threads never interleave, every
// line is on disk at once, and the file is never held open between lines.
#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <string>

#include "launcher/exe_path.h"
#include "launcher/format.h"
#include "launcher/log.h"
#include "launcher/log_policy.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"

namespace {

const wchar_t kFallbackLogPath[] = L"c:\\tvx_nlog";

// The one lock of the log.  It is created before the entry point runs (a
// namespace-scope object is constructed during start-up, on the initial
// thread), so no thread can ever see it half made.
class LogLock {
public:
    LogLock() { InitializeCriticalSection(&section_); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
    // Never deleted: threads may still log while the process ends.
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds the lock for one scope.  The critical section is re-entrant, so a log
// line written while opening the log (the temporary base search logs its
// candidates) does not block.
class LockedLog {
public:
    explicit LockedLog(LogLock& lock) : lock_(lock) { lock_.enter(); }
    ~LockedLog() { lock_.leave(); }
    LockedLog(const LockedLog&) = delete;
    LockedLog& operator=(const LockedLog&) = delete;

private:
    LogLock& lock_;
};

// Everything below is read and written under the lock, except `kept`, which
// only ever goes from 0 to 1.
struct LogState {
    bool opened = false;
    volatile LONG kept = 0;
    bool requested = false;
    wstring path;
    std::int64_t startMilliseconds = 0;
};

LogLock g_lock;
LogState g_log;

std::int64_t nowMilliseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    return static_cast<std::int64_t>(t.QuadPart / 10000);
}

// UTF-8 with CR LF line ends, as a text stream in UTF-8 mode writes it.
std::string encodeLine(const wstring& text) {
    wstring crlf;
    crlf.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n') crlf += L'\r';
        crlf += c;
    }
    int size =
        WideCharToMultiByte(CP_UTF8, 0, crlf.c_str(), static_cast<int>(crlf.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, crlf.c_str(), static_cast<int>(crlf.size()), &out[0], size, nullptr, nullptr);
    return out;
}

bool writeAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

UniqueFile openForAppend(const wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

UniqueFile createNew(const wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void deleteLogAtExit() {
    if (g_log.kept || g_log.path.empty()) return;
    DeleteFileW(g_log.path.c_str());
}

// Decides whether the log survives, picks its file in the temporary base and
// writes the first line.  Runs once, under the lock.  Returns the freshly
// created file, or none.
UniqueFile createLogFile() {
    g_log.opened = true;
    if (!logKeptByRequest(g_log.requested, std::getenv("KELPA_LOG"), std::getenv("TOVRIX_LOG")))
        std::atexit(deleteLogAtExit);

    const wstring base = getTempDirectoryWide();
    const wstring name = chooseLogFileName(base, [](const wstring& candidate) {
        return GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    UniqueFile file = createNew(name);
    g_log.path = name;
    if (!file) {
        g_log.path = kFallbackLogPath;
        file = createNew(g_log.path);
        if (!file) return file;
    }

    const wstring module = moduleFileName();
    std::time_t now = std::time(nullptr);
    const char* when = std::ctime(&now);
    const wstring first = formatWide(L"Started executable %s at %S\n", module.c_str(), when ? when : "\n");
    writeAll(file.get(), std::string("\xEF\xBB\xBF") + encodeLine(first));
    g_log.startMilliseconds = nowMilliseconds();
    return file;
}

void writeLine(bool error, const wchar* format, va_list args) {
    LockedLog locked(g_lock);
    UniqueFile file;
    if (!g_log.opened) {
        file = createLogFile();
    } else if (!g_log.path.empty()) {
        // A log that could not be created is retried at the fallback path.
        file = openForAppend(g_log.path);
    }
    if (!file) return;
    wstring line = elapsedPrefix(nowMilliseconds() - g_log.startMilliseconds);
    if (error) line += L"ERROR: ";
    line += formatWideV(format, args);
    line += L'\n';
    writeAll(file.get(), encodeLine(line));
}

}  // namespace

void(logMessage)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(false, format, args);
    va_end(args);
}

void(logError)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(true, format, args);
    va_end(args);
}

void openLaunchLog() {
    LockedLog locked(g_lock);
    if (!g_log.opened) createLogFile();
}

void keepLaunchLog() { InterlockedExchange(&g_log.kept, 1); }

wstring launchLogPath() {
    LockedLog locked(g_lock);
    return g_log.path;
}

wstring getLogFileName() {
    keepLaunchLog();
    return launchLogPath();
}

void requestLogKept() {
    g_log.requested = true;
    keepLaunchLog();
}

bool logKeptRequested() { return g_log.requested; }
