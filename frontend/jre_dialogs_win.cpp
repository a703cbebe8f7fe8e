// The locate/download flow: the question dialog 104 (download, locate,
// cancel), the file dialog for a java executable, and the hand-over of a
// download to the carried-runtime unpacking.
#include "frontend/jre_dialogs.h"

#include <commdlg.h>

#include <vector>

#include "frontend/jre_texts.h"
#include "frontend/progress_dialog.h"
#include "frontend/startup_markers.h"
#include "jvm/jvm_registry.h"
#include "jvm/jvm_search.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/win_handles.h"
#include "resources/resource_ids.h"

namespace {

// The width of this build: the question names the runtimes it can load.
constexpr int kLauncherBits = static_cast<int>(sizeof(void*) * 8);
// The file name buffer of the file dialog, in bytes.
constexpr DWORD kLocatedPathBytes = 6000;

using GetOpenFileNameFunction = BOOL(WINAPI*)(LPOPENFILENAMEA);
// The structure the file dialog is given: 88 bytes in the 32-bit build.
static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA of 88 bytes");

// Looked up once and kept; null when the library or the function is missing.
GetOpenFileNameFunction openFileFunction() {
    static const GetOpenFileNameFunction function =
        system_calls::systemFunction<GetOpenFileNameFunction>(L"Comdlg32.dll", "GetOpenFileNameA");
    return function;
}

// The file dialog for a java executable, owned by the question.  True when
// the chosen runtime's jvm.dll was loaded (it is then remembered in the
// located-JVM list); a cancelled dialog or an unusable runtime (whose error
// LoadDLL has shown) is a failed locate.
bool locateJavaRuntime(HWND question) {
    const GetOpenFileNameFunction getOpenFileName = openFileFunction();
    if (!getOpenFileName) {
        logError(L"Could not find GetOpenFileNameA in Comdlg32.dll");
        return false;
    }
    bool lost = false;
    const std::string title = toFileCodePage(getMessageText(message::kLocateTitle), lost);
    std::vector<char> path(kLocatedPathBytes, '\0');
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = question;
    dialog.lpstrFilter = "Java EXE\0java.exe\0";
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = kLocatedPathBytes;
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_FILEMUSTEXIST;
    if (!getOpenFileName(&dialog)) return false;
    path.back() = '\0';
    const std::string javaExecutable(path.data());
    logMessage(L"Located %S", javaExecutable.c_str());
    if (!LoadDLL(true, javaExecutable.c_str(), true)) return false;
    registerLocatedJvm(javaExecutable);
    return true;
}

struct Question {
    bool downloadOffered;
    HWND previousMessageOwner;
};

// The user gives up: no runtime, no start.
[[noreturn]] void cancelStart() {
    logMessage(L"Canceled installer");
    clearStartupMarkers();
    exitWithCleanup(1);
}

void endQuestion(HWND dialog, INT_PTR result) {
    const auto* question = reinterpret_cast<const Question*>(GetWindowLongPtrW(dialog, DWLP_USER));
    setMessageOwner(question->previousMessageOwner);
    EndDialog(dialog, result);
}

void initQuestion(HWND dialog, const Question& question) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&question));
    centreDialog(dialog);
    // A runtime the user locates that cannot be used is reported over the
    // question, which stays open for another choice.
    setMessageOwner(dialog);
    SetWindowTextW(dialog, getMessageText(message::kInstallerCaption).c_str());
    SetDlgItemTextW(dialog, IDCANCEL, getMessageText(message::kCancelButton).c_str());
    SetDlgItemTextW(dialog, IDC_LOCATE_BUTTON, getMessageText(message::kLocateButton).c_str());
    SetDlgItemTextW(dialog, IDC_DOWNLOAD_BUTTON, getMessageText(message::kDownloadButton).c_str());
    const wstring text = questionText(
        getMessageText(question.downloadOffered ? message::kLocateOrDownload : message::kLocateOnly), kLauncherBits,
        getConfigStringCopy(config::kMinimumJavaVersion), getConfigStringCopy(config::kMaximumJavaVersion),
        getMessageText(message::kMinimumVersionLabel), getMessageText(message::kMaximumVersionLabel));
    SetDlgItemTextW(dialog, IDC_MESSAGE_TEXT, text.c_str());
    if (!question.downloadOffered) {
        HWND download = GetDlgItem(dialog, IDC_DOWNLOAD_BUTTON);
        ShowWindow(download, SW_HIDE);
        EnableWindow(download, FALSE);
    }
}

INT_PTR CALLBACK questionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: initQuestion(dialog, *reinterpret_cast<const Question*>(lParam)); return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_LOCATE_BUTTON:
                    if (locateJavaRuntime(dialog)) endQuestion(dialog, IDC_LOCATE_BUTTON);
                    return TRUE;
                case IDCANCEL: cancelStart();
                case IDOK:  // Enter on a dialog without a default button
                case IDC_DOWNLOAD_BUTTON: {
                    // Without a download location there is nothing to
                    // download: the hidden button's command is ignored.
                    const auto* question = reinterpret_cast<const Question*>(GetWindowLongPtrW(dialog, DWLP_USER));
                    if (question->downloadOffered) endQuestion(dialog, IDC_DOWNLOAD_BUTTON);
                    return TRUE;
                }
                default: return FALSE;
            }
        default: return FALSE;
    }
}

enum class Choice { Download, Located };

// Shows the question modally, owned by the progress window (or by none).
// Returns the user's choice; a cancel ends the process inside the dialog.
Choice askLocateOrDownload(HWND progressWindow, bool downloadOffered) {
    Question question{downloadOffered, messageOwner()};
    const INT_PTR result = DialogBoxParamW(launcherState().instance, MAKEINTRESOURCEW(IDD_QUESTION), progressWindow,
                                           questionDialogProc, reinterpret_cast<LPARAM>(&question));
    if (result == IDC_DOWNLOAD_BUTTON) return Choice::Download;
    if (result == IDC_LOCATE_BUTTON) return Choice::Located;
    // Without the question neither way out is open.
    if (result == -1)
        logError(L"Could not show the question dialog (%d)", static_cast<int>(GetLastError()));
    else
        logError(L"The question dialog ended with %d", static_cast<int>(result));
    cancelStart();
}

}  // namespace

void runLocateDownloadFlow(HWND progressWindow) {
    LauncherState& state = launcherState();
    const wstring location = getConfigWideString(config::kJreDownloadLocation, kTextLimit + 1);
    logMessage(L"Download location: %s", location.c_str());
    if (getConfigInt(config::kJreDownloadAllowed) == 0 &&
        askLocateOrDownload(progressWindow, !location.empty()) == Choice::Located)
        return;
    if (!SetCurrentDirectoryA(state.extractionDirectory.c_str()))
        logError(L"Could not change working dir to %S (%d)", state.extractionDirectory.c_str(),
                 static_cast<int>(GetLastError()));
    logMessage(L"Downloading JRE");
    downloadJre(progressWindow, location);
    logMessage(L"Done");
    state.jreIncluded = true;
    // In download-only mode (entry 155) the progress dialog closes when this
    // flow, its worker, returns.
}
