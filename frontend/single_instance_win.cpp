// The instance semaphore, the pids key and the running copy's windows.
#include <windows.h>

#include "frontend/single_instance.h"
#include "launcher/config_ids.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/registry_win.h"
#include "launcher/win_handles.h"

namespace {

// The per-user key that maps each executable's normalised path to the process
// id of the copy that last started as the first one.
const registry::KeyLocation kPidsKey{HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\kelpa\\pids\\"};

// How long a second copy waits for the first one to store its process id: the
// first copy creates the semaphore a moment before it writes the value.
constexpr int kPidRetries = 50;
constexpr DWORD kPidRetryMilliseconds = 100;

struct Creation {
    UniqueKernelHandle handle;
    DWORD error = ERROR_SUCCESS;
    bool alreadyExists() const { return error == ERROR_ALREADY_EXISTS; }
};

// CreateSemaphoreW rather than its 8-bit form: Windows converts an 8-bit
// object name in a buffer of MAX_PATH characters and refuses longer ones, and
// a deep installation directory gives a longer name.
Creation createSemaphore(const std::string& name) {
    Creation made;
    const wstring wide = fromFileCodePage(name);
    SetLastError(ERROR_SUCCESS);
    made.handle.reset(CreateSemaphoreW(nullptr, 1, 1, wide.c_str()));
    made.error = GetLastError();
    return made;
}

void logCreation(const std::string& name, const Creation& made) {
    logMessage(L"semaphore name %S, code %d, value %p", name.c_str(), static_cast<int>(made.error),
               static_cast<void*>(made.handle.get()));
}

// Registry failures are silent: a failed write leaves no pid, a failed read
// (missing key or value, another type or size) reads as 0.
void storeOwnPid(const wstring& valueName) { registry::writeDword(kPidsKey, valueName.c_str(), GetCurrentProcessId()); }

DWORD storedPid(const wstring& valueName) { return registry::readDword(kPidsKey, valueName.c_str()).value_or(0); }

struct FrontContext {
    DWORD processId;
    bool restore;
};

BOOL CALLBACK bringWindowToFront(HWND window, LPARAM parameter) {
    const auto* context = reinterpret_cast<const FrontContext*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != context->processId || !IsWindowVisible(window)) return TRUE;
    logMessage(L"found window %p", static_cast<void*>(window));
    if (context->restore && IsIconic(window)) {
        logMessage(L"restore");
        ShowWindow(window, SW_RESTORE);
    }
    logMessage(L"foreground");
    SetForegroundWindow(window);
    logMessage(L"popup");
    SetForegroundWindow(GetLastActivePopup(window));
    logMessage(L"done");
    return TRUE;  // every visible top-level window of the process, in order
}

void bringToFront(DWORD processId, bool restore) {
    FrontContext context{processId, restore};
    EnumWindows(bringWindowToFront, reinterpret_cast<LPARAM>(&context));
}

// Multi-instance mode: the lowest counter whose semaphore does not exist
// yet.  Only the last creation's handle is kept.
std::string takeNumberedSemaphore(const std::string& base) {
    Creation made;
    const std::string name = single_instance::takeLowestFreeName(base, [&made](const std::string& candidate) {
        made.handle.reset();
        made = createSemaphore(candidate);
        return made.alreadyExists();
    });
    logCreation(name, made);
    // The semaphore this copy ends up with lives as long as the process.
    made.handle.release();
    return name;
}

}  // namespace

void runSingleInstanceCheck() {
    LauncherState& state = launcherState();
    const std::string ownPath = makeAbsoluteFull(getExecutablePath(), false);
    const bool global = getConfigInt(config::kGlobalInstanceObjects) != 0;
    const std::string base = single_instance::semaphoreBaseName(ownPath, global);

    if (getConfigInt(config::kSingleInstance) == 0) {
        state.semaphoreName = takeNumberedSemaphore(base);
        return;
    }

    logMessage(L"single instance mode");
    state.semaphoreName = base;
    Creation made = createSemaphore(base);
    logCreation(base, made);
    const wstring valueName = fromFileCodePage(ownPath);
    if (!made.alreadyExists()) {
        made.handle.release();  // held until the process ends
        storeOwnPid(valueName);
        return;
    }

    made.handle.reset();
    DWORD otherPid = storedPid(valueName);
    for (int retry = 0; otherPid == 0 && retry < kPidRetries; ++retry) {
        Sleep(kPidRetryMilliseconds);
        otherPid = storedPid(valueName);
    }
    logMessage(L"other pid %d", static_cast<int>(otherPid));
    if (otherPid != 0 && getConfigInt(config::kBringOtherInstanceToFront) != 0) bringToFront(otherPid, true);
    logMessage(L"exiting");
    exitWithCleanup(0);
}
