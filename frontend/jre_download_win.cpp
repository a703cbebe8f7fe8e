// The download of a Java runtime archive through the internet library
// ("wininet.dll", loaded at run time after the DLL search was restricted),
// with the progress dialog's status line and bar when there is a window.  The
// attempts, length queries and transfer are frontend/jre_download.cpp; this
// file supplies the system calls they make.
#include <windows.h>

#include <wininet.h>

#include <atomic>
#include <optional>

#include "frontend/jre_dialogs.h"
#include "frontend/jre_download.h"
#include "frontend/progress_dialog.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "resources/resource_ids.h"

namespace {

const wchar_t kInternetLibrary[] = L"wininet.dll";
const wchar_t kUserAgent[] = L"tovrix download agent";
const char kDownloadTarget[] = "jre.tar.gz";

// Set by `stopDownload` on the thread that ends the start; the download's
// own thread (the flow's worker) reads them.  Both sides write their own flag
// before they read the other's, so either the download sees the stop or the
// stopping thread sees the download and waits for it.
std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_downloading{false};
constexpr int kStopWaitMilliseconds = 3000;
constexpr int kStopPollMilliseconds = 20;

// A stopped download's thread has nothing left to do: the process is being
// ended by the thread that stopped it.
[[noreturn]] void waitForTheEnd() {
    for (;;) Sleep(INFINITE);
}

using InternetOpenUrlFunction = HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR);
using InternetOpenFunction = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using HttpQueryInfoFunction = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using InternetAttemptConnectFunction = DWORD(WINAPI*)(DWORD);
using InternetCloseHandleFunction = BOOL(WINAPI*)(HINTERNET);
using InternetReadFileFunction = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);

struct InternetLibrary {
    InternetOpenUrlFunction openUrl;
    InternetOpenFunction open;
    HttpQueryInfoFunction queryInfo;
    InternetAttemptConnectFunction attemptConnect;
    InternetCloseHandleFunction closeHandle;
    InternetReadFileFunction readFile;
};

// An internet handle, closed through the library's InternetCloseHandle.
class InternetHandle {
public:
    explicit InternetHandle(const InternetLibrary& library) : library_(library) {}
    ~InternetHandle() { reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    void reset(HINTERNET handle = nullptr) {
        if (handle_) library_.closeHandle(handle_);
        handle_ = handle;
    }
    HINTERNET get() const { return handle_; }
    bool valid() const { return handle_ != nullptr; }

private:
    const InternetLibrary& library_;
    HINTERNET handle_ = nullptr;
};

// The library is loaded on first use and stays loaded; its functions are
// looked up through the call table for each download.
std::optional<InternetLibrary> loadInternetLibrary() {
    if (!system_calls::systemModule(kInternetLibrary)) {
        logError(L"Could not load wininet.dll");
        return std::nullopt;
    }
    InternetLibrary library{
        system_calls::systemFunction<InternetOpenUrlFunction>(kInternetLibrary, "InternetOpenUrlW"),
        system_calls::systemFunction<InternetOpenFunction>(kInternetLibrary, "InternetOpenW"),
        system_calls::systemFunction<HttpQueryInfoFunction>(kInternetLibrary, "HttpQueryInfoW"),
        system_calls::systemFunction<InternetAttemptConnectFunction>(kInternetLibrary, "InternetAttemptConnect"),
        system_calls::systemFunction<InternetCloseHandleFunction>(kInternetLibrary, "InternetCloseHandle"),
        system_calls::systemFunction<InternetReadFileFunction>(kInternetLibrary, "InternetReadFile"),
    };
    if (!library.openUrl || !library.open || !library.queryInfo || !library.attemptConnect || !library.closeHandle ||
        !library.readFile) {
        logError(L"Could not load wininet functions");
        return std::nullopt;
    }
    return library;
}

// One download through the internet library into a file of the current
// directory.  Each failing call keeps its error code for the log.
class InternetDownload final : public DownloadServices {
public:
    InternetDownload(const InternetLibrary& internet, HWND window, wstring location)
        : internet_(internet), window_(window), location_(std::move(location)), session_(internet), url_(internet) {}

    unsigned long attemptConnect() override { return internet_.attemptConnect(0); }
    bool openSession() override {
        session_.reset(internet_.open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        return succeeded(session_.valid());
    }
    bool openUrl() override {
        url_.reset(internet_.openUrl(session_.get(), location_.c_str(), nullptr, 0,
                                     INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PASSIVE, 0));
        return succeeded(url_.valid());
    }
    void closeUrl() override { url_.reset(); }
    void closeSession() override { session_.reset(); }
    bool queryLength(std::uint32_t& length) override { return queryNumber(HTTP_QUERY_CONTENT_LENGTH, length); }
    bool queryStatus(std::uint32_t& status) override { return queryNumber(HTTP_QUERY_STATUS_CODE, status); }
    bool read(unsigned char* buffer, std::uint32_t capacity, std::uint32_t& received) override {
        DWORD got = 0;
        const bool read = internet_.readFile(url_.get(), buffer, capacity, &got) != FALSE;
        received = read ? got : 0;
        return succeeded(read);
    }
    const void* urlHandle() const override { return url_.get(); }

    bool createTarget(const std::string& name) override {
        target_.reset(system_calls::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return succeeded(target_.valid());
    }
    bool writeTarget(const unsigned char* data, std::uint32_t size) override {
        DWORD written = 0;
        if (!system_calls::WriteFile(target_.get(), data, size, &written, nullptr)) return succeeded(false);
        if (written == size) return true;
        error_ = ERROR_WRITE_FAULT;
        return false;
    }
    bool closeTarget() override {
        if (!target_) return true;
        return succeeded(system_calls::CloseHandle(target_.release()) != FALSE);
    }
    void deleteTarget(const std::string& name) override {
        if (!system_calls::DeleteFileA(name.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            logError(L"could not delete %S (error %d)", name.c_str(), static_cast<int>(GetLastError()));
    }
    unsigned long lastError() const override { return error_; }

    std::uint32_t tickCount() override { return GetTickCount(); }
    void sleep(std::uint32_t milliseconds) override { system_calls::Sleep(milliseconds); }

    bool hasWindow() const override { return window_ != nullptr; }
    void showStatus(const wstring& text) override { SetDlgItemTextW(window_, IDC_STATUS_LINE, text.c_str()); }
    void setBar(int position) override { setProgressPosition(window_, position); }
    bool stopRequested() const override { return g_stopRequested.load(); }

private:
    bool succeeded(bool done) {
        if (!done) error_ = GetLastError();
        return done;
    }
    // A response header as a 32-bit number (the buffer holds exactly 4 bytes).
    bool queryNumber(DWORD header, std::uint32_t& value) {
        DWORD number = 0, size = sizeof number;
        const bool known =
            internet_.queryInfo(url_.get(), header | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr) != FALSE;
        if (known) value = number;
        return succeeded(known);
    }

    const InternetLibrary& internet_;
    HWND window_;
    wstring location_;
    // The URL is declared last: it is closed before its session.
    InternetHandle session_;
    InternetHandle url_;
    UniqueFile target_;
    unsigned long error_ = 0;
};

void showStatusLine(HWND window, bool shown) {
    if (window) ShowWindow(GetDlgItem(window, IDC_STATUS_LINE), shown ? SW_SHOW : SW_HIDE);
}

}  // namespace

void downloadJre(HWND progressWindow, const wstring& location) {
    if (progressWindow) {
        SetDlgItemTextW(progressWindow, IDC_MESSAGE_TEXT, getMessageText(message::kDownloading).c_str());
        SetDlgItemTextW(progressWindow, IDCANCEL, getMessageText(message::kCancelButton).c_str());
        showStatusLine(progressWindow, true);
    }
    const std::optional<InternetLibrary> internet = loadInternetLibrary();
    if (!internet) fatalMessage(message::kNoInternetLibrary);
    InternetDownload services(*internet, progressWindow, location);
    const DownloadTexts texts{getMessageText(message::kConnecting), getMessageText(message::kDownloadProgress)};
    g_downloading = true;
    if (g_stopRequested) {
        g_downloading = false;
        waitForTheEnd();
    }
    const bool downloaded = downloadWithRetries(services, texts, kDownloadTarget);
    g_downloading = false;
    // Stopped: the target and every handle are closed, and the stopping
    // thread removes the extraction directory; no failure message.
    if (g_stopRequested) waitForTheEnd();
    if (!downloaded) fatalMessage(message::kDownloadFailed);
    showStatusLine(progressWindow, false);
}

void stopDownload() {
    g_stopRequested = true;
    for (int waited = 0; g_downloading && waited < kStopWaitMilliseconds; waited += kStopPollMilliseconds)
        Sleep(kStopPollMilliseconds);
    if (g_downloading) logError(L"the download did not stop within %d ms", kStopWaitMilliseconds);
}
