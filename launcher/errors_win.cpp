#include "launcher/errors.h"

#include <cstdio>

#include "launcher/config_store.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/messages.h"
#include "launcher/system_calls.h"
#include "launcher/system_paths.h"
#include "launcher/temp_dir.h"

namespace {

bool g_consoleOutput = false;
HWND g_messageOwner = nullptr;

// The long form of the log path, or the path unchanged when that fails.
wstring longLogPath(const wstring& path) {
    const wstring longPath = longPathName(path);
    return longPath.empty() ? path : longPath;
}

void writeToConsole(const wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || out == nullptr || GetFileType(out) != FILE_TYPE_CHAR) {
        // Redirected to a file or pipe: 8-bit text on standard error.
        int size =
            WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        std::string narrow(size > 0 ? size : 0, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr,
                                nullptr);
        std::fprintf(stderr, "%s\n", narrow.c_str());
        std::fflush(stderr);
        return;
    }
    DWORD written = 0;
    WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(out);
}

// The text the user is shown goes into the log too, as one error line, so
// the log the message points to says what the user saw.
void logShownText(const wstring& message) {
    wstring line = message;
    for (wchar_t& c : line)
        if (c == L'\n' || c == L'\r') c = L' ';
    while (!line.empty() && line.back() == L' ') line.pop_back();
    logError(L"%s", line.c_str());
}

}  // namespace

void switchToConsoleOutput() { g_consoleOutput = true; }
bool consoleOutputMode() { return g_consoleOutput; }
void setMessageOwner(HWND owner) { g_messageOwner = owner; }
HWND messageOwner() { return g_messageOwner; }

void showErrorText(const wstring& message) {
    logShownText(message);
    const wstring logPath = getLogFileName();
    const wstring text = withLogPath(message, logPath.empty() ? logPath : longLogPath(logPath));
    if (!g_consoleOutput) {
        const wstring caption = getMessageOrConfigText(message::kErrorCaption);
        system_calls::MessageBoxW(g_messageOwner, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
        return;
    }
    writeToConsole(text);
}

void showConfiguredError(std::int32_t id) { showErrorText(boundText(getMessageOrConfigText(id))); }

void showConfiguredError(std::int32_t id, const wstring& argument) {
    showErrorText(substitutePlaceholder(getMessageOrConfigText(id), argument));
}

void showConfiguredError(std::int32_t id, const std::string& argument) {
    showConfiguredError(id, boundText(widenBytes(argument)));
}

namespace {

// A process the launcher started can hold the directory for a moment after
// it has ended: the console host that the hidden "-version" run of a Java
// executable gets inherits the working directory (the extraction directory)
// and ends only after its client.  A removal refused for sharing is tried
// again for about a second, so that a fatal end right after such a run does
// not leave the directory behind.
void removeEmptiedDirectory(const std::string& directory) {
    constexpr int kAttempts = 20;
    constexpr DWORD kPauseMilliseconds = 50;
    for (int attempt = 1;; ++attempt) {
        if (system_calls::RemoveDirectoryA(directory.c_str())) return;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || attempt == kAttempts) {
            logError(L"could not remove %S (error %d)", directory.c_str(), static_cast<int>(error));
            return;
        }
        system_calls::Sleep(kPauseMilliseconds);
    }
}

}  // namespace

void removeExtractionDirectory() {
    LauncherState& state = launcherState();
    // A language restart runs in the earlier run's directory, which is never
    // removed; when that directory was incomplete the restart extracted into
    // a directory of its own, which goes like any other.
    const bool earlierRunsDirectory = state.languageRestart && !state.payloadFilesMissing;
    if (!earlierRunsDirectory && !state.extractionDirectory.empty()) {
        emptyDirectory(state.extractionDirectory, true);
        // Windows does not remove a process's current directory, and the main
        // flow works inside the extraction directory: step out of it first.
        const std::string parent = state.extractionDirectory + "\\..";
        SetCurrentDirectoryA(parent.c_str());
        removeEmptiedDirectory(state.extractionDirectory);
    }
}

void exitWithCleanup(int code) {
    removeExtractionDirectory();
    std::fflush(nullptr);
    // Through the call table: a test ends the flow there instead of the
    // process.  Should a replacement return, the process still ends.
    system_calls::ExitProcess(static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

void fatalText(const wstring& message) {
    showErrorText(message);
    exitWithCleanup(1);
}

void fatalMessage(std::int32_t id) {
    showErrorText(getMessageText(id));
    exitWithCleanup(1);
}

void fatalConfiguredError(std::int32_t id) {
    showConfiguredError(id);
    exitWithCleanup(1);
}

void fatalConfiguredError(std::int32_t id, const wstring& argument) {
    showConfiguredError(id, argument);
    exitWithCleanup(1);
}

void fatalConfiguredError(std::int32_t id, const std::string& argument) {
    showConfiguredError(id, argument);
    exitWithCleanup(1);
}

void fatalInternalError(InternalError code) {
    fatalConfiguredError(message::kInternalError, std::to_string(static_cast<int>(code)));
}

void fatalInternalError(const char* step) { fatalConfiguredError(message::kInternalError, std::string(step)); }

void showInstallerMessage(std::int32_t messageId, HWND owner) {
    const wstring text = getMessageText(messageId);
    logShownText(text);
    const wstring caption = getMessageText(message::kInstallerCaption);
    system_calls::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}
