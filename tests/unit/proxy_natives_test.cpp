// The natives of Win32Proxy through the JNI test double under Wine: the
// current user's browser settings and the machine default read through
// Wine's real WinHTTP from values this test writes (and restores), and every
// failure value, with WinHTTP calls made to fail or go missing through the
// call table (launcher/system_calls.h).  Automatic discovery with a real configuration script is
// covered end to end (tests/e2e/test_proxy_natives.py), where a local HTTP
// server serves it.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"

#define PROXY_NATIVE(name) NATIVE_FUNCTION(Win32Proxy, name)

namespace {

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// A registry value saved when the test begins and put back at its end.
class SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* name) : root_(root), name_(name) {
        UniqueRegKey key;
        if (RegOpenKeyExW(root_, kConnections, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key.get(), name_, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
        std::vector<BYTE> data(size);
        if (RegQueryValueExW(key.get(), name_, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            saved_ = std::make_pair(type, data);
    }
    ~SavedValue() {
        UniqueRegKey key;
        if (RegCreateKeyExW(root_, kConnections, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
            ERROR_SUCCESS)
            return;
        if (saved_)
            RegSetValueExW(key.get(), name_, 0, saved_->first, saved_->second.data(),
                           static_cast<DWORD>(saved_->second.size()));
        else
            RegDeleteValueW(key.get(), name_);
    }
    void write(const std::vector<BYTE>& data) {
        UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExW(root_, kConnections, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), name_, 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

private:
    HKEY root_;
    const wchar_t* name_;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> saved_;
};

void appendDword(std::vector<BYTE>& out, DWORD value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}
void appendText(std::vector<BYTE>& out, const std::string& text) {
    appendDword(out, static_cast<DWORD>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// The browser's connection settings: magic 0x46, a counter, the flags (2 a
// proxy, 4 a configuration script, 8 automatic detection), then the proxy
// list, the bypass list and the script URL, each with its length.
std::vector<BYTE> browserSettings(DWORD flags, const std::string& proxy, const std::string& bypass,
                                  const std::string& script) {
    std::vector<BYTE> out;
    appendDword(out, 0x46);
    appendDword(out, 0);
    appendDword(out, flags);
    appendText(out, proxy);
    appendText(out, bypass);
    appendText(out, script);
    return out;
}

// WinHTTP's own default: magic 0x18, 0, flags (2 a named proxy), the proxy
// list and the bypass list.
std::vector<BYTE> winHttpSettings(const std::string& proxy, const std::string& bypass) {
    std::vector<BYTE> out;
    appendDword(out, 0x18);
    appendDword(out, 0);
    appendDword(out, 2);
    appendText(out, proxy);
    appendText(out, bypass);
    return out;
}

// Replacements of real WinHTTP functions; the test sets what they fail with.
DWORD g_failWith = 0;
BOOL WINAPI failingIEConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*) {
    SetLastError(g_failWith);
    return FALSE;
}
BOOL WINAPI failingDefault(WINHTTP_PROXY_INFO*) {
    SetLastError(g_failWith);
    return FALSE;
}
HINTERNET WINAPI failingOpen(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(g_failWith);
    return nullptr;
}

class ProxyNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
    }

    JNIEnv* env() { return e_.env(); }
    jobjectArray results(std::size_t count) {
        std::vector<std::wstring> entries;
        for (std::size_t i = 0; i < count; ++i) entries.push_back(L"keep" + std::to_wstring(i));
        return e_.newStringArray(entries);
    }
    std::vector<std::wstring> values(jobjectArray array) { return e_.stringArrayValue(array); }

    jni_double::Environment e_;
};

TEST_F(ProxyNatives, WinHttpIsThereInWine) { EXPECT_TRUE(PROXY_NATIVE(loadFunctions0)(env(), nullptr)); }

TEST_F(ProxyNatives, BrowserSettingsOfTheCurrentUserFillAllFourEntries) {
    SavedValue saved(HKEY_CURRENT_USER, L"DefaultConnectionSettings");
    saved.write(browserSettings(2 | 4 | 8, "proxy.example:3128", "<local>;*.example", "http://127.0.0.1:9/p.pac"));
    jobjectArray all = results(4);
    EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, all), 0);
    EXPECT_EQ(values(all), (std::vector<std::wstring>{L"true", L"http://127.0.0.1:9/p.pac", L"proxy.example:3128",
                                                      L"<local>;*.example"}));

    // Direct access without detection: only entry 0 is set.
    saved.write(browserSettings(1, "", "", ""));
    jobjectArray direct = results(4);
    EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, direct), 0);
    EXPECT_EQ(values(direct), (std::vector<std::wstring>{L"false", L"keep1", L"keep2", L"keep3"}));
    // "true"/"false" are the only strings made from modified UTF-8.
    EXPECT_EQ(e_.events("unexpected").size(), 0u);
}

TEST_F(ProxyNatives, MachineDefaultNamesItsProxy) {
    SavedValue saved(HKEY_LOCAL_MACHINE, L"WinHttpSettings");
    saved.write(winHttpSettings("machine.example:8080", "*.local"));
    jobjectArray named = results(3);
    EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, named), 0);
    EXPECT_EQ(values(named), (std::vector<std::wstring>{L"true", L"machine.example:8080", L"*.local"}));
}

// What the Java side gets when a query cannot be made or fails: 100000 for
// missing functions, the error code of the failed call, 87 for a result
// array too short to fill (or null), and for the automatic query the stage
// in the high 32 bits.
TEST_F(ProxyNatives, FailureValuesOfEveryQuery) {
    const jlong stageOpen = jlong{1} << 32, stageGetProxy = jlong{2} << 32;
    {
        const system_calls::HideModule missing(L"Winhttp.dll");
        EXPECT_FALSE(PROXY_NATIVE(loadFunctions0)(env(), nullptr));
        EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, results(4)), 100000);
        EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, results(3)), 100000);
        EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, results(3), e_.newString(L"http://x.example/"),
                                                    nullptr, 2, 0, JNI_FALSE),
                  100000);
    }
    {
        const system_calls::ReplaceFunction missing("WinHttpGetProxyForUrl", nullptr);
        EXPECT_FALSE(PROXY_NATIVE(loadFunctions0)(env(), nullptr));
        EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, results(3)), 100000);
    }

    jobjectArray untouched = results(4);
    {
        const system_calls::ReplaceFunction ieConfig("WinHttpGetIEProxyConfigForCurrentUser", failingIEConfig);
        const system_calls::ReplaceFunction defaultConfig("WinHttpGetDefaultProxyConfiguration", failingDefault);
        const system_calls::ReplaceFunction open("WinHttpOpen", failingOpen);
        g_failWith = ERROR_ACCESS_DENIED;
        EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, untouched), ERROR_ACCESS_DENIED);
        EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, untouched), ERROR_ACCESS_DENIED);
        EXPECT_EQ(values(untouched), (std::vector<std::wstring>{L"keep0", L"keep1", L"keep2", L"keep3"}));
        g_failWith = 12029;  // ERROR_WINHTTP_CANNOT_CONNECT
        EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, untouched, e_.newString(L"http://x.example/"),
                                                    nullptr, 2, 0, JNI_FALSE),
                  stageOpen | 12029);
        // A failure that leaves no error code still reads as a failure.
        g_failWith = 0;
        EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, untouched), ERROR_GEN_FAILURE);
    }

    // Wine's WinHttpGetProxyForUrl refuses options without a discovery method.
    EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, untouched, e_.newString(L"http://x.example/"), nullptr,
                                                0, 0, JNI_FALSE),
              stageGetProxy | ERROR_INVALID_PARAMETER);
    EXPECT_EQ(values(untouched), (std::vector<std::wstring>{L"keep0", L"keep1", L"keep2", L"keep3"}));

    // Result arrays that cannot take the results are refused before any query.
    const jstring url = e_.newString(L"http://x.example/");
    EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PROXY_NATIVE(getIEConfig0)(env(), nullptr, results(3)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PROXY_NATIVE(getDefaultConfig0)(env(), nullptr, results(2)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, nullptr, url, nullptr, 2, 0, JNI_FALSE),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, results(2), url, nullptr, 2, 0, JNI_FALSE),
              ERROR_INVALID_PARAMETER);
}

TEST_F(ProxyNatives, AutomaticQueryWithoutUrlDoesNothing) {
    jobjectArray untouched = results(3);
    EXPECT_EQ(PROXY_NATIVE(getAutoProxyConfig0)(env(), nullptr, untouched, nullptr,
                                                e_.newString(L"http://127.0.0.1:9/p.pac"), 2, 0, JNI_TRUE),
              0);
    EXPECT_EQ(values(untouched), (std::vector<std::wstring>{L"keep0", L"keep1", L"keep2"}));
}

}  // namespace
