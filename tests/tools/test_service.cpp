// test_service: a real Windows service for the service natives' tests.  The
// service control manager starts it; it reports running, writes what happens
// to its log file and stops when asked.
//
//   test_service.exe --log FILE [--tag TEXT] [--stop-ms MS] [--no-progress]
//
// The log (UTF-8, appended, one line per event):
//   main <tag>                    the process started
//   args <n> <a1>|<a2>|...        the arguments of the start request (without the service name)
//   running                       it reported SERVICE_RUNNING
//   stop                          it was asked to stop
//   stopped                       it reports SERVICE_STOPPED next
// The stop request is answered with SERVICE_STOP_PENDING at once.  --stop-ms
// MS: it stays so for MS milliseconds, raising its check point every 200 ms
// with a wait hint of 1,000 ms (with --no-progress: the check point stays and
// the wait hint is 100 ms), before it reports SERVICE_STOPPED.
// Run outside the service control manager it prints why and ends with 1.

#include <windows.h>

#include <shellapi.h>
#include <winsvc.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_log;
std::wstring g_tag;
DWORD g_stopMilliseconds = 0;
bool g_progress = true;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopRequested = nullptr;

void logLine(const std::wstring& line) {
    if (g_log.empty()) return;
    const std::wstring text = line + L"\n";
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    HANDLE file = CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
}

void report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            logLine(L"stop");
            // Stopping has begun before the control returns, as a well-behaved service reports it.
            report(SERVICE_STOP_PENDING, 1, g_progress ? 1000 : 100);
            SetEvent(g_stopRequested);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", handler, nullptr);
    if (!g_statusHandle) return;
    std::wstring args = L"args " + std::to_wstring(argc > 0 ? argc - 1 : 0) + L" ";
    for (DWORD i = 1; i < argc; ++i) args += (i > 1 ? L"|" : L"") + std::wstring(argv[i]);
    logLine(args);
    report(SERVICE_START_PENDING, 1, 2000);
    report(SERVICE_RUNNING);
    logLine(L"running");
    WaitForSingleObject(g_stopRequested, INFINITE);
    DWORD checkPoint = g_progress ? 2 : 1;
    for (DWORD waited = 0; waited < g_stopMilliseconds; waited += 200) {
        report(SERVICE_STOP_PENDING, checkPoint, g_progress ? 1000 : 100);
        if (g_progress) ++checkPoint;
        Sleep(200);
    }
    logLine(L"stopped");
    report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--log" && i + 1 < argc)
            g_log = argv[++i];
        else if (arg == L"--tag" && i + 1 < argc)
            g_tag = argv[++i];
        else if (arg == L"--stop-ms" && i + 1 < argc)
            g_stopMilliseconds = wcstoul(argv[++i], nullptr, 10);
        else if (arg == L"--no-progress")
            g_progress = false;
    }
    logLine(L"main " + g_tag);
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t noName[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{noName, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr, "not started by the service control manager (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
