// process_peer: a peer program for the tests of the process, window and handle
// natives (graphical subsystem).  The tests start it, act on it through the
// natives and check what it saw or reports.
//
//   process_peer window INFO LOG TITLE [FLAG ...]
//       shows a top-level window titled TITLE (class "TovrixPeerWindow") and
//       runs until the window is closed (exit 0).  Once its windows are up
//       it writes INFO: "pid=<id>", "hwnd=<main window>" and, with an owned
//       window, "owned=<that window>" (handles in decimal), one per line.
//       LOG gets one line per event, appended as it happens:
//         close                  WM_CLOSE arrived
//         restored               the window left the minimised state
//         activated              the window became the active one
//         settingchange <text>   WM_SETTINGCHANGE with its text ("-" for none)
//         queryendsession        WM_QUERYENDSESSION (answered yes)
//         endsession <0|1>       WM_ENDSESSION and whether the session ends
//       FLAGs: "minimized" shows the window minimised; "hidden" never shows
//       it; "keep-open" ignores WM_CLOSE (logged all the same); "untitled"
//       leaves the title empty (TITLE is then ignored); "owned=<title>" also
//       shows a visible window owned by the main one; "hidden-also=<title>"
//       also creates a hidden top-level window with that title.
//   process_peer state HWND
//       prints "visible=<0|1> iconic=<0|1> foreground=<0|1>" for the window
//       on standard output (exit 0; 1 when HWND is no window).
//   process_peer record OUT [ARG ...]
//       writes what it was started with to OUT as UTF-8 lines: "cwd=<current
//       directory>", "argc=<number of ARGs>", "arg[<i>]=<ARG>" and
//       "commandline=<the whole command line>"; exit 0.
//   process_peer devicename NAME
//       prints the first target QueryDosDeviceW gives for NAME (for example
//       "C:") on standard output; exit 1 when there is none.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t kWindowClass[] = L"TovrixPeerWindow";

std::wstring logPath;
HWND mainWindow = nullptr;
bool keepOpen = false;
bool wasMinimized = false;

std::string utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

bool appendFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

// Written beside the target and renamed into place, so a reader never sees
// half of it.
bool writeFileAtomically(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".part";
    DeleteFileW(temporary.c_str());
    if (!appendFile(temporary, bytes)) return false;
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void logEvent(const std::string& line) {
    if (!logPath.empty()) appendFile(logPath, line + "\n");
}

std::string handleText(HWND window) {
    return std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            logEvent("close");
            if (keepOpen) return 0;
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (window == mainWindow) PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (window != mainWindow) break;
            if (wParam == SIZE_MINIMIZED) {
                wasMinimized = true;
            } else if (wParam == SIZE_RESTORED && wasMinimized) {
                wasMinimized = false;
                logEvent("restored");
            }
            break;
        case WM_ACTIVATE:
            if (window == mainWindow && LOWORD(wParam) != WA_INACTIVE) logEvent("activated");
            break;
        case WM_SETTINGCHANGE:
            if (window == mainWindow) {
                const auto* text = reinterpret_cast<const wchar_t*>(lParam);
                logEvent("settingchange " + (text ? utf8(text) : std::string("-")));
            }
            break;
        case WM_QUERYENDSESSION:
            if (window == mainWindow) logEvent("queryendsession");
            return TRUE;
        case WM_ENDSESSION:
            if (window == mainWindow) logEvent(std::string("endsession ") + (wParam ? "1" : "0"));
            return 0;
        default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createWindow(const std::wstring& title, HWND owner) {
    return CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 320, 200, owner, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

int runWindow(int argc, wchar_t** argv) {
    if (argc < 5) return 2;
    const std::wstring infoPath = argv[2];
    logPath = argv[3];
    std::wstring title = argv[4];
    bool minimized = false, hidden = false;
    std::wstring ownedTitle, hiddenTitle;
    bool withOwned = false, withHidden = false;
    for (int i = 5; i < argc; ++i) {
        const std::wstring flag = argv[i];
        if (flag == L"minimized") {
            minimized = true;
        } else if (flag == L"hidden") {
            hidden = true;
        } else if (flag == L"keep-open") {
            keepOpen = true;
        } else if (flag == L"untitled") {
            title.clear();
        } else if (flag.rfind(L"owned=", 0) == 0) {
            withOwned = true;
            ownedTitle = flag.substr(6);
        } else if (flag.rfind(L"hidden-also=", 0) == 0) {
            withHidden = true;
            hiddenTitle = flag.substr(12);
        } else {
            return 2;
        }
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&windowClass)) return 3;

    if (withHidden && !createWindow(hiddenTitle, nullptr)) return 3;
    mainWindow = createWindow(title, nullptr);
    if (!mainWindow) return 3;
    if (!hidden) {
        ShowWindow(mainWindow, minimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
        UpdateWindow(mainWindow);
    }
    HWND owned = nullptr;
    if (withOwned) {
        owned = createWindow(ownedTitle, mainWindow);
        if (!owned) return 3;
        ShowWindow(owned, SW_SHOWNOACTIVATE);
    }
    std::string info = "pid=" + std::to_string(GetCurrentProcessId()) + "\nhwnd=" + handleText(mainWindow) + "\n";
    if (owned) info += "owned=" + handleText(owned) + "\n";
    if (!writeFileAtomically(infoPath, info)) return 4;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int printState(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(_wtoi64(argv[2])));
    if (!IsWindow(window)) return 1;
    std::printf("visible=%d iconic=%d foreground=%d\n", IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0,
                GetForegroundWindow() == window ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

int recordStart(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::vector<wchar_t> directory(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
    std::string text = "cwd=" + utf8(std::wstring(directory.data(), length)) + "\n";
    text += "argc=" + std::to_string(argc - 3) + "\n";
    for (int i = 3; i < argc; ++i) text += "arg[" + std::to_string(i - 3) + "]=" + utf8(argv[i]) + "\n";
    text += "commandline=" + utf8(GetCommandLineW()) + "\n";
    return writeFileAtomically(argv[2], text) ? 0 : 4;
}

int printDeviceName(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    std::vector<wchar_t> targets(65536, L'\0');
    if (!QueryDosDeviceW(argv[2], targets.data(), static_cast<DWORD>(targets.size()))) return 1;
    std::printf("%s\n", utf8(targets.data()).c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    const std::wstring mode = argv[1];
    int code = 2;
    if (mode == L"window")
        code = runWindow(argc, argv);
    else if (mode == L"state")
        code = printState(argc, argv);
    else if (mode == L"record")
        code = recordStart(argc, argv);
    else if (mode == L"devicename")
        code = printDeviceName(argc, argv);
    LocalFree(argv);
    return code;
}
