// The Windows side of the post-exit deletion helper: the list file, the
// semaphore wait, file and directory removal, deletion at reboot, the restart
// request, the question and warning boxes and the reboot check marker.
#include "frontend/deletion_helper.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "frontend/deletion_list.h"
#include "frontend/deletion_passes.h"
#include "launcher/exe_path.h"
#include "launcher/path_ops.h"
#include "launcher/privilege.h"
#include "launcher/registry_win.h"
#include "launcher/system_calls.h"
#include "launcher/system_paths.h"
#include "launcher/win_handles.h"

namespace {

// A list longer than this is read only this far: the Java side writes a few
// kilobytes, and the helper must not take all memory for a broken file.
constexpr std::size_t kListFileLimit = std::size_t(64) << 20;
constexpr DWORD kSemaphorePollMilliseconds = 200;
// The buffers of the marker's directory, in characters.
constexpr std::size_t kTempPathLimit = 8192;
const wchar_t kCaption[] = L"tovrix";
const wchar_t kRebootCheckValue[] = L"RebootCheckFile";
const registry::KeyLocation kRebootCheckKeys[] = {
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\quillmoor\\tovrix\\"},
    {HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\tovrix\\"},
};

// The executable's directory becomes the current directory: relative list
// entries mean paths there.  Without its trailing backslash, except for a
// drive root ("C:\").
void enterExecutableDirectory() {
    wstring directory = directoryOf(moduleFileName());
    if (directory.size() > 3 && directory.back() == L'\\') directory.pop_back();
    if (!directory.empty()) SetCurrentDirectoryW(directory.c_str());
}

// The list's lines; none when the file cannot be opened or read.  A read
// that fails part way gives no lines either: the last line read could be the
// beginning of a longer path, naming another file.
std::vector<wstring> readListFile(const wstring& path) {
    UniqueFile file(system_calls::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::vector<unsigned char> bytes;
    unsigned char buffer[64 * 1024];
    while (bytes.size() < kListFileLimit) {
        DWORD got = 0;
        if (!system_calls::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return {};
        if (got == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + std::min<std::size_t>(got, kListFileLimit - bytes.size()));
    }
    return deletion::readListLines(bytes.data(), bytes.size());
}

deletion::Removal removal(BOOL done) {
    if (done) return deletion::Removal::removed;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? deletion::Removal::gone
                                                                          : deletion::Removal::failed;
}

bool deleteAtReboot(const wstring& path) {
    return system_calls::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

class WindowsPassActions : public deletion::PassActions {
public:
    // The installer holds its semaphore until its process has ended; the
    // helper takes the name itself as soon as nobody else holds it.
    void waitForSemaphore(const wstring& name) override {
        for (;;) {
            SetLastError(ERROR_SUCCESS);
            UniqueKernelHandle semaphore(CreateSemaphoreW(nullptr, 1, 1, name.c_str()));
            if (GetLastError() != ERROR_ALREADY_EXISTS) return;
            semaphore.reset();
            system_calls::Sleep(kSemaphorePollMilliseconds);
        }
    }
    deletion::Removal deleteFile(const wstring& path) override {
        return removal(system_calls::DeleteFileW(path.c_str()));
    }
    deletion::Removal removeDirectory(const wstring& path) override {
        return removal(system_calls::RemoveDirectoryW(path.c_str()));
    }
    bool scheduleAtReboot(const wstring& path) override { return deleteAtReboot(path); }
    void sleep(unsigned milliseconds) override { system_calls::Sleep(milliseconds); }
};

// The directory of the marker: the user's temporary directory (created when
// missing), else HOMEDRIVE and HOMEPATH.
wstring markerDirectory() {
    wstring directory = tempPath<wchar_t>(kTempPathLimit);
    if (!directory.empty()) {
        CreateDirectoryW(directory.c_str(), nullptr);
        return directory;
    }
    directory = environmentValue<wchar_t>(L"HOMEDRIVE", kTempPathLimit);
    directory += environmentValue<wchar_t>(L"HOMEPATH", kTempPathLimit - directory.size());
    return directory;
}

// An empty "ide<hex>.tmp" file of the system's unique temporary names in the
// directory.  When none can be created (a directory too long for it, or not
// writable) the name "klp<random number>" in the directory stands for it,
// without a file.
wstring createMarker() {
    const wstring directory = markerDirectory();
    wchar_t name[MAX_PATH + 1] = {};
    if (system_calls::GetTempFileNameW(directory.c_str(), L"ide", 0, name) != 0) return name;
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    wstring fallback = directory;
    // HOMEDRIVE and HOMEPATH name the directory without a closing backslash;
    // the marker belongs inside it, not beside it.
    if (!fallback.empty() && fallback.back() != L'\\') fallback += L'\\';
    return fallback + L"klp" + std::to_wstring(std::rand());
}

class WindowsEndingActions : public deletion::EndingActions {
public:
    bool requestRestart() override { return ::requestRestart(); }
    bool askQuestion(const wstring& text) override {
        return system_calls::MessageBoxW(nullptr, text.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    void showWarning(const wstring& text) override {
        system_calls::MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONWARNING);
    }
    // The marker outlives the helper until the next reboot deletes it, so
    // the installer can tell on its next start whether the reboot is still
    // outstanding.  Each hive is written on its own: one refused write does
    // not keep the other.  A marker that cannot be left to the reboot is
    // deleted at once: nothing else would ever remove it.
    void recordRebootCheck() override {
        const wstring marker = createMarker();
        if (!deleteAtReboot(marker)) {
            system_calls::DeleteFileW(marker.c_str());
            return;
        }
        for (const registry::KeyLocation& key : kRebootCheckKeys)
            registry::writeString(key, kRebootCheckValue, marker, registry::Terminator::nulStored);
    }
};

}  // namespace

bool requestRestart() {
    if (!setPrivilege(L"SeShutdownPrivilege")) return false;
    return system_calls::ExitWindowsEx(EWX_REBOOT, 0) != 0;
}

int runDeletionHelper(const wstring& listPath) {
    enterExecutableDirectory();
    WindowsPassActions passActions;
    const deletion::PassesResult passes = deletion::runDeletionPasses(readListFile(listPath), passActions);
    system_calls::DeleteFileW(listPath.c_str());
    WindowsEndingActions endingActions;
    deletion::finishDeletion(passes, endingActions);
    return 0;
}
