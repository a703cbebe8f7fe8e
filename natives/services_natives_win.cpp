// Natives of the Java class Win32Services: install, configure, start, stop,
// query and remove services of the local machine.
//
// Each native opens its own connection to the service control manager with
// the rights its job needs, opens (or creates) the one service, does the job
// and lets UniqueServiceHandle close both on every path.  Results are ints:
// 0, a Win32 error code, or a code of service_rules.h (5000 no connection,
// 50001 and 50002 from the stop wait, 1 without ChangeServiceConfig2W);
// getServiceBinary0 gives the path or " <code>".  Nothing is printed and
// nothing thrown.  Arguments that Windows could not take safely are refused
// with ERROR_INVALID_PARAMETER: a dependency list beyond its buffer, a null
// start argument, a restart count without room or bound.
#include <optional>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/jni_helpers.h"
#include "natives/native_prototypes.h"
#include "natives/service_functions.h"
#include "natives/service_rules.h"

ChangeServiceConfig2Fn findChangeServiceConfig2() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    if (!advapi) return nullptr;
    return reinterpret_cast<ChangeServiceConfig2Fn>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")));
}

ServiceFunctions& serviceFunctions() {
    static ServiceFunctions functions;
    return functions;
}

namespace {

using jni::JavaString;
using namespace services;

static_assert(kStateStopped == SERVICE_STOPPED && kActionNone == SC_ACTION_NONE && kActionRestart == SC_ACTION_RESTART,
              "service numbers");

jint lastError() { return static_cast<jint>(GetLastError()); }

// The frame every native but installService0 shares: connect with
// `managerAccess` (kManagerUnavailable when that fails, before any argument
// is converted), open the named service with `serviceAccess` (its error when
// that fails) and hand it to `work`, whose result is the native's.
template <typename Work>
jint withService(JNIEnv* env, DWORD managerAccess, jstring name, DWORD serviceAccess, Work work) {
    const UniqueServiceHandle manager(serviceFunctions().openManager(nullptr, nullptr, managerAccess));
    if (!manager) return kManagerUnavailable;
    const JavaString serviceName(env, name);
    const UniqueServiceHandle service(OpenServiceW(manager.get(), serviceName.get(), serviceAccess));
    if (!service) return lastError();
    return work(service.get());
}

// QueryServiceConfigW answers into this buffer; Windows refuses a larger
// configuration with ERROR_INSUFFICIENT_BUFFER.
struct ConfigBuffer {
    alignas(QUERY_SERVICE_CONFIGW) unsigned char bytes[kConfigBufferBytes];
};

// Runs `use` on the service's configuration; the error when it cannot be read.
template <typename Use>
jint withConfig(SC_HANDLE service, Use use) {
    std::vector<ConfigBuffer> buffer(1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer[0].bytes);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service, config, sizeof buffer[0].bytes, &needed)) return lastError();
    return use(*config);
}

// The service's status through the table: false when it cannot be read.
bool readStatus(SC_HANDLE service, ServiceProgress& progress) {
    SERVICE_STATUS status{};
    if (!serviceFunctions().queryStatus(service, &status)) return false;
    progress = {status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint};
    return true;
}

}  // namespace

extern "C" {

// A new service of its own process, started on demand, run as the local
// system account.
jint JNICALL NATIVE_FUNCTION(Win32Services, installService0)(JNIEnv* env, jclass, jstring name, jstring displayName,
                                                             jstring binaryPath) {
    const UniqueServiceHandle manager(serviceFunctions().openManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return kManagerUnavailable;
    const JavaString serviceName(env, name), display(env, displayName), binary(env, binaryPath);
    const UniqueServiceHandle service(CreateServiceW(
        manager.get(), serviceName.get(), display.get(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service ? 0 : lastError();
}

// Null strings leave their settings unchanged, except the dependencies,
// which are always replaced (null or empty removes them all).
jint JNICALL NATIVE_FUNCTION(Win32Services, changeServiceConfig0)(JNIEnv* env, jclass, jstring name,
                                                                  jstring displayName, jstring binaryPath,
                                                                  jint serviceType, jint startType,
                                                                  jstring dependencies, jstring account,
                                                                  jstring password, jstring description) {
    return withService(env, SC_MANAGER_ALL_ACCESS, name, SERVICE_ALL_ACCESS, [&](SC_HANDLE service) -> jint {
        const JavaString display(env, displayName), binary(env, binaryPath), depends(env, dependencies),
            accountName(env, account), secret(env, password), text(env, description);
        const std::optional<wstring> list = dependencyList(depends.text());
        if (!list) return kInvalidParameter;
        const wchar_t* accountArgument = accountName.get();
        if (accountArgument && isLocalSystemAlias(accountName.text())) accountArgument = L"LocalSystem";
        if (!ChangeServiceConfigW(service, static_cast<DWORD>(serviceType), static_cast<DWORD>(startType),
                                  SERVICE_NO_CHANGE, binary.get(), nullptr, nullptr, list->c_str(), accountArgument,
                                  secret.get(), display.get()))
            return lastError();
        if (!text.isNull()) {
            SERVICE_DESCRIPTIONW about{const_cast<wchar_t*>(text.get())};
            ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &about);  // its result is not used
        }
        return 0;
    });
}

// The failure actions of failureActions (service_rules.h), each with the
// delay.  1 when ChangeServiceConfig2W cannot be found, also when
// advapi32.dll itself cannot: failure actions that were not written are
// never reported as written.
jint JNICALL NATIVE_FUNCTION(Win32Services, setRestartServiceConfig0)(JNIEnv* env, jclass, jstring name,
                                                                      jboolean restart, jint delayMilliseconds,
                                                                      jint restarts, jint resetSeconds) {
    return withService(
        env, SC_MANAGER_ALL_ACCESS, name, SERVICE_CHANGE_CONFIG | SERVICE_START, [&](SC_HANDLE service) -> jint {
            const ChangeServiceConfig2Fn change = serviceFunctions().findChangeConfig2();
            if (!change) return kNoFailureActionsCall;
            const std::optional<FailureActions> plan = failureActions(restart != JNI_FALSE, restarts);
            if (!plan) return kInvalidParameter;
            std::vector<SC_ACTION> actions;
            for (std::uint32_t type : plan->types)
                actions.push_back({static_cast<SC_ACTION_TYPE>(type), static_cast<DWORD>(delayMilliseconds)});
            SERVICE_FAILURE_ACTIONSW config{};
            config.dwResetPeriod = static_cast<DWORD>(resetSeconds);
            config.cActions = plan->count;
            config.lpsaActions = actions.data();
            if (!change(service, SERVICE_CONFIG_FAILURE_ACTIONS, &config)) return lastError();
            return 0;
        });
}

jint JNICALL NATIVE_FUNCTION(Win32Services, setDelayedAutoStart0)(JNIEnv* env, jclass, jstring name, jboolean delayed) {
    return withService(env, SC_MANAGER_ALL_ACCESS, name, SERVICE_ALL_ACCESS, [&](SC_HANDLE service) -> jint {
        SERVICE_DELAYED_AUTO_START_INFO info{delayed != JNI_FALSE};
        if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info)) return lastError();
        return 0;
    });
}

// Sends the stop control and waits as waitForStop (service_rules.h) says.
jint JNICALL NATIVE_FUNCTION(Win32Services, stopService0)(JNIEnv* env, jclass, jstring name, jint timeoutMilliseconds) {
    return withService(
        env, SC_MANAGER_CONNECT, name, SERVICE_STOP | SERVICE_QUERY_STATUS, [&](SC_HANDLE service) -> jint {
            const ServiceFunctions& calls = serviceFunctions();
            SERVICE_STATUS status{};
            if (!calls.control(service, SERVICE_CONTROL_STOP, &status)) return lastError();
            return waitForStop([&](ServiceProgress& progress) { return readStatus(service, progress); },
                               [&](std::uint32_t ms) { calls.sleep(ms); },
                               [&] { return static_cast<std::uint32_t>(calls.tickCount()); }, timeoutMilliseconds);
        });
}

// Does not wait for the service to run.
jint JNICALL NATIVE_FUNCTION(Win32Services, startService0)(JNIEnv* env, jclass, jstring name, jobjectArray arguments) {
    return withService(env, SC_MANAGER_CONNECT, name, SERVICE_START, [&](SC_HANDLE service) -> jint {
        std::vector<JavaString> strings;
        if (arguments) strings = *jni::readStringArray(env, arguments);
        std::vector<const wchar_t*> argv;
        for (const JavaString& argument : strings) {
            if (argument.isNull()) return kInvalidParameter;
            argv.push_back(argument.get());
        }
        if (!StartServiceW(service, static_cast<DWORD>(argv.size()), argv.empty() ? nullptr : argv.data()))
            return lastError();
        return 0;
    });
}

jint JNICALL NATIVE_FUNCTION(Win32Services, uninstallService0)(JNIEnv* env, jclass, jstring name) {
    return withService(env, SC_MANAGER_ALL_ACCESS, name, DELETE,
                       [](SC_HANDLE service) -> jint { return DeleteService(service) ? 0 : lastError(); });
}

// -(current state): -1 stopped ... -4 running ... -7 paused.
jint JNICALL NATIVE_FUNCTION(Win32Services, queryStatus0)(JNIEnv* env, jclass, jstring name) {
    return withService(env, SC_MANAGER_CONNECT, name, SERVICE_QUERY_STATUS, [](SC_HANDLE service) -> jint {
        ServiceProgress status;
        if (!readStatus(service, status)) return lastError();
        return -static_cast<jint>(status.state);
    });
}

// -(start type): 0 boot, -1 system, -2 automatic, -3 on demand, -4 disabled.
jint JNICALL NATIVE_FUNCTION(Win32Services, getStartType0)(JNIEnv* env, jclass, jstring name) {
    return withService(env, SC_MANAGER_CONNECT, name, SERVICE_QUERY_CONFIG, [](SC_HANDLE service) -> jint {
        return withConfig(service,
                          [](const QUERY_SERVICE_CONFIGW& config) { return -static_cast<jint>(config.dwStartType); });
    });
}

jstring JNICALL NATIVE_FUNCTION(Win32Services, getServiceBinary0)(JNIEnv* env, jclass, jstring name) {
    std::wstring binary;
    const jint code = withService(env, SC_MANAGER_CONNECT, name, SERVICE_QUERY_CONFIG, [&](SC_HANDLE service) {
        return withConfig(service, [&](const QUERY_SERVICE_CONFIGW& config) -> jint {
            if (config.lpBinaryPathName) binary = config.lpBinaryPathName;
            return 0;
        });
    });
    if (code != 0) return jni::newString(env, std::wstring(L" ") + std::to_wstring(code));
    return jni::newString(env, std::wstring_view(binary));
}

}  // extern "C"
