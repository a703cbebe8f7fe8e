// What the tests of the process, window and handle natives share: the peer
// program of tests/tools (started, read and ended), scoped replacements in
// the call table (launcher/system_calls.h), and the capture of standard output, where the
// natives print their diagnostic lines.
#pragma once

#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"

namespace process_tests {

inline std::wstring moduleDirectory() {
    std::vector<wchar_t> path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring text(path.data(), length);
    return text.substr(0, text.find_last_of(L'\\'));
}

inline std::wstring peerPath() { return moduleDirectory() + L"\\process_peer.exe"; }

inline std::wstring tempDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buffer);
    return buffer;
}

// A file name of this test run in the temporary directory.
inline std::wstring tempFile(const std::wstring& stem) {
    static int counter = 0;
    return tempDirectory() + L"tvx-proc-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) +
           L"-" + stem;
}

inline std::string readFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

inline std::string narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

// Whether this Wine session can create windows (it cannot without an X
// display); asked once.
inline bool canCreateWindows() {
    static const bool can = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TovrixUnitProbeWindow";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window) DestroyWindow(window);
        return window != nullptr;
    }();
    return can;
}

#define REQUIRE_WINDOWS()                                                                                \
    if (!process_tests::canCreateWindows())                                                              \
    GTEST_SKIP() << "Wine creates no windows in this session (no X display; tests/unit/with_display.sh " \
                    "gives one)"

// A running process_peer (mode "window"): its id, main window and log.
class Peer {
public:
    // Starts `process_peer window ...` and waits until its windows are up.
    explicit Peer(const std::wstring& title, const std::vector<std::wstring>& flags = {}) {
        info_ = tempFile(L"peer.info");
        log_ = tempFile(L"peer.log");
        std::wstring line = L"\"" + peerPath() + L"\" window \"" + info_ + L"\" \"" + log_ + L"\" \"" + title + L"\"";
        for (const std::wstring& flag : flags) line += L" \"" + flag + L"\"";
        started_ = start(line, process_);
        if (!started_) return;
        for (int i = 0; i < 600 && !ready(); ++i) {
            if (WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) break;
        }
    }
    ~Peer() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 99);
            WaitForSingleObject(process_.get(), 5000);
        }
        DeleteFileW(info_.c_str());
        DeleteFileW(log_.c_str());
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool up() const { return started_ && pid_ != 0; }
    DWORD pid() const { return pid_; }
    HWND window() const { return window_; }
    HWND owned() const { return owned_; }
    HANDLE process() const { return process_.get(); }
    std::string log() const { return readFile(log_); }
    bool logHas(const std::string& line) const {
        std::istringstream lines(log());
        for (std::string l; std::getline(lines, l);)
            if (l == line) return true;
        return false;
    }
    // Waits for the log line up to `ms`.
    bool awaitLog(const std::string& line, int ms = 5000) const {
        for (int waited = 0; waited <= ms; waited += 50) {
            if (logHas(line)) return true;
            Sleep(50);
        }
        return false;
    }
    // Whether the process ended within `ms`, and its exit code.
    bool ended(DWORD ms) const { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    static bool start(std::wstring line, UniqueKernelHandle& process) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
            return false;
        CloseHandle(started.hThread);
        process.reset(started.hProcess);
        return true;
    }

private:
    bool ready() {
        std::istringstream lines(readFile(info_));
        std::map<std::string, long long> values;
        for (std::string l; std::getline(lines, l);) {
            const auto equals = l.find('=');
            if (equals != std::string::npos) values[l.substr(0, equals)] = std::stoll(l.substr(equals + 1));
        }
        if (!values.count("pid")) return false;
        pid_ = static_cast<DWORD>(values["pid"]);
        window_ = reinterpret_cast<HWND>(static_cast<INT_PTR>(values["hwnd"]));
        owned_ = values.count("owned") ? reinterpret_cast<HWND>(static_cast<INT_PTR>(values["owned"])) : nullptr;
        return true;
    }

    std::wstring info_, log_;
    UniqueKernelHandle process_;
    bool started_ = false;
    DWORD pid_ = 0;
    HWND window_ = nullptr, owned_ = nullptr;
};

// The replacements of one test, undone when it ends.
class ScopedCalls {
public:
    ScopedCalls() = default;
    ScopedCalls(const ScopedCalls&) = delete;
    ScopedCalls& operator=(const ScopedCalls&) = delete;
    template <typename Function>
    void replace(const char* name, Function replacement) {
        replaced_.push_back(std::make_unique<system_calls::ReplaceFunction>(name, replacement));
    }

private:
    std::vector<std::unique_ptr<system_calls::ReplaceFunction>> replaced_;
};

// Functions that lookups report missing, and fakes they hand out instead of
// the real functions.
struct LookupOverrides {
    std::vector<std::string> missing;
    std::map<std::string, FARPROC> fakes;
};
inline void overrideLookups(ScopedCalls& scope, const LookupOverrides& overrides) {
    for (const std::string& missing : overrides.missing) scope.replace(missing.c_str(), nullptr);
    for (const auto& [name, fake] : overrides.fakes) scope.replace(name.c_str(), fake);
}
template <typename Function>
FARPROC asProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// Captures what is written to standard output (or, given stderr, standard
// error) while it lives; text() ends the capture.
class OutputCapture {
public:
    explicit OutputCapture(FILE* stream = stdout) : stream_(stream), fd_(_fileno(stream)) {
        path_ = tempFile(L"output.txt");
        std::fflush(stream_);
        saved_ = _dup(fd_);
        file_ = _wfopen(path_.c_str(), L"wb");
        if (file_) _dup2(_fileno(file_), fd_);
    }
    ~OutputCapture() {
        stop();
        DeleteFileW(path_.c_str());
    }
    std::string text() {
        stop();
        return readFile(path_);
    }

private:
    void stop() {
        if (saved_ < 0) return;
        std::fflush(stream_);
        _dup2(saved_, fd_);
        _close(saved_);
        saved_ = -1;
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }
    FILE* stream_;
    int fd_;
    std::wstring path_;
    int saved_ = -1;
    FILE* file_ = nullptr;
};

}  // namespace process_tests
