// The Win32Services natives through the JNI test double, under Wine, against
// Wine's own service control manager: a real service (tests/tools
// test_service.exe) through its life, the configuration each native writes
// as Windows reads it back, and every failure value.  The failures Wine
// cannot be made to show on demand (no service control manager, a status
// query failing during the stop wait, no ChangeServiceConfig2W) are injected
// through the natives' function table (natives/service_functions.h).
#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/native_prototypes.h"
#include "natives/service_functions.h"
#include "tests/jni_double/jni_double.h"

#define SERVICES(name) NATIVE_FUNCTION(Win32Services, name)

namespace {

using namespace std::string_literals;

std::wstring exeDirectory() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring text(path.data(), length);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring tempDirectory() {
    wchar_t path[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, path);
    return path;
}

std::string readUtf8(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The configuration Windows keeps for a service, read with the APIs directly.
struct Config {
    bool found = false;
    DWORD startType = 0;
    std::wstring binary, display, account, dependencies, description;
};

// Saves the natives' function table and puts it back.
class TableGuard {
public:
    TableGuard() : saved_(serviceFunctions()) {}
    ~TableGuard() { serviceFunctions() = saved_; }

private:
    ServiceFunctions saved_;
};

// Fakes for the table (plain functions: the table holds WINAPI pointers).
SC_HANDLE WINAPI noManager(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
BOOL WINAPI controlAccepted(SC_HANDLE, DWORD, LPSERVICE_STATUS status) {
    status->dwCurrentState = SERVICE_STOP_PENDING;
    return TRUE;
}
BOOL WINAPI statusUnreadable(SC_HANDLE, LPSERVICE_STATUS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}
BOOL WINAPI stuckStopping(SC_HANDLE, LPSERVICE_STATUS status) {
    *status = SERVICE_STATUS{};
    status->dwCurrentState = SERVICE_STOP_PENDING;
    status->dwCheckPoint = 4;
    return TRUE;
}
DWORD g_fakeTicks = 0;
int g_fakeSleeps = 0;
void WINAPI fakeSleep(DWORD ms) {
    g_fakeTicks += ms;
    ++g_fakeSleeps;
}
DWORD WINAPI fakeTicks() { return g_fakeTicks; }
ChangeServiceConfig2Fn noChangeConfig2() { return nullptr; }

class ServiceNatives : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        name_ = L"tovrix-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << GetLastError();
    }
    void TearDown() override {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_ALL_ACCESS));
        if (service) {
            SERVICE_STATUS status;
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(service.get());
        }
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }

    JNIEnv* env() { return e_.env(); }
    jstring name() { return e_.newString(name_); }
    jstring text(const std::wstring& value) { return e_.newString(value); }

    // A service that is never started: its binary does not exist.
    void installIdle() {
        ASSERT_EQ(SERVICES(installService0)(env(), nullptr, name(), text(L"Idle " + name_),
                                            text(L"C:\\tovrix\\does-not-exist.exe")),
                  0);
    }

    Config config() {
        Config result;
        UniqueServiceHandle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_QUERY_CONFIG));
        if (!service) return result;
        std::vector<unsigned char> buffer(64 * 1024);
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) return result;
        result.found = true;
        result.startType = config->dwStartType;
        result.binary = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        result.display = config->lpDisplayName ? config->lpDisplayName : L"";
        result.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
        // Wine's QueryServiceConfigW gives no dependencies; its service key in the registry has them.
        const std::wstring key = L"System\\CurrentControlSet\\Services\\" + name_;
        std::vector<wchar_t> depends(8192, L'\0');
        DWORD dependsBytes = static_cast<DWORD>(depends.size() * sizeof(wchar_t));
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr,
                         depends.data(), &dependsBytes) == ERROR_SUCCESS)
            for (const wchar_t* d = depends.data(); *d; d += wcslen(d) + 1) result.dependencies += d + L";"s;
        std::vector<unsigned char> about(8192);
        if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, about.data(),
                                 static_cast<DWORD>(about.size()), &needed)) {
            const auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(about.data());
            if (description->lpDescription) result.description = description->lpDescription;
        }
        return result;
    }

    DWORD state() {
        UniqueServiceHandle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
        return status.dwCurrentState;
    }

    bool waitForState(DWORD wanted) {
        for (int i = 0; i < 100 && state() != wanted; ++i) Sleep(100);
        return state() == wanted;
    }

    jni_double::Environment e_;
    std::wstring name_;
    UniqueServiceHandle manager_;
};

TEST_F(ServiceNatives, ARealServiceThroughItsLife) {
    const std::wstring log = tempDirectory() + name_ + L".log";
    DeleteFileW(log.c_str());
    // A slow stop (1.2 s with a growing check point) that a time-out of 0 still waits for.
    const std::wstring binary =
        L"\"" + exeDirectory() + L"\\test_service.exe\" --log \"" + log + L"\" --tag unit --stop-ms 1200";

    EXPECT_EQ(SERVICES(installService0)(env(), nullptr, name(), text(L"Unit " + name_), text(binary)), 0);
    EXPECT_EQ(SERVICES(installService0)(env(), nullptr, name(), text(L"Twice"), text(binary)), ERROR_SERVICE_EXISTS);
    EXPECT_EQ(SERVICES(getStartType0)(env(), nullptr, name()), -static_cast<jint>(SERVICE_DEMAND_START));
    EXPECT_EQ(e_.stringValue(SERVICES(getServiceBinary0)(env(), nullptr, name())), binary);
    EXPECT_EQ(config().account, L"LocalSystem");
    EXPECT_EQ(SERVICES(queryStatus0)(env(), nullptr, name()), -1);
    EXPECT_EQ(SERVICES(stopService0)(env(), nullptr, name(), 1000), ERROR_SERVICE_NOT_ACTIVE);

    EXPECT_EQ(SERVICES(startService0)(env(), nullptr, name(), e_.newStringArray({L"alpha", L"b \u00e9ta"})), 0);
    ASSERT_TRUE(waitForState(SERVICE_RUNNING)) << "state " << state();
    EXPECT_EQ(SERVICES(queryStatus0)(env(), nullptr, name()), -4);
    EXPECT_EQ(SERVICES(startService0)(env(), nullptr, name(), nullptr), ERROR_SERVICE_ALREADY_RUNNING);

    const DWORD before = GetTickCount();
    EXPECT_EQ(SERVICES(stopService0)(env(), nullptr, name(), 0), 0);
    EXPECT_GE(GetTickCount() - before, 1000u) << "the wait follows the check point";
    EXPECT_EQ(SERVICES(queryStatus0)(env(), nullptr, name()), -1);
    EXPECT_EQ(readUtf8(log), "main unit\nargs 2 alpha|b \xC3\xA9ta\nrunning\nstop\nstopped\n");

    EXPECT_EQ(SERVICES(uninstallService0)(env(), nullptr, name()), 0);
    EXPECT_FALSE(config().found);
    EXPECT_EQ(SERVICES(queryStatus0)(env(), nullptr, name()), ERROR_SERVICE_DOES_NOT_EXIST);
    DeleteFileW(log.c_str());
}

TEST_F(ServiceNatives, EveryNativeGivesTheErrorOfAMissingService) {
    const jint missing = ERROR_SERVICE_DOES_NOT_EXIST;
    EXPECT_EQ(SERVICES(changeServiceConfig0)(env(), nullptr, name(), nullptr, nullptr, -1, -1, nullptr, nullptr,
                                             nullptr, nullptr),
              missing);
    EXPECT_EQ(SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1000, 1, 60), missing);
    EXPECT_EQ(SERVICES(setDelayedAutoStart0)(env(), nullptr, name(), JNI_TRUE), missing);
    EXPECT_EQ(SERVICES(stopService0)(env(), nullptr, name(), 0), missing);
    EXPECT_EQ(SERVICES(startService0)(env(), nullptr, name(), nullptr), missing);
    EXPECT_EQ(SERVICES(uninstallService0)(env(), nullptr, name()), missing);
    EXPECT_EQ(SERVICES(queryStatus0)(env(), nullptr, name()), missing);
    EXPECT_EQ(SERVICES(getStartType0)(env(), nullptr, name()), missing);
    EXPECT_EQ(e_.stringValue(SERVICES(getServiceBinary0)(env(), nullptr, name())), L" 1060");
}

TEST_F(ServiceNatives, WithoutTheServiceControlManagerEveryNativeGives5000) {
    installIdle();
    TableGuard guard;
    serviceFunctions().openManager = noManager;
    const std::vector<std::pair<const char*, std::function<jint()>>> calls = {
        {"installService0",
         [&] { return SERVICES(installService0)(env(), nullptr, text(name_ + L"-new"), nullptr, text(L"C:\\x.exe")); }},
        {"changeServiceConfig0",
         [&] {
             return SERVICES(changeServiceConfig0)(env(), nullptr, name(), text(L"changed"), nullptr, -1, -1, nullptr,
                                                   nullptr, nullptr, nullptr);
         }},
        {"setRestartServiceConfig0",
         [&] { return SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1, 1, 1); }},
        {"setDelayedAutoStart0", [&] { return SERVICES(setDelayedAutoStart0)(env(), nullptr, name(), JNI_TRUE); }},
        {"stopService0", [&] { return SERVICES(stopService0)(env(), nullptr, name(), 0); }},
        {"startService0", [&] { return SERVICES(startService0)(env(), nullptr, name(), nullptr); }},
        {"uninstallService0", [&] { return SERVICES(uninstallService0)(env(), nullptr, name()); }},
        {"queryStatus0", [&] { return SERVICES(queryStatus0)(env(), nullptr, name()); }},
        {"getStartType0", [&] { return SERVICES(getStartType0)(env(), nullptr, name()); }},
    };
    for (const auto& [what, call] : calls) EXPECT_EQ(call(), 5000) << what;
    EXPECT_EQ(e_.stringValue(SERVICES(getServiceBinary0)(env(), nullptr, name())), L" 5000");
    serviceFunctions() = ServiceFunctions{};
    const Config unchanged = config();
    EXPECT_TRUE(unchanged.found);
    EXPECT_EQ(unchanged.display, L"Idle " + name_);
}

TEST_F(ServiceNatives, ChangeServiceConfigWritesWhatItIsGiven) {
    installIdle();
    EXPECT_EQ(SERVICES(changeServiceConfig0)(env(), nullptr, name(), text(L"Display \u4e2d"),
                                             text(L"\"C:\\new path\\svc.exe\" -x"), SERVICE_WIN32_OWN_PROCESS,
                                             SERVICE_AUTO_START, text(L"Tcpip,,Afd"),
                                             text(L"NT AUTHORITY\\LocalSystem"), nullptr, text(L"About \u00e9")),
              0);
    Config changed = config();
    EXPECT_EQ(changed.display, L"Display \u4e2d");
    EXPECT_EQ(changed.binary, L"\"C:\\new path\\svc.exe\" -x");
    EXPECT_EQ(changed.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(changed.dependencies, L"Tcpip;Afd;");
    EXPECT_EQ(changed.account, L"LocalSystem");
    EXPECT_EQ(changed.description, L"About \u00e9");

    // Null strings and SERVICE_NO_CHANGE keep their settings; null dependencies remove them all.
    EXPECT_EQ(SERVICES(changeServiceConfig0)(env(), nullptr, name(), nullptr, nullptr, -1, -1, nullptr, nullptr,
                                             nullptr, nullptr),
              0);
    const Config kept = config();
    EXPECT_EQ(kept.display, changed.display);
    EXPECT_EQ(kept.binary, changed.binary);
    EXPECT_EQ(kept.startType, changed.startType);
    EXPECT_EQ(kept.description, changed.description);
    EXPECT_EQ(kept.dependencies, L"");

    // Only the exact spellings are mapped; another one reaches Windows as it is.
    const jint lowerCase = SERVICES(changeServiceConfig0)(env(), nullptr, name(), nullptr, nullptr, -1, -1, nullptr,
                                                          text(L"nt authority\\localsystem"), nullptr, nullptr);
    EXPECT_EQ(lowerCase, 0);
    EXPECT_EQ(config().account, L"nt authority\\localsystem");

    // A dependency list beyond its 16,384-byte buffer is refused before Windows sees anything.
    EXPECT_EQ(SERVICES(changeServiceConfig0)(env(), nullptr, name(), text(L"not written"), nullptr, -1, -1,
                                             text(std::wstring(8191, L'd')), nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(config().display, changed.display);
}

TEST_F(ServiceNatives, RestartConfiguration) {
    installIdle();
    {
        TableGuard guard;
        serviceFunctions().findChangeConfig2 = noChangeConfig2;
        EXPECT_EQ(SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1000, 3, 60), 1);
    }
    EXPECT_EQ(SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1000, -1, 60),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1000, 1001, 60),
              ERROR_INVALID_PARAMETER);
    ASSERT_EQ(SERVICES(setRestartServiceConfig0)(env(), nullptr, name(), JNI_TRUE, 1500, 3, 86400), 0);

    UniqueServiceHandle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_QUERY_CONFIG));
    std::vector<unsigned char> buffer(8192);
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
        GTEST_SKIP() << "Wine's service control manager accepts failure actions without keeping them "
                        "and cannot report them (QueryServiceConfig2W gives ERROR_INVALID_LEVEL)";
    }
    const auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    ASSERT_EQ(actions->cActions, 4u);
    EXPECT_EQ(actions->dwResetPeriod, 86400u);
    for (DWORD i = 0; i < 4; ++i) {
        EXPECT_EQ(actions->lpsaActions[i].Type, i < 3 ? SC_ACTION_RESTART : SC_ACTION_NONE) << i;
        EXPECT_EQ(actions->lpsaActions[i].Delay, 1500u) << i;
    }
}

TEST_F(ServiceNatives, DelayedAutoStart) {
    installIdle();
    const jint result = SERVICES(setDelayedAutoStart0)(env(), nullptr, name(), JNI_TRUE);
    if (result == ERROR_INVALID_LEVEL)
        GTEST_SKIP() << "Wine's service control manager does not know SERVICE_CONFIG_DELAYED_AUTO_START_INFO";
    ASSERT_EQ(result, 0);
    UniqueServiceHandle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_QUERY_CONFIG));
    SERVICE_DELAYED_AUTO_START_INFO info{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO,
                                     reinterpret_cast<BYTE*>(&info), sizeof info, &needed));
    EXPECT_TRUE(info.fDelayedAutostart);
}

TEST_F(ServiceNatives, StopWaitFailures) {
    installIdle();
    TableGuard guard;
    serviceFunctions().control = controlAccepted;
    serviceFunctions().queryStatus = statusUnreadable;
    EXPECT_EQ(SERVICES(stopService0)(env(), nullptr, name(), 1000), 50002);

    // Stop pending without progress or wait hint: after the time-out, 50001.
    serviceFunctions().queryStatus = stuckStopping;
    serviceFunctions().sleep = fakeSleep;
    serviceFunctions().tickCount = fakeTicks;
    g_fakeTicks = 0xFFFFFF00u;  // across the wrap of the tick count
    g_fakeSleeps = 0;
    EXPECT_EQ(SERVICES(stopService0)(env(), nullptr, name(), 2000), 50001);
    EXPECT_EQ(g_fakeSleeps, 5) << "polls at 500, 1000, 1500 and 2000 ms wait on, 2500 gives up";
}

TEST_F(ServiceNatives, StartRefusesANullArgument) {
    installIdle();
    EXPECT_EQ(SERVICES(startService0)(env(), nullptr, name(),
                                      e_.newObjectArray("java/lang/String", {e_.newString(L"a"), nullptr})),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOPPED));
}

// A configuration beyond the 8,192-byte buffer is refused by Windows, not read past.
TEST_F(ServiceNatives, ConfigurationBeyondItsBufferGivesTheError) {
    const std::wstring longBinary = L"C:\\" + std::wstring(5000, L'x') + L".exe";
    ASSERT_EQ(SERVICES(installService0)(env(), nullptr, name(), nullptr, text(longBinary)), 0);
    EXPECT_EQ(config().binary, longBinary);
    EXPECT_EQ(e_.stringValue(SERVICES(getServiceBinary0)(env(), nullptr, name())), L" 122");
    EXPECT_EQ(SERVICES(getStartType0)(env(), nullptr, name()), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
