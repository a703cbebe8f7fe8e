// Natives of the Java classes Win32CommunicationBackend (a block channel over
// a named pipe between two processes, and whether a process still runs) and
// Win32Proxy (the system's proxy settings through WinHTTP).
//
// Pipe handles cross to Java as longs holding the handle sign-extended, so
// the invalid handle arrives as -1; every native that takes a handle does
// nothing for -1.  The block format and its limits are natives/pipe_blocks.h,
// the Windows calls natives/pipe_channel_win.h.  Failure is a return value
// (false, null, -1, 0 or a code), never a Java exception; besides the cases
// the Java side documents, a null array or one too short for its results is
// refused before anything is done (ERROR_INVALID_PARAMETER for the proxy
// queries), where writing into it would crash the VM.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/pipe_channel_win.h"

namespace {

using jni::JavaString;
using jni::LocalRef;
using jni::toJava;

// ---- Handles

constexpr jlong kInvalidHandle = -1;

jlong toJavaHandle(HANDLE handle) { return static_cast<jlong>(reinterpret_cast<std::intptr_t>(handle)); }
HANDLE fromJavaHandle(jlong handle) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle)); }

// ---- Proxies

// The result codes of the proxy queries besides Win32 error codes.
constexpr jint kFunctionsMissing = 100000;
constexpr jlong kStageOpen = 1;
constexpr jlong kStageGetProxy = 2;
const wchar_t kUserAgent[] = L"tovrix proxy detection/1.0";

// The five WinHTTP functions of the proxy natives, looked up in
// "Winhttp.dll" (from the system directory) through the call table, so a
// test can make any of them fail or go missing.  The natives work only when
// all five are found.
struct WinHttpFunctions {
    BOOL(WINAPI* getIEProxyConfigForCurrentUser)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*) = nullptr;
    HINTERNET(WINAPI* open)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) = nullptr;
    BOOL(WINAPI* closeHandle)(HINTERNET) = nullptr;
    BOOL(WINAPI* getProxyForUrl)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*) = nullptr;
    BOOL(WINAPI* getDefaultProxyConfiguration)(WINHTTP_PROXY_INFO*) = nullptr;

    bool complete() const {
        return getIEProxyConfigForCurrentUser && open && closeHandle && getProxyForUrl && getDefaultProxyConfiguration;
    }
};

// The library stays loaded once loaded; the lookups are cheap next to the
// queries they serve.
WinHttpFunctions winHttpFunctions() {
    WinHttpFunctions f;
    const wchar_t* const library = L"Winhttp.dll";
    f.getIEProxyConfigForCurrentUser = system_calls::systemFunction<decltype(f.getIEProxyConfigForCurrentUser)>(
        library, "WinHttpGetIEProxyConfigForCurrentUser");
    f.open = system_calls::systemFunction<decltype(f.open)>(library, "WinHttpOpen");
    f.closeHandle = system_calls::systemFunction<decltype(f.closeHandle)>(library, "WinHttpCloseHandle");
    f.getProxyForUrl = system_calls::systemFunction<decltype(f.getProxyForUrl)>(library, "WinHttpGetProxyForUrl");
    f.getDefaultProxyConfiguration = system_calls::systemFunction<decltype(f.getDefaultProxyConfiguration)>(
        library, "WinHttpGetDefaultProxyConfiguration");
    return f;
}

// The code of a failed WinHTTP call: GetLastError, never 0 (which would read
// as success).
jint failureCode() {
    const DWORD error = GetLastError();
    return static_cast<jint>(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

// Whether `array` is a String[] with room for `entries` results.
bool holdsEntries(JNIEnv* env, jobjectArray array, jsize entries) {
    return array && env->GetArrayLength(array) >= entries;
}

void setEntry(JNIEnv* env, jobjectArray array, jsize index, jstring value) {
    const LocalRef<jstring> entry(env, value);
    if (entry) env->SetObjectArrayElement(array, index, entry.get());
}

// Entry 0 ("true"/"false") and the strings WinHTTP returned from entry 1 on;
// a null or empty string leaves its entry as the caller set it.
void fillResults(JNIEnv* env, jobjectArray array, bool flag, std::initializer_list<const wchar_t*> texts) {
    setEntry(env, array, 0, jni::newStringUtf(env, flag ? "true" : "false"));
    jsize index = 1;
    for (const wchar_t* text : texts) {
        if (text && *text) setEntry(env, array, index, jni::newString(env, text));
        ++index;
    }
}

// The strings of a proxy record, freed with GlobalFree on every path.
struct ProxyInfoStrings {
    explicit ProxyInfoStrings(const WINHTTP_PROXY_INFO& info) : proxy(info.lpszProxy), bypass(info.lpszProxyBypass) {}
    UniqueGlobal proxy;
    UniqueGlobal bypass;
};

// A WinHTTP session handle, closed with the table's WinHttpCloseHandle.
class Session {
public:
    Session(const WinHttpFunctions& f, HINTERNET handle) : f_(f), handle_(handle) {}
    ~Session() {
        if (handle_) f_.closeHandle(handle_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    HINTERNET get() const { return handle_; }

private:
    const WinHttpFunctions& f_;
    HINTERNET handle_;
};

jlong autoProxyResult(jlong stage, jint code) {
    return stage << 32 | static_cast<jlong>(static_cast<std::uint32_t>(code));
}

}  // namespace

extern "C" {

// ---- Win32CommunicationBackend

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, getInvalidHandle0)(JNIEnv*, jclass) { return kInvalidHandle; }

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, createListener0)(JNIEnv* env, jclass, jstring name) {
    const JavaString pipeName(env, name);
    return toJavaHandle(pipe_channel::createListener(pipeName.get()));
}

jbyteArray JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, readDataBlock0)(JNIEnv* env, jclass, jlong handle) {
    if (handle == kInvalidHandle) return nullptr;
    const std::optional<std::vector<unsigned char>> payload = pipe_channel::readBlock(fromJavaHandle(handle));
    return payload ? jni::newByteArray(env, payload->data(), payload->size()) : nullptr;
}

// A null array is refused (nothing is written).
jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, writeDataBlock0)(JNIEnv* env, jclass, jlong handle,
                                                                             jbyteArray data) {
    if (handle == kInvalidHandle) return JNI_FALSE;
    const std::optional<std::vector<unsigned char>> payload = jni::readByteArray(env, data);
    if (!payload) return JNI_FALSE;
    return toJava(pipe_channel::writeBlock(fromJavaHandle(handle), payload->data(), payload->size()));
}

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, connectClient0)(JNIEnv* env, jclass, jstring name) {
    const JavaString pipeName(env, name);
    return toJavaHandle(pipe_channel::openClient(pipeName.get()));
}

jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, connectNamedPipe0)(JNIEnv*, jclass, jlong handle) {
    if (handle == kInvalidHandle) return JNI_FALSE;
    return toJava(pipe_channel::connectServer(fromJavaHandle(handle)));
}

void JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, disconnectNamedPipe0)(JNIEnv*, jclass, jlong handle) {
    if (handle != kInvalidHandle) DisconnectNamedPipe(fromJavaHandle(handle));
}

void JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, closeHandle0)(JNIEnv*, jclass, jlong handle) {
    if (handle != kInvalidHandle) CloseHandle(fromJavaHandle(handle));
}

jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, isProcessAlive0)(JNIEnv*, jclass, jint processId) {
    return toJava(pipe_channel::isProcessAlive(static_cast<DWORD>(processId)));
}

jint JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, getCurrentProcessId0)(JNIEnv*, jclass) {
    return static_cast<jint>(GetCurrentProcessId());
}

// ---- Win32Proxy

// result: [0] "true" when automatic detection is on, [1] the configuration
// script URL, [2] the proxy list, [3] the bypass list.
jint JNICALL NATIVE_FUNCTION(Win32Proxy, getIEConfig0)(JNIEnv* env, jclass, jobjectArray result) {
    const WinHttpFunctions f = winHttpFunctions();
    if (!f.complete()) return kFunctionsMissing;
    if (!holdsEntries(env, result, 4)) return ERROR_INVALID_PARAMETER;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!f.getIEProxyConfigForCurrentUser(&config)) return failureCode();
    const UniqueGlobal scriptUrl(config.lpszAutoConfigUrl), proxy(config.lpszProxy), bypass(config.lpszProxyBypass);
    fillResults(env, result, config.fAutoDetect != FALSE,
                {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass});
    return 0;
}

// result: [0] "true" for a named proxy, [1] the proxy list, [2] the bypass list.
jint JNICALL NATIVE_FUNCTION(Win32Proxy, getDefaultConfig0)(JNIEnv* env, jclass, jobjectArray result) {
    const WinHttpFunctions f = winHttpFunctions();
    if (!f.complete()) return kFunctionsMissing;
    if (!holdsEntries(env, result, 3)) return ERROR_INVALID_PARAMETER;
    WINHTTP_PROXY_INFO info{};
    if (!f.getDefaultProxyConfiguration(&info)) return failureCode();
    const ProxyInfoStrings strings(info);
    fillResults(env, result, info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                {info.lpszProxy, info.lpszProxyBypass});
    return 0;
}

// The proxy for `url` by automatic discovery and/or the configuration script
// at `scriptUrl`; the high 32 bits of the result name the stage that failed
// (1 WinHttpOpen, 2 WinHttpGetProxyForUrl), the low 32 bits its error code.
// A null URL does nothing and gives 0.
jlong JNICALL NATIVE_FUNCTION(Win32Proxy, getAutoProxyConfig0)(JNIEnv* env, jclass, jobjectArray result, jstring url,
                                                               jstring scriptUrl, jint autoProxyFlags,
                                                               jint autoDetectFlags, jboolean autoLogon) {
    const WinHttpFunctions f = winHttpFunctions();
    if (!f.complete()) return kFunctionsMissing;
    const JavaString target(env, url);
    const JavaString script(env, scriptUrl);
    if (target.isNull()) return 0;
    if (!holdsEntries(env, result, 3)) return ERROR_INVALID_PARAMETER;

    const Session session(
        f, f.open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.get()) return autoProxyResult(kStageOpen, failureCode());

    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = static_cast<DWORD>(autoProxyFlags);
    options.dwAutoDetectFlags = static_cast<DWORD>(autoDetectFlags);
    options.lpszAutoConfigUrl = script.get();
    options.lpvReserved = nullptr;
    options.dwReserved = 0;
    options.fAutoLogonIfChallenged = autoLogon ? TRUE : FALSE;
    WINHTTP_PROXY_INFO info{};
    if (!f.getProxyForUrl(session.get(), target.get(), &options, &info))
        return autoProxyResult(kStageGetProxy, failureCode());
    const ProxyInfoStrings strings(info);
    fillResults(env, result, info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                {info.lpszProxy, info.lpszProxyBypass});
    return 0;
}

jboolean JNICALL NATIVE_FUNCTION(Win32Proxy, loadFunctions0)(JNIEnv*, jclass) {
    return toJava(winHttpFunctions().complete());
}

}  // extern "C"
