// Natives of the Java classes Misc (processes, memory, disk, environment and
// restart) and Win32Exec: the process side of the family.  The window side of
// Misc is windows_natives_win.cpp, Win32Handle handles_natives_win.cpp.
//
// Each native converts its arguments, calls Windows and converts the result;
// the decisions that need no Windows (entry texts, environment entries, the
// close-and-wait result codes) are natives/process_rules.h.  Failure is the
// native's failure value, never a Java exception.  Optional functions are
// looked up at run time through the call table (launcher/system_calls.h),
// which tests replace; the restart request goes through it too.
#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/privilege.h"
#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/process_rules.h"

namespace {

using jni::JavaString;
using processes::kEntryBufferChars;

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using Process32Fn = BOOL(WINAPI*)(HANDLE, tagPROCESSENTRY32*);
using Module32FirstWFn = BOOL(WINAPI*)(HANDLE, MODULEENTRY32W*);
using GlobalMemoryStatusExFn = BOOL(WINAPI*)(MEMORYSTATUSEX*);
using MoveFileExWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);

// EnumProcesses fills at most this many bytes of process ids.
constexpr DWORD kProcessIdBufferBytes = 32784;

std::u16string_view utf16(const std::wstring& text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

std::wstring fromUtf16(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// ---- getRunningModules0

struct ImageFunctions {
    GetModuleFileNameExWFn moduleFileName = nullptr;
    QueryFullProcessImageNameWFn imageName = nullptr;
};

// The main module's path of a process written to `out` (`capacity`
// characters with the NUL); its length, or none when the call failed or may
// have cut the path (an answer that fills the buffer).
std::optional<std::size_t> mainModulePath(GetModuleFileNameExWFn moduleFileName, HANDLE process, wchar_t* out,
                                          DWORD capacity) {
    const DWORD length = moduleFileName(process, nullptr, out, capacity);
    if (length == 0 || length + 1 >= capacity) return std::nullopt;
    return length;
}

// "<pid> <image path>" of one process, or none when it cannot be opened or
// its path does not fit the entry buffer behind the id.
std::optional<std::wstring> processEntry(const ImageFunctions& functions, DWORD pid) {
    const DWORD access = functions.imageName ? PROCESS_QUERY_INFORMATION : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    const UniqueKernelHandle process(OpenProcess(access, FALSE, pid));
    if (!process) return std::nullopt;
    const std::wstring prefix = fromUtf16(processes::entryPrefix(pid));
    const DWORD capacity = static_cast<DWORD>(kEntryBufferChars - prefix.size());
    std::vector<wchar_t> path(capacity, L'\0');
    std::size_t length = 0;
    if (functions.imageName) {
        DWORD size = capacity;
        if (!functions.imageName(process.get(), 0, path.data(), &size) || size >= capacity) return std::nullopt;
        length = size;
    } else {
        const auto found = mainModulePath(functions.moduleFileName, process.get(), path.data(), capacity);
        if (!found) return std::nullopt;
        length = *found;
    }
    std::wstring entry = prefix + std::wstring(path.data(), length);
    // The image name of a process started from a temporary file may differ
    // from the module it runs; the main module's file name is asked too and
    // replaces the first answer when it comes.
    if (functions.imageName && functions.moduleFileName && processes::namesTemporaryImage(utf16(entry))) {
        const UniqueKernelHandle reading(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        if (reading) {
            std::vector<wchar_t> second(capacity, L'\0');
            const auto found = mainModulePath(functions.moduleFileName, reading.get(), second.data(), capacity);
            if (found) entry = prefix + std::wstring(second.data(), *found);
        }
    }
    return entry;
}

// The entries through the process-status functions; empty when they are
// missing or find nothing.
std::vector<std::wstring> entriesFromProcessStatus() {
    std::vector<std::wstring> entries;
    const UniqueModule psapi = UniqueModule(system_calls::loadSystemLibrary(L"Psapi.DLL"));
    const UniqueModule kernel = UniqueModule(system_calls::loadSystemLibrary(L"Kernel32.DLL"));
    const auto enumProcesses = system_calls::function<EnumProcessesFn>(psapi.get(), "EnumProcesses");
    ImageFunctions functions;
    functions.moduleFileName = system_calls::function<GetModuleFileNameExWFn>(psapi.get(), "GetModuleFileNameExW");
    functions.imageName =
        system_calls::function<QueryFullProcessImageNameWFn>(kernel.get(), "QueryFullProcessImageNameW");
    if (!enumProcesses || (!functions.moduleFileName && !functions.imageName)) return entries;
    std::vector<DWORD> ids(kProcessIdBufferBytes / sizeof(DWORD));
    DWORD filled = 0;
    if (!enumProcesses(ids.data(), kProcessIdBufferBytes, &filled)) return entries;
    const std::size_t count = (filled < kProcessIdBufferBytes ? filled : kProcessIdBufferBytes) / sizeof(DWORD);
    for (std::size_t i = 0; i < count; ++i) {
        if (ids[i] == 0) continue;
        if (auto entry = processEntry(functions, ids[i])) entries.push_back(std::move(*entry));
    }
    return entries;
}

// The entries through a tool-help snapshot: each process's first module.
std::vector<std::wstring> entriesFromToolHelp() {
    std::vector<std::wstring> entries;
    const UniqueModule kernel = UniqueModule(system_calls::loadSystemLibrary(L"Kernel32.DLL"));
    const auto createSnapshot =
        system_calls::function<CreateToolhelp32SnapshotFn>(kernel.get(), "CreateToolhelp32Snapshot");
    const auto processFirst = system_calls::function<Process32Fn>(kernel.get(), "Process32First");
    const auto processNext = system_calls::function<Process32Fn>(kernel.get(), "Process32Next");
    const auto moduleFirst = system_calls::function<Module32FirstWFn>(kernel.get(), "Module32FirstW");
    if (!createSnapshot || !processFirst || !processNext) {
        const DWORD error = GetLastError();
        printDiagnostic("could not load functions %p %p %p %p %p %d\n", reinterpret_cast<void*>(createSnapshot),
                        reinterpret_cast<void*>(processFirst), reinterpret_cast<void*>(processNext),
                        reinterpret_cast<void*>(moduleFirst), static_cast<void*>(kernel.get()),
                        static_cast<int>(error));
        return entries;
    }
    const UniqueSnapshot snapshot(createSnapshot(TH32CS_SNAPALL, 0));
    if (!snapshot) return entries;
    tagPROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    for (BOOL more = processFirst(snapshot.get(), &process); more; more = processNext(snapshot.get(), &process)) {
        if (process.th32ProcessID == 0 || !moduleFirst) continue;
        const UniqueSnapshot modules(createSnapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
        if (!modules) continue;
        MODULEENTRY32W module = {};
        module.dwSize = sizeof module;
        if (!moduleFirst(modules.get(), &module)) continue;
        const std::size_t length = wcsnlen(module.szExePath, MAX_PATH);
        entries.push_back(fromUtf16(processes::entryPrefix(process.th32ProcessID)) +
                          std::wstring(module.szExePath, length));
    }
    return entries;
}

// ---- terminateProcesses0

// Posts a close request to every visible top-level window of a listed process.
BOOL CALLBACK requestClose(HWND window, LPARAM context) {
    auto* requests = reinterpret_cast<processes::CloseRequests*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (requests->takeWindow(pid) && !PostMessageW(window, WM_CLOSE, 0, 0)) requests->postFailed();
    return TRUE;
}

int terminateForcibly(const std::vector<std::uint32_t>& pids) {
    int result = processes::kTerminated;
    for (std::uint32_t pid : pids) {
        const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        if (!process || !TerminateProcess(process.get(), 0)) result = processes::kNotTerminated;
    }
    return result;
}

int closeAndWait(std::vector<std::uint32_t> pids, DWORD timeout) {
    processes::CloseRequests requests(std::move(pids));
    EnumWindows(requestClose, reinterpret_cast<LPARAM>(&requests));
    if (requests.result() != processes::kTerminated) return requests.result();
    std::vector<UniqueKernelHandle> opened;
    std::vector<HANDLE> handles;
    for (std::uint32_t pid : requests.pids()) {
        UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (!process) return processes::kWaitFailed;
        handles.push_back(process.get());
        opened.push_back(std::move(process));
    }
    // More handles than the wait accepts (64) make it fail: result 2.
    const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, timeout);
    return processes::waitResultCode(waited, WAIT_TIMEOUT);
}

// ---- Environment block

struct EnvironmentBlockFree {
    void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
};

// Far more than any environment block holds; a block is never read past it.
constexpr std::size_t kEnvironmentLimitChars = std::size_t{1} << 26;

}  // namespace

extern "C" {

// Enables the shutdown privilege and, when that worked, asks Windows to
// restart.  Nothing is reported back.
void JNICALL NATIVE_FUNCTION(Misc, reboot0)(JNIEnv*, jclass) {
    if (setPrivilege(SE_SHUTDOWN_NAME, true)) system_calls::ExitWindowsEx(EWX_REBOOT, 0);
}

// "<pid> <image path>" of every process that can be opened, through the
// process-status functions or, when they find nothing, a tool-help snapshot;
// null when there is none.  The flag disables the debug privilege first
// (false enables it), so with true only processes open to the account are
// listed.
jobjectArray JNICALL NATIVE_FUNCTION(Misc, getRunningModules0)(JNIEnv* env, jclass, jboolean withoutDebugPrivilege) {
    setPrivilege(SE_DEBUG_NAME, !withoutDebugPrivilege);
    std::vector<std::wstring> entries = entriesFromProcessStatus();
    if (entries.empty()) entries = entriesFromToolHelp();
    if (entries.empty()) return nullptr;
    return jni::newStringArray(env, entries, jni::MissingElement::leaveOut);
}

// The process's environment block, entry by entry; null when Windows gives
// no block.
jobjectArray JNICALL NATIVE_FUNCTION(Misc, getEnvVarPairs0)(JNIEnv* env, jclass) {
    const std::unique_ptr<wchar_t, EnvironmentBlockFree> block(GetEnvironmentStringsW());
    if (!block) return nullptr;
    const auto entries =
        processes::environmentEntries(reinterpret_cast<const char16_t*>(block.get()), kEnvironmentLimitChars);
    return jni::newStringArray(env, entries, jni::MissingElement::leaveOut);
}

// Tells every top-level window that the environment changed, waiting at most
// five seconds and not for a window that hangs.
void JNICALL NATIVE_FUNCTION(Misc, broadcastSettingChange0)(JNIEnv*, jclass) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG,
                        5000, &answer);
}

// Total physical memory in bytes: GlobalMemoryStatusEx when it exists and
// works, else GlobalMemoryStatus (whose count stops at 4 GiB on 32-bit).
jlong JNICALL NATIVE_FUNCTION(Misc, getPhysicalMemory0)(JNIEnv*, jclass) {
    {
        const UniqueModule kernel = UniqueModule(system_calls::loadSystemLibrary(L"Kernel32.DLL"));
        const auto statusEx = system_calls::function<GlobalMemoryStatusExFn>(kernel.get(), "GlobalMemoryStatusEx");
        if (statusEx) {
            MEMORYSTATUSEX status = {};
            status.dwLength = 64;
            if (statusEx(&status)) return static_cast<jlong>(status.ullTotalPhys);
            printDiagnostic("error %d\n", static_cast<int>(GetLastError()));
        }
    }
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    return static_cast<jlong>(status.dwTotalPhys);
}

// Bytes available to the caller on the volume of the directory, or -1.
jlong JNICALL NATIVE_FUNCTION(Misc, getFreeDiskSpace0)(JNIEnv* env, jclass, jstring directory) {
    const JavaString path(env, directory);
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(path.get(), &available, nullptr, nullptr)) return -1;
    return static_cast<jlong>(available.QuadPart);
}

// Schedules the move (or, with a null target, the deletion) of a file for the
// next restart; false when Windows refuses, MoveFileExW cannot be found or the
// source is null.
jboolean JNICALL NATIVE_FUNCTION(Misc, moveWithDelayUntilReboot0)(JNIEnv* env, jclass, jstring source, jstring target) {
    const UniqueModule kernel(system_calls::loadSystemLibrary(L"Kernel32.DLL"));
    const auto moveFileEx = system_calls::function<MoveFileExWFn>(kernel.get(), "MoveFileExW");
    if (!moveFileEx) return JNI_FALSE;
    const JavaString from(env, source);
    const JavaString to(env, target);
    // A move of nothing is refused here: Windows has no file to name.
    if (from.isNull()) return JNI_FALSE;
    return jni::toJava(moveFileEx(from.get(), to.get(), MOVEFILE_DELAY_UNTIL_REBOOT));
}

// Ends processes: with force at once (TerminateProcess, exit code 0), else by
// a close request to each one's visible top-level windows and a wait for all
// of them up to the time-out.  Result 1, 0, 2 or 3 as natives/process_rules.h
// names them; a null array is refused with 0.
jint JNICALL NATIVE_FUNCTION(Misc, terminateProcesses0)(JNIEnv* env, jclass, jintArray processIds, jboolean force,
                                                        jint timeout) {
    const std::optional<std::vector<jint>> ids = jni::readIntArray(env, processIds);
    if (!ids) return processes::kNotTerminated;
    std::vector<std::uint32_t> pids(ids->begin(), ids->end());
    if (force) return terminateForcibly(pids);
    return closeAndWait(std::move(pids), static_cast<DWORD>(timeout));
}

// The id of a process from a handle to it, 0 when that fails.
jint JNICALL NATIVE_FUNCTION(Misc, getPidFromHandle0)(JNIEnv*, jclass, jlong handle) {
    return static_cast<jint>(GetProcessId(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(handle))));
}

// Starts a program (application name and command line, either may be null)
// with the launcher's environment and current directory and does not wait:
// 0, or the Windows error code.  The new process's handles are closed at once.
jint JNICALL NATIVE_FUNCTION(Win32Exec, launch0)(JNIEnv* env, jclass, jstring application, jstring commandLine) {
    const JavaString program(env, application);
    const JavaString line(env, commandLine);
    // Windows' answer to a start without a program, given without asking it
    // (some implementations read the missing command line).
    if (program.isNull() && line.isNull()) return ERROR_INVALID_PARAMETER;
    // CreateProcessW may write into the command line: it gets its own copy.
    std::vector<wchar_t> writable;
    if (!line.isNull()) {
        writable.assign(line.text().begin(), line.text().end());
        writable.push_back(L'\0');
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.get(), writable.empty() ? nullptr : writable.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started))
        return static_cast<jint>(GetLastError());
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

}  // extern "C"
