// The process natives of Misc and Win32Exec through the JNI test double, under
// Wine: real peer processes (tests/tools/process_peer) listed, ended and
// started, the environment, memory and disk answers compared with Windows',
// and each failure value, with missing functions, the privilege switch and
// the restart request replaced through the call table.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/process_test_support.h"

#define MISC(name) NATIVE_FUNCTION(Misc, name)

namespace {

using namespace process_tests;

class ProcessNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }
    JNIEnv* env() { return e_.env(); }
    std::vector<std::wstring> strings(jobjectArray array) { return e_.stringArrayValue(array); }
    jint terminate(const std::vector<jint>& pids, bool force, jint timeout) {
        return MISC(terminateProcesses0)(env(), nullptr, e_.newIntArray(pids), force, timeout);
    }

    jni_double::Environment e_;
};

std::wstring ownPath() {
    std::vector<wchar_t> path(32768, L'\0');
    return std::wstring(path.data(), GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool hasEntry(const std::vector<std::wstring>& entries, DWORD pid, const std::wstring& path) {
    const std::wstring prefix = std::to_wstring(pid) + L" ";
    return std::any_of(entries.begin(), entries.end(), [&](const std::wstring& entry) {
        return entry.compare(0, prefix.size(), prefix) == 0 && sameText(entry.substr(prefix.size()), path);
    });
}

// ---- reboot0

struct PrivilegeRecord {
    std::vector<std::pair<std::wstring, bool>> calls;
    bool answer = true;
    std::vector<std::pair<UINT, DWORD>> exits;
};
PrivilegeRecord record;
// In place of AdjustTokenPrivileges: the privilege by name and whether it is
// enabled; without the answer the account "lacks" it.
BOOL WINAPI recordPrivilege(HANDLE, BOOL, PTOKEN_PRIVILEGES privileges, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
    wchar_t name[64] = {};
    DWORD length = 64;
    LookupPrivilegeNameW(nullptr, &privileges->Privileges[0].Luid, name, &length);
    record.calls.emplace_back(name, (privileges->Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0);
    SetLastError(record.answer ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}
BOOL WINAPI recordExit(UINT flags, DWORD reason) {
    record.exits.emplace_back(flags, reason);
    return TRUE;
}

TEST_F(ProcessNatives, RebootAsksForARestartOnlyWithTheShutdownPrivilege) {
    for (bool privileged : {true, false}) {
        ScopedCalls scope;
        scope.replace("AdjustTokenPrivileges", recordPrivilege);
        scope.replace("ExitWindowsEx", recordExit);
        record = PrivilegeRecord{};
        record.answer = privileged;
        MISC(reboot0)(env(), nullptr);
        EXPECT_EQ(record.calls, (std::vector<std::pair<std::wstring, bool>>{{L"SeShutdownPrivilege", true}}));
        const std::vector<std::pair<UINT, DWORD>> expected =
            privileged ? std::vector<std::pair<UINT, DWORD>>{{EWX_REBOOT, 0}} : std::vector<std::pair<UINT, DWORD>>{};
        EXPECT_EQ(record.exits, expected) << "privileged " << privileged;
    }
}

// ---- getRunningModules0

TEST_F(ProcessNatives, RunningModulesListProcessesByIdAndImagePathOnEveryRoute) {
    REQUIRE_WINDOWS();
    Peer peer(L"listed peer");
    ASSERT_TRUE(peer.up());
    struct Case {
        const char* route;
        std::vector<std::string> missing;
    };
    const std::vector<Case> cases = {
        {"process status with the image name", {}},
        {"process status with the main module", {"QueryFullProcessImageNameW"}},
        {"tool-help snapshot", {"EnumProcesses"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route);
        ScopedCalls scope;
        overrideLookups(scope, {c.missing, {}});
        const auto entries = strings(MISC(getRunningModules0)(env(), nullptr, JNI_FALSE));
        EXPECT_TRUE(hasEntry(entries, GetCurrentProcessId(), ownPath()));
        EXPECT_TRUE(hasEntry(entries, peer.pid(), peerPath()));
    }
}

TEST_F(ProcessNatives, RunningModulesSwitchTheDebugPrivilegeByTheFlag) {
    for (bool withoutDebug : {false, true}) {
        ScopedCalls scope;
        scope.replace("AdjustTokenPrivileges", recordPrivilege);
        record = PrivilegeRecord{};
        EXPECT_NE(MISC(getRunningModules0)(env(), nullptr, withoutDebug ? JNI_TRUE : JNI_FALSE), nullptr);
        EXPECT_EQ(record.calls, (std::vector<std::pair<std::wstring, bool>>{{L"SeDebugPrivilege", !withoutDebug}}));
    }
}

TEST_F(ProcessNatives, RunningModulesAreNullWhenNoRouteHasItsFunctions) {
    ScopedCalls scope;
    overrideLookups(scope, {{"EnumProcesses", "Process32First"}, {}});
    OutputCapture out;
    EXPECT_EQ(MISC(getRunningModules0)(env(), nullptr, JNI_FALSE), nullptr);
    const std::string printed = out.text();
    EXPECT_EQ(printed.rfind("could not load functions ", 0), 0u) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
}

// ---- getEnvVarPairs0

TEST_F(ProcessNatives, EnvironmentPairsAreTheBlocksEntriesUnchanged) {
    const std::wstring name = L"TOVRIX_UNIT_\u4e2d" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(SetEnvironmentVariableW(name.c_str(), L"v\u00e9=x"));
    const auto entries = strings(MISC(getEnvVarPairs0)(env(), nullptr));
    SetEnvironmentVariableW(name.c_str(), nullptr);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), name + L"=v\u00e9=x"), 1);
    std::vector<wchar_t> path(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    EXPECT_EQ(std::count(entries.begin(), entries.end(), L"PATH=" + std::wstring(path.data(), length)), 1);
    for (const std::wstring& entry : entries) EXPECT_FALSE(entry.empty());
}

// ---- broadcastSettingChange0

TEST_F(ProcessNatives, SettingChangeReachesOtherProcessesWindows) {
    REQUIRE_WINDOWS();
    Peer peer(L"settings peer");
    ASSERT_TRUE(peer.up());
    MISC(broadcastSettingChange0)(env(), nullptr);
    EXPECT_TRUE(peer.awaitLog("settingchange Environment")) << peer.log();
}

// ---- getPhysicalMemory0

BOOL WINAPI failingMemoryStatus(MEMORYSTATUSEX*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(ProcessNatives, PhysicalMemoryFromTheExtendedStatusOrItsFallback) {
    MEMORYSTATUSEX extended = {};
    extended.dwLength = sizeof extended;
    ASSERT_TRUE(GlobalMemoryStatusEx(&extended));
    MEMORYSTATUS basic = {};
    basic.dwLength = sizeof basic;
    GlobalMemoryStatus(&basic);
    struct Case {
        const char* what;
        LookupOverrides overrides;
        jlong expected;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"extended", {}, static_cast<jlong>(extended.ullTotalPhys), ""},
        {"missing", {{"GlobalMemoryStatusEx"}, {}}, static_cast<jlong>(basic.dwTotalPhys), ""},
        {"failing",
         {{}, {{"GlobalMemoryStatusEx", asProc(failingMemoryStatus)}}},
         static_cast<jlong>(basic.dwTotalPhys),
         "error 5\n"},
    };
    for (const Case& c : cases) {
        ScopedCalls scope;
        overrideLookups(scope, c.overrides);
        OutputCapture out;
        EXPECT_EQ(MISC(getPhysicalMemory0)(env(), nullptr), c.expected) << c.what;
        EXPECT_EQ(out.text(), c.printed) << c.what;
    }
    EXPECT_GT(extended.ullTotalPhys, 0u);
}

// ---- getFreeDiskSpace0

std::wstring missingDrive() {
    const DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter)
        if (!(drives & (1u << (letter - L'A')))) return std::wstring(1, letter) + L":\\";
    return L"";
}

TEST_F(ProcessNatives, FreeDiskSpaceIsWhatTheCallerMayUseOrMinusOne) {
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    const jlong space = MISC(getFreeDiskSpace0)(env(), nullptr, e_.newString(L"C:\\windows"));
    // Other programs write to the same disk meanwhile.
    EXPECT_NEAR(static_cast<double>(space), static_cast<double>(available.QuadPart), 256.0 * 1024 * 1024);
    const std::wstring missing = missingDrive();
    ASSERT_FALSE(missing.empty());
    EXPECT_EQ(MISC(getFreeDiskSpace0)(env(), nullptr, e_.newString(missing)), -1);
    EXPECT_EQ(MISC(getFreeDiskSpace0)(env(), nullptr, e_.newString(L"C:\\no such directory\\x")), -1);
    EXPECT_GT(MISC(getFreeDiskSpace0)(env(), nullptr, nullptr), 0) << "null: the current directory's volume";
}

// ---- moveWithDelayUntilReboot0

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

// The pending renames value, restored by the destructor.
class PendingRenames {
public:
    PendingRenames() { had_ = read(saved_); }
    ~PendingRenames() {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
        if (had_)
            RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(saved_.data()), static_cast<DWORD>(saved_.size() * 2));
        else
            RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
    }
    // The strings of the value now.
    static std::vector<std::wstring> now() {
        std::wstring raw;
        std::vector<std::wstring> strings;
        if (!read(raw)) return strings;
        for (std::size_t at = 0; at < raw.size();) {
            const std::size_t end = raw.find(L'\0', at);
            strings.push_back(raw.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at));
            if (end == std::wstring::npos) break;
            at = end + 1;
        }
        return strings;
    }

private:
    static bool read(std::wstring& raw) {
        DWORD size = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                         nullptr, nullptr, &size) != ERROR_SUCCESS)
            return false;
        raw.assign(size / 2 + 1, L'\0');
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                         nullptr, &raw[0], &size) != ERROR_SUCCESS)
            return false;
        raw.resize(size / 2);
        return true;
    }
    bool had_ = false;
    std::wstring saved_;
};

TEST_F(ProcessNatives, MoveAtRebootIsRecordedInThePendingRenames) {
    PendingRenames restore;
    const std::wstring source = tempFile(L"move-source.txt");
    const std::wstring target = tempFile(L"move-target.txt");
    const std::wstring doomed = tempFile(L"doomed.txt");
    for (const std::wstring& file : {source, doomed}) {
        HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(created, INVALID_HANDLE_VALUE);
        CloseHandle(created);
    }
    EXPECT_TRUE(MISC(moveWithDelayUntilReboot0)(env(), nullptr, e_.newString(source), e_.newString(target)));
    EXPECT_TRUE(MISC(moveWithDelayUntilReboot0)(env(), nullptr, e_.newString(doomed), nullptr));
    const auto pending = PendingRenames::now();
    // Entries are NT paths ("\??\C:\..."), a target perhaps behind a "!".
    const auto endsWith = [](const std::wstring& entry, const std::wstring& path) {
        return entry.size() >= path.size() && sameText(entry.substr(entry.size() - path.size()), path);
    };
    const auto at = [&](const std::wstring& path) {
        for (std::size_t i = 0; i + 1 < pending.size(); ++i)
            if (endsWith(pending[i], path)) return static_cast<int>(i);
        return -1;
    };
    const int moved = at(source);
    ASSERT_GE(moved, 0) << "source not pending";
    EXPECT_TRUE(endsWith(pending[moved + 1], target)) << narrow(pending[moved + 1]);
    const int deleted = at(doomed);
    ASSERT_GE(deleted, 0) << "deletion not pending";
    EXPECT_EQ(pending[deleted + 1], L"") << "a deletion has an empty target";
    DeleteFileW(source.c_str());
    DeleteFileW(doomed.c_str());
}

TEST_F(ProcessNatives, MoveAtRebootFailsWithoutMoveFileExOrASource) {
    {
        ScopedCalls scope;
        overrideLookups(scope, {{"MoveFileExW"}, {}});
        EXPECT_FALSE(MISC(moveWithDelayUntilReboot0)(env(), nullptr, e_.newString(L"C:\\x"), nullptr));
    }
    EXPECT_FALSE(MISC(moveWithDelayUntilReboot0)(env(), nullptr, nullptr, nullptr));
}

// ---- terminateProcesses0

TEST_F(ProcessNatives, ForcedTerminationEndsAtOnceWithExitCodeZero) {
    REQUIRE_WINDOWS();
    Peer a(L"forced a"), b(L"forced b", {L"hidden"});
    ASSERT_TRUE(a.up() && b.up());
    EXPECT_EQ(terminate({static_cast<jint>(a.pid()), static_cast<jint>(b.pid())}, true, 0), 1);
    EXPECT_TRUE(a.ended(5000) && b.ended(5000));
    EXPECT_EQ(a.exitCode(), 0u);
    EXPECT_EQ(b.exitCode(), 0u);
    EXPECT_FALSE(a.logHas("close")) << "no close request with force";
    // A process that does not exist cannot be opened; the others are still ended.
    Peer c(L"forced c", {L"hidden"});
    ASSERT_TRUE(c.up());
    EXPECT_EQ(terminate({0x7FFFFFF0, static_cast<jint>(c.pid())}, true, 0), 0);
    EXPECT_TRUE(c.ended(5000));
}

TEST_F(ProcessNatives, GracefulTerminationClosesVisibleWindowsAndWaits) {
    REQUIRE_WINDOWS();
    Peer peer(L"graceful \u4e2d");
    ASSERT_TRUE(peer.up());
    EXPECT_EQ(terminate({static_cast<jint>(peer.pid())}, false, 10000), 1);
    EXPECT_TRUE(peer.ended(0)) << "the wait ends only when the process has";
    EXPECT_TRUE(peer.logHas("close"));
}

TEST_F(ProcessNatives, GracefulTerminationOfAProcessWithOnlyHiddenWindowsFailsWithoutWaiting) {
    REQUIRE_WINDOWS();
    Peer hidden(L"hidden peer", {L"hidden"}), shown(L"shown peer", {L"keep-open"});
    ASSERT_TRUE(hidden.up() && shown.up());
    const DWORD before = GetTickCount();
    EXPECT_EQ(terminate({static_cast<jint>(hidden.pid()), static_cast<jint>(shown.pid())}, false, 20000), 0);
    EXPECT_LT(GetTickCount() - before, 10000u) << "no wait after a process without a visible window";
    EXPECT_TRUE(shown.awaitLog("close")) << "the other process still gets its close request";
    Sleep(300);
    EXPECT_FALSE(hidden.logHas("close")) << "hidden windows get none";
    EXPECT_FALSE(hidden.ended(0));
}

TEST_F(ProcessNatives, GracefulTerminationResultCodes) {
    REQUIRE_WINDOWS();
    Peer stubborn(L"stubborn peer", {L"keep-open"});
    ASSERT_TRUE(stubborn.up());
    const jint pid = static_cast<jint>(stubborn.pid());
    struct Case {
        const char* what;
        std::vector<jint> pids;
        jint timeout;
        jint result;
    };
    const std::vector<Case> cases = {
        {"the time-out elapses", {pid}, 300, 3},
        {"more processes than one wait takes", std::vector<jint>(65, pid), 300, 2},
        {"the wait with 64 entries times out", std::vector<jint>(64, pid), 300, 3},
        {"a process that does not exist has no window", {pid, 0x7FFFFFF0}, 300, 0},
        {"no processes: the wait takes none and fails", {}, 300, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(terminate(c.pids, false, c.timeout), c.result) << c.what;
    EXPECT_EQ(MISC(terminateProcesses0)(env(), nullptr, nullptr, JNI_FALSE, 0), 0) << "a null array";
    EXPECT_EQ(MISC(terminateProcesses0)(env(), nullptr, nullptr, JNI_TRUE, 0), 0) << "a null array";
    EXPECT_FALSE(stubborn.ended(0));
}

// ---- getPidFromHandle0

TEST_F(ProcessNatives, PidFromHandle) {
    REQUIRE_WINDOWS();
    Peer peer(L"pid peer", {L"hidden"});
    ASSERT_TRUE(peer.up());
    const std::vector<std::pair<jlong, jint>> cases = {
        {static_cast<jlong>(reinterpret_cast<INT_PTR>(peer.process())), static_cast<jint>(peer.pid())},
        {-1, static_cast<jint>(GetCurrentProcessId())},  // the current process's pseudo handle, sign-extended
        {0, 0},
        {0x7FFFFF0, 0},
    };
    for (const auto& [handle, pid] : cases) EXPECT_EQ(MISC(getPidFromHandle0)(env(), nullptr, handle), pid) << handle;
}

// ---- Win32Exec.launch0

std::string recorded(const std::wstring& path, int ms = 10000) {
    for (int waited = 0; waited < ms; waited += 50) {
        const std::string text = readFile(path);
        if (!text.empty()) return text;
        Sleep(50);
    }
    return std::string();
}

TEST_F(ProcessNatives, LaunchStartsAProgramWithItsArgumentsInTheCurrentDirectory) {
    const std::wstring out = tempFile(L"launched.txt");
    const std::wstring line = L"\"" + peerPath() + L"\" record \"" + out + L"\" first \"two words\" \u4e2d";
    EXPECT_EQ(NATIVE_FUNCTION(Win32Exec, launch0)(env(), nullptr, nullptr, e_.newString(line)), 0);
    const std::string text = recorded(out);
    std::vector<wchar_t> cwd(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data());
    EXPECT_EQ(text, "cwd=" + narrow(std::wstring(cwd.data(), length)) +
                        "\nargc=3\narg[0]=first\narg[1]=two words\narg[2]=" + narrow(L"\u4e2d") +
                        "\ncommandline=" + narrow(line) + "\n");
    DeleteFileW(out.c_str());

    // The application name alone: the command line is then the name as given.
    const std::wstring peer = peerPath();
    EXPECT_EQ(NATIVE_FUNCTION(Win32Exec, launch0)(env(), nullptr, e_.newString(peer), nullptr), 0);
}

TEST_F(ProcessNatives, LaunchReportsTheWindowsErrorCode) {
    struct Case {
        const char* what;
        const wchar_t* application;
        const wchar_t* line;
        jint error;
    };
    const std::vector<Case> cases = {
        {"missing program", nullptr, L"C:\\no\\such\\program.exe", ERROR_FILE_NOT_FOUND},
        {"missing application", L"C:\\windows\\no-such-program.exe", L"x", ERROR_FILE_NOT_FOUND},
        {"missing directory", L"C:\\no\\such\\program.exe", L"x", ERROR_PATH_NOT_FOUND},
        {"neither", nullptr, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        const jstring application = c.application ? e_.newString(c.application) : nullptr;
        const jstring line = c.line ? e_.newString(c.line) : nullptr;
        const jint result = NATIVE_FUNCTION(Win32Exec, launch0)(env(), nullptr, application, line);
        EXPECT_EQ(result, c.error) << c.what;
    }
}

}  // namespace
