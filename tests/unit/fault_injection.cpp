#include "tests/unit/fault_injection.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <algorithm>

namespace faults {

namespace {

// ExitProcess of the flow under test.
struct ProcessEnd {
    UINT code;
};

using InternetAttemptConnectFn = DWORD(WINAPI*)(DWORD);
using InternetOpenWFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using InternetOpenUrlWFn = HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR);
using HttpQueryInfoWFn = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using InternetReadFileFn = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using InternetCloseHandleFn = BOOL(WINAPI*)(HINTERNET);

// The real internet functions the wrappers forward to.
struct Internet {
    InternetAttemptConnectFn attemptConnect = nullptr;
    InternetOpenWFn open = nullptr;
    InternetOpenUrlWFn openUrl = nullptr;
    HttpQueryInfoWFn queryInfo = nullptr;
    InternetReadFileFn readFile = nullptr;
    InternetCloseHandleFn closeHandle = nullptr;
};

// The state of the one injector; the wrappers are plain functions.
struct State {
    Record record;
    std::optional<Fault> fault;
    std::map<std::string, int> counts;
    std::map<const void*, std::wstring> open;  // handle or key -> what it was opened for
    std::map<std::wstring, std::wstring> redirects;
    int answer = IDNO;
    std::function<void()> onMessage;
    Internet internet;
};
State g;

DWORD errorOf(Kind kind) {
    switch (kind) {
        case Kind::diskFull: return ERROR_DISK_FULL;
        case Kind::accessDenied: return ERROR_ACCESS_DENIED;
        case Kind::sharingViolation: return ERROR_SHARING_VIOLATION;
        case Kind::failedClose: return ERROR_WRITE_FAULT;
        case Kind::readFault: return ERROR_READ_FAULT;
        case Kind::networkFailure: return ERROR_INTERNET_CONNECTION_RESET;
        case Kind::shortWrite: break;
    }
    return ERROR_SUCCESS;
}

// Counts the call and returns the fault when it hits this call.
const Fault* hit(const char* function, const std::wstring& subject) {
    const int index = ++g.counts[function];
    g.record.calls.push_back({function, index, subject});
    if (!g.fault || g.fault->function != function) return nullptr;
    const bool due = g.fault->mode == Mode::once ? index == g.fault->index : index >= g.fault->index;
    if (!due) return nullptr;
    g.record.faulted.push_back({function, index, subject});
    return &*g.fault;
}

template <typename T>
T failWith(const Fault& fault, T result) {
    SetLastError(errorOf(fault.kind));
    return result;
}

void opened(const void* handle, const std::wstring& what) { g.open[handle] = what; }
// What the handle was opened for ("" for one the table did not open), and
// it is no longer open.
std::wstring closing(const void* handle) {
    const auto found = g.open.find(handle);
    if (found == g.open.end()) return L"";
    std::wstring what = found->second;
    g.open.erase(found);
    return what;
}
std::wstring handleSubject(const void* handle) {
    const auto found = g.open.find(handle);
    return found == g.open.end() ? L"" : found->second;
}
std::wstring bytes(DWORD count) { return std::to_wstring(count) + L" bytes"; }

// ---- Files

HANDLE WINAPI createFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE model) {
    const std::wstring name = widen(path);
    if (const Fault* fault = hit("CreateFileA", name)) return failWith(*fault, INVALID_HANDLE_VALUE);
    HANDLE file = ::CreateFileA(path, access, share, security, disposition, flags, model);
    if (file != INVALID_HANDLE_VALUE) opened(file, name);
    return file;
}

HANDLE WINAPI createFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE model) {
    if (const Fault* fault = hit("CreateFileW", path)) return failWith(*fault, INVALID_HANDLE_VALUE);
    const auto redirected = g.redirects.find(path);
    const std::wstring name = redirected == g.redirects.end() ? path : redirected->second;
    HANDLE file = ::CreateFileW(name.c_str(), access, share, security, disposition, flags, model);
    if (file != INVALID_HANDLE_VALUE) opened(file, path);
    return file;
}

BOOL WINAPI readFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    if (const Fault* fault = hit("ReadFile", bytes(size))) {
        if (read) *read = 0;
        return failWith(*fault, FALSE);
    }
    return ::ReadFile(file, buffer, size, read, overlapped);
}

BOOL WINAPI writeFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (const Fault* fault = hit("WriteFile", handleSubject(file))) {
        if (fault->kind == Kind::shortWrite) return ::WriteFile(file, data, (size + 1) / 2, written, overlapped);
        if (written) *written = 0;
        return failWith(*fault, FALSE);
    }
    return ::WriteFile(file, data, size, written, overlapped);
}

BOOL WINAPI closeHandle(HANDLE handle) {
    const std::wstring what = closing(handle);
    if (const Fault* fault = hit("CloseHandle", what)) {
        ::CloseHandle(handle);
        return failWith(*fault, FALSE);
    }
    return ::CloseHandle(handle);
}

BOOL WINAPI createDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    if (const Fault* fault = hit("CreateDirectoryA", widen(path))) return failWith(*fault, FALSE);
    return ::CreateDirectoryA(path, security);
}

BOOL WINAPI deleteFileA(LPCSTR path) {
    if (const Fault* fault = hit("DeleteFileA", widen(path))) return failWith(*fault, FALSE);
    return ::DeleteFileA(path);
}

BOOL WINAPI deleteFileW(LPCWSTR path) {
    if (const Fault* fault = hit("DeleteFileW", path)) return failWith(*fault, FALSE);
    return ::DeleteFileW(path);
}

BOOL WINAPI removeDirectoryA(LPCSTR path) {
    if (const Fault* fault = hit("RemoveDirectoryA", widen(path))) return failWith(*fault, FALSE);
    return ::RemoveDirectoryA(path);
}

BOOL WINAPI removeDirectoryW(LPCWSTR path) {
    if (const Fault* fault = hit("RemoveDirectoryW", path)) return failWith(*fault, FALSE);
    return ::RemoveDirectoryW(path);
}

// Recorded, never done: Wine would write the deletion into the prefix.
BOOL WINAPI moveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (const Fault* fault = hit("MoveFileExW", from)) return failWith(*fault, FALSE);
    if (to || flags != MOVEFILE_DELAY_UNTIL_REBOOT) {  // only deletions at reboot are recorded
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g.record.scheduledAtReboot.push_back(from);
    return TRUE;
}

UINT WINAPI getTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR name) {
    if (const Fault* fault = hit("GetTempFileNameA", widen(directory))) return failWith(*fault, 0u);
    return ::GetTempFileNameA(directory, prefix, unique, name);
}

UINT WINAPI getTempFileNameW(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR name) {
    if (const Fault* fault = hit("GetTempFileNameW", directory)) return failWith(*fault, 0u);
    return ::GetTempFileNameW(directory, prefix, unique, name);
}

// ---- Registry

LSTATUS WINAPI regCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition) {
    if (const Fault* fault = hit("RegCreateKeyExW", subKey)) return static_cast<LSTATUS>(errorOf(fault->kind));
    const LSTATUS status =
        ::RegCreateKeyExW(root, subKey, reserved, keyClass, options, access, security, key, disposition);
    if (status == ERROR_SUCCESS) opened(*key, std::wstring(L"key ") + subKey);
    return status;
}

LSTATUS WINAPI regSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (const Fault* fault = hit("RegSetValueExW", name ? name : L""))
        return static_cast<LSTATUS>(errorOf(fault->kind));
    return ::RegSetValueExW(key, name, reserved, type, data, size);
}

LSTATUS WINAPI regCloseKey(HKEY key) {
    const std::wstring what = closing(key);
    if (const Fault* fault = hit("RegCloseKey", what)) {
        ::RegCloseKey(key);
        return static_cast<LSTATUS>(errorOf(fault->kind));
    }
    return ::RegCloseKey(key);
}

// ---- Restart, messages, the end, pauses

// The privilege is granted without touching the process token; "access
// denied" is the account without it, which Windows reports as success with
// ERROR_NOT_ALL_ASSIGNED.
BOOL WINAPI adjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
    SetLastError(hit("AdjustTokenPrivileges", L"") ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI exitWindowsEx(UINT flags, DWORD) {
    if (const Fault* fault = hit("ExitWindowsEx", std::to_wstring(flags))) return failWith(*fault, FALSE);
    ++g.record.restartRequests;
    return TRUE;
}

int WINAPI messageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    g.record.shown.push_back({text ? text : L"", caption ? caption : L"", type});
    if (g.onMessage) g.onMessage();
    return (type & 0xF) == MB_YESNO ? g.answer : IDOK;
}

void WINAPI exitProcess(UINT code) { throw ProcessEnd{code}; }

void WINAPI sleep(DWORD milliseconds) { g.record.pauses.push_back(milliseconds); }

// ---- The internet library

DWORD WINAPI internetAttemptConnect(DWORD reserved) {
    if (const Fault* fault = hit("InternetAttemptConnect", L"")) return errorOf(fault->kind);
    return g.internet.attemptConnect(reserved);
}

HINTERNET WINAPI internetOpenW(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    if (const Fault* fault = hit("InternetOpenW", agent ? agent : L"")) return failWith(*fault, HINTERNET{});
    HINTERNET session = g.internet.open(agent, access, proxy, bypass, flags);
    if (session) opened(session, L"internet session");
    return session;
}

HINTERNET WINAPI internetOpenUrlW(HINTERNET session, LPCWSTR url, LPCWSTR headers, DWORD length, DWORD flags,
                                  DWORD_PTR context) {
    if (const Fault* fault = hit("InternetOpenUrlW", url)) return failWith(*fault, HINTERNET{});
    HINTERNET request = g.internet.openUrl(session, url, headers, length, flags, context);
    if (request) opened(request, std::wstring(L"url ") + url);
    return request;
}

BOOL WINAPI httpQueryInfoW(HINTERNET request, DWORD info, LPVOID buffer, LPDWORD length, LPDWORD index) {
    if (const Fault* fault = hit("HttpQueryInfoW", L"query " + std::to_wstring(info & 0xFFFF)))
        return failWith(*fault, FALSE);
    return g.internet.queryInfo(request, info, buffer, length, index);
}

// Reads until the buffer is full or the body ends, as Windows does on a
// synchronous handle (Wine may hand out what one socket read brought), so
// every run of a download makes the same calls.
BOOL WINAPI internetReadFile(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
    if (const Fault* fault = hit("InternetReadFile", bytes(size))) {
        *read = 0;
        return failWith(*fault, FALSE);
    }
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!g.internet.readFile(request, static_cast<char*>(buffer) + total, size - total, &got)) return FALSE;
        if (got == 0) break;
        total += got;
    }
    *read = total;
    return TRUE;
}

BOOL WINAPI internetCloseHandle(HINTERNET handle) {
    const std::wstring what = closing(handle);
    if (const Fault* fault = hit("InternetCloseHandle", what)) {
        g.internet.closeHandle(handle);
        return failWith(*fault, FALSE);
    }
    return g.internet.closeHandle(handle);
}

template <typename Function>
Function realInternet(const char* name) {
    HMODULE module = LoadLibraryW(L"wininet.dll");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::diskFull: return "full disk";
        case Kind::accessDenied: return "access denied";
        case Kind::sharingViolation: return "sharing violation";
        case Kind::shortWrite: return "short write";
        case Kind::failedClose: return "failed close";
        case Kind::readFault: return "read fault";
        case Kind::networkFailure: return "network failure";
    }
    return "?";
}

const char* modeName(Mode mode) { return mode == Mode::once ? "once" : "from then on"; }

std::string describe(const Fault& fault) {
    return fault.function + " #" + std::to_string(fault.index) + ", " + kindName(fault.kind) + ", " +
           modeName(fault.mode);
}

int Record::count(const std::string& function) const {
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [&](const CallRecord& call) { return call.function == function; }));
}

std::vector<Kind> kindsOf(const std::string& function) {
    if (contains({"CreateFileA", "CreateFileW"}, function))
        return {Kind::accessDenied, Kind::sharingViolation, Kind::diskFull};
    if (contains({"CreateDirectoryA", "GetTempFileNameA", "GetTempFileNameW"}, function))
        return {Kind::accessDenied, Kind::diskFull};
    if (function == "WriteFile") return {Kind::diskFull, Kind::shortWrite};
    if (function == "ReadFile") return {Kind::readFault};
    if (contains({"CloseHandle", "RegCloseKey", "InternetCloseHandle"}, function)) return {Kind::failedClose};
    if (contains({"DeleteFileA", "DeleteFileW", "RemoveDirectoryA", "RemoveDirectoryW", "MoveFileExW"}, function))
        return {Kind::accessDenied, Kind::sharingViolation};
    if (contains({"RegCreateKeyExW", "RegSetValueExW", "AdjustTokenPrivileges", "ExitWindowsEx"}, function))
        return {Kind::accessDenied};
    return {Kind::networkFailure};
}

std::vector<Fault> casesOf(const Record& passing) {
    std::vector<Fault> cases;
    for (const CallRecord& call : passing.calls)
        for (Kind kind : kindsOf(call.function))
            for (Mode mode : {Mode::once, Mode::fromThenOn}) cases.push_back({call.function, call.index, kind, mode});
    return cases;
}

Injector::Injector() {
    g = State{};
    g.internet.attemptConnect = realInternet<InternetAttemptConnectFn>("InternetAttemptConnect");
    g.internet.open = realInternet<InternetOpenWFn>("InternetOpenW");
    g.internet.openUrl = realInternet<InternetOpenUrlWFn>("InternetOpenUrlW");
    g.internet.queryInfo = realInternet<HttpQueryInfoWFn>("HttpQueryInfoW");
    g.internet.readFile = realInternet<InternetReadFileFn>("InternetReadFile");
    g.internet.closeHandle = realInternet<InternetCloseHandleFn>("InternetCloseHandle");
    const auto replace = [this](const char* name, auto wrapper) {
        replaced_.push_back(std::make_unique<system_calls::ReplaceFunction>(name, wrapper));
    };
    replace("CreateFileA", createFileA);
    replace("CreateFileW", createFileW);
    replace("ReadFile", readFile);
    replace("WriteFile", writeFile);
    replace("CloseHandle", closeHandle);
    replace("CreateDirectoryA", createDirectoryA);
    replace("DeleteFileA", deleteFileA);
    replace("DeleteFileW", deleteFileW);
    replace("RemoveDirectoryA", removeDirectoryA);
    replace("RemoveDirectoryW", removeDirectoryW);
    replace("MoveFileExW", moveFileExW);
    replace("GetTempFileNameA", getTempFileNameA);
    replace("GetTempFileNameW", getTempFileNameW);
    replace("RegCreateKeyExW", regCreateKeyExW);
    replace("RegSetValueExW", regSetValueExW);
    replace("RegCloseKey", regCloseKey);
    replace("AdjustTokenPrivileges", adjustTokenPrivileges);
    replace("ExitWindowsEx", exitWindowsEx);
    replace("MessageBoxW", messageBoxW);
    replace("ExitProcess", exitProcess);
    replace("Sleep", sleep);
    replace("InternetAttemptConnect", internetAttemptConnect);
    replace("InternetOpenW", internetOpenW);
    replace("InternetOpenUrlW", internetOpenUrlW);
    replace("HttpQueryInfoW", httpQueryInfoW);
    replace("InternetReadFile", internetReadFile);
    replace("InternetCloseHandle", internetCloseHandle);
}

Injector::~Injector() {
    replaced_.clear();
    g = State{};
}

Record Injector::run(const std::function<void()>& flow, const std::optional<Fault>& fault) {
    g.record = Record{};
    g.counts.clear();
    g.open.clear();
    g.fault = fault;
    try {
        flow();
    } catch (const ProcessEnd& end) {
        g.record.ended = true;
        g.record.exitCode = end.code;
    }
    g.fault.reset();
    for (const auto& [handle, what] : g.open) g.record.leaks.push_back(what);
    g.open.clear();
    return std::move(g.record);
}

void Injector::redirect(const std::wstring& from, const std::wstring& to) { g.redirects[from] = to; }
void Injector::answer(int button) { g.answer = button; }
void Injector::onMessage(std::function<void()> check) { g.onMessage = std::move(check); }

std::string pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return bytes;
}

Expected success() { return {}; }
Expected fatal(const std::wstring& caption, const std::wstring& text) { return {true, caption, text}; }

void expectOutcome(const Record& run, const Expected& expected) {
    EXPECT_FALSE(run.faulted.empty()) << "the fault hit no call";
    EXPECT_EQ(run.ended, expected.ends);
    if (expected.ends) {
        EXPECT_EQ(run.exitCode, 1u);
    }
    if (expected.text.empty()) {
        EXPECT_TRUE(run.shown.empty()) << "shown: " << narrow(run.shown.empty() ? L"" : run.shown[0].text);
    } else {
        EXPECT_EQ(run.shown.size(), 1u);
        if (!run.shown.empty()) {
            EXPECT_EQ(narrow(run.shown[0].text), narrow(expected.text));
            EXPECT_EQ(narrow(run.shown[0].caption), narrow(expected.caption));
        }
    }
    EXPECT_TRUE(run.leaks.empty()) << "left open: " << narrow(run.leaks.empty() ? L"" : run.leaks[0]);
}

SavedLauncher::SavedLauncher() : config_(configStore()), state_(launcherState()) {
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    directory_ = directory;
}

SavedLauncher::~SavedLauncher() {
    SetCurrentDirectoryW(directory_.c_str());
    configStore() = config_;
    launcherState() = state_;
}

// ---- Files for the tests

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> entriesOf(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::wstring, std::string> filesBelow(const std::wstring& directory) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : entriesOf(directory)) {
        const std::wstring path = directory + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            for (const auto& [inner, content] : filesBelow(path)) files[name + L"\\" + inner] = content;
            continue;
        }
        std::string content;
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[65536];
            DWORD got = 0;
            while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
            ::CloseHandle(file);
        }
        files[name] = content;
    }
    return files;
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE) return;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

void removeTree(const std::wstring& path) {
    for (const std::wstring& name : entriesOf(path)) {
        const std::wstring inner = path + L"\\" + name;
        if (GetFileAttributesW(inner.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            removeTree(inner);
        else
            ::DeleteFileW(inner.c_str());
    }
    ::RemoveDirectoryW(path.c_str());
}

ScratchDirectory::ScratchDirectory() {
    static int made = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"tvxfaults" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++made);
    removeTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() { removeTree(path_); }

std::string ScratchDirectory::narrow() const { return faults::narrow(path_); }

}  // namespace faults
