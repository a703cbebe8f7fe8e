#include "frontend/progress_dialog.h"

#include <commctrl.h>

#include "frontend/startup_markers.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "resources/resource_ids.h"

namespace {

const wchar_t kDialogClass[] = L"MyDialogClass";
// The extra window bytes every dialog window needs (DLGWINDOWEXTRA).
constexpr int kDialogWindowExtra = 30;
// Posted by the worker thread when its work has returned.
constexpr UINT kWorkerDone = WM_APP + 1;

struct WorkerStart {
    ProgressWork work;
    HWND dialog;
};

DWORD WINAPI workerThread(LPVOID parameter) {
    const WorkerStart start = *static_cast<WorkerStart*>(parameter);
    delete static_cast<WorkerStart*>(parameter);
    start.work(start.dialog);
    PostMessageW(start.dialog, kWorkerDone, 0, 0);
    return 0;
}

// Centres the dialog over its owner, or over the desktop when it has none.
void centre(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT area = {}, own = {};
    GetWindowRect(owner ? owner : GetDesktopWindow(), &area);
    GetWindowRect(dialog, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    const int left = area.left + ((area.right - area.left) - width) / 2;
    const int top = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void startWorker(HWND dialog, ProgressWork work) {
    auto* start = new WorkerStart{work, dialog};
    HANDLE thread = CreateThread(nullptr, 0, workerThread, start, 0, nullptr);
    if (!thread) {
        delete start;
        logError(L"Could not start the worker thread (%d)", static_cast<int>(GetLastError()));
        fatalInternalError("worker thread");
    }
    CloseHandle(thread);
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            centre(dialog);
            setMessageOwner(dialog);
            SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 100);
            SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, getMessageText(message::kPreparing).c_str());
            SetWindowTextW(dialog, getMessageText(message::kInstallerCaption).c_str());
            SetDlgItemTextW(dialog, IDCANCEL, getMessageText(message::kCancelButton).c_str());
            startWorker(dialog, reinterpret_cast<ProgressWork>(lParam));
            return TRUE;
        case WM_COMMAND: {
            // Enter arrives as IDOK; Cancel, Escape and the close box as IDCANCEL.
            const WORD id = LOWORD(wParam);
            if (id != IDOK && id != IDCANCEL) return FALSE;
            logMessage(L"Canceled installer");
            clearStartupMarkers();
            EndDialog(dialog, id);
            return TRUE;
        }
        case kWorkerDone: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void registerDialogWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS | CS_BYTEALIGNWINDOW;
    windowClass.lpfnWndProc = DefDlgProcW;
    windowClass.cbWndExtra = kDialogWindowExtra;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kDialogClass;
    if (!RegisterClassExW(&windowClass))
        logError(L"Could not register the dialog window class (%d)", static_cast<int>(GetLastError()));
}

INT_PTR showProgressDialog(ProgressWork work) {
    const INT_PTR result = DialogBoxParamW(launcherState().instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                           progressDialogProc, reinterpret_cast<LPARAM>(work));
    if (result != -1) return result;
    // Without a dialog the start still goes on, only without a window.
    logError(L"Could not show the progress dialog (%d)", static_cast<int>(GetLastError()));
    work(nullptr);
    return 0;
}

void centreDialog(HWND dialog) { centre(dialog); }

void setProgressPosition(HWND progressWindow, int position) {
    if (!progressWindow) return;
    SendDlgItemMessageW(progressWindow, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}
