// The five WinHTTP functions the proxy natives use, looked up in
// "Winhttp.dll" (from the system directory) once per process and kept.  The
// natives work only when all five were found; tests put a table of their own
// in place to make any of the calls fail.
#pragma once

#include <windows.h>
#include <winhttp.h>

namespace winhttp {

struct Functions {
    BOOL(WINAPI* getIEProxyConfigForCurrentUser)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*) = nullptr;
    HINTERNET(WINAPI* open)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) = nullptr;
    BOOL(WINAPI* closeHandle)(HINTERNET) = nullptr;
    BOOL(WINAPI* getProxyForUrl)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*) = nullptr;
    BOOL(WINAPI* getDefaultProxyConfiguration)(WINHTTP_PROXY_INFO*) = nullptr;

    bool complete() const {
        return getIEProxyConfigForCurrentUser && open && closeHandle && getProxyForUrl && getDefaultProxyConfiguration;
    }
};

// The table in use: the one looked up on the first call, unless a test has
// put its own in place.
const Functions& functions();
// Puts `replacement` in place of the looked-up table (null restores it).  For
// tests only; the table must outlive its use.
void replaceFunctionsForTesting(const Functions* replacement);

}  // namespace winhttp
