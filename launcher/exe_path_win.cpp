#include "launcher/exe_path.h"

#include <algorithm>
#include <vector>

#include "launcher/log.h"
#include "launcher/path_ops.h"
#include "launcher/system_paths.h"
#include "launcher/win_handles.h"

UINT fileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::string toFileCodePage(const wstring& text, bool& lost) {
    lost = false;
    if (text.empty()) return {};
    const UINT codePage = fileCodePage();
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, &usedDefault);
    if (size <= 0) {
        lost = true;
        return {};
    }
    std::string out(size, '\0');
    usedDefault = FALSE;
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, &usedDefault);
    lost = usedDefault != FALSE;
    return out;
}

wstring fromFileCodePage(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(fileCodePage(), 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return {};
    wstring out(size, L'\0');
    MultiByteToWideChar(fileCodePage(), 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

wstring moduleFileName() {
    return systemTextOrEmpty<wchar_t>([](wchar_t* buffer, std::size_t size) {
        return GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(size));
    });
}

namespace {

wstring computeLongPath() {
    const wstring module = moduleFileName();
    DWORD longLength = 0;
    const auto longName = fetchSystemText<wchar_t>([&](wchar_t* buffer, std::size_t size) {
        return longLength = GetLongPathNameW(module.c_str(), buffer, static_cast<DWORD>(size));
    });
    const DWORD error = GetLastError();
    logMessage(L"init file name %s %s %d %d", module.c_str(), longName ? longName->c_str() : L"",
               static_cast<int>(longLength), static_cast<int>(error));
    wstring path = longName ? *longName : module;
    collapseBackslashes(path);
    return path;
}

std::string computeExecutablePath() {
    const wstring& longPath = getExecutableLongPath();
    bool lost = false;
    std::string path = toFileCodePage(longPath, lost);
    if (lost || !isExecutableName(path)) {
        path = toFileCodePage(shortPathName(longPath), lost);
        if (lost || !isExecutableName(path)) {
            path = shortNameFromCommandInterpreter(longPath);
            if (!isExecutableName(path)) {
                const std::string module = systemTextOrEmpty<char>([](char* buffer, std::size_t size) {
                    return GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
                });
                const std::string shortName = shortPathName(module);
                path = shortName.empty() ? module : shortName;
            }
        }
    }
    collapseBackslashes8(path);
    return path;
}

}  // namespace

const wstring& getExecutableLongPath() {
    static const wstring path = computeLongPath();
    return path;
}

const std::string& getExecutablePath() {
    static const std::string path = computeExecutablePath();
    return path;
}

const std::string& executableDirectory() {
    static const std::string directory = directoryOf(getExecutablePath());
    return directory;
}

const wstring& executableDirectoryWidened() {
    static const wstring directory = widenBytes(executableDirectory());
    return directory;
}

const wstring& executableLongDirectory() {
    static const wstring directory = directoryOf(getExecutableLongPath());
    return directory;
}

void collapseBackslashes8(std::string& path) {
    wstring wide = fromFileCodePage(path);
    collapseBackslashes(wide);
    bool lost = false;
    std::string back = toFileCodePage(wide, lost);
    if (!lost && !(back.empty() && !path.empty())) path = back;
}

std::string lowerCasePath8(const std::string& path) {
    bool lost = false;
    std::string back = toFileCodePage(lowerAscii(fromFileCodePage(path)), lost);
    return (!lost && !(back.empty() && !path.empty())) ? back : path;
}

std::string makeAbsolute(const std::string& path, const std::string* referenceFile) {
    std::string out;
    if (isRelativePath(path)) {
        out = (referenceFile ? directoryOf(*referenceFile) : executableDirectory()) + path;
    } else {
        out = path;
    }
    collapseBackslashes8(out);
    return out;
}

wstring makeAbsolute(const wstring& path, bool widenedDirectory) {
    return resolveAgainst(widenedDirectory ? executableDirectoryWidened() : executableLongDirectory(), path);
}

std::string makeAbsoluteFull(const std::string& path, bool keepCase) {
    std::string absolute = makeAbsolute(path);
    std::string out = fullPathName(absolute);
    if (out.empty()) out = absolute;
    if (!keepCase) out = lowerCasePath8(out);
    collapseBackslashes8(out);
    return out;
}

wstring makeAbsoluteFull(const wstring& path, bool keepCase) {
    wstring absolute = makeAbsolute(path, false);
    wstring out = fullPathName(absolute);
    if (out.empty()) out = absolute;
    if (!keepCase) out = lowerAscii(out);
    collapseBackslashes(out);
    return out;
}

std::string makeAbsoluteList(const std::string& list, void (*onEntry)(const std::string&)) {
    std::string out;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(start, end - start);
        if (!entry.empty()) {
            const std::string resolved = makeAbsolute(entry);
            if (!out.empty()) out += ';';
            out += resolved;
            if (onEntry) onEntry(resolved);
        }
        start = end + 1;
    }
    return out;
}

bool fileExists(const std::string& path, FILETIME* lastWrite) {
    if (isDriveRoot(path)) return true;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(path.c_str(), &data));
    if (!find) return false;
    if (lastWrite) *lastWrite = data.ftLastWriteTime;
    return true;
}

bool fileExists(const wstring& path) {
    if (isDriveRoot(path)) return true;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(path.c_str(), &data));
    return find.valid();
}

std::string shortNameFromCommandInterpreter(const wstring& longPath) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFile readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
        logMessage(L"CreatePipe error (%d)", static_cast<int>(GetLastError()));
        return {};
    }
    if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
        logMessage(L"SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
        return {};
    }
    const wstring windows = windowsDirectory<wchar_t>(MAX_PATH);
    // "%%I" reaches the interpreter as "%I", the loop variable of the for command.
    wstring command = windows + L"\\system32\\cmd.exe /C for %I in (\"" + longPath + L"\") do @echo %~sI";
    logMessage(L"executing %s", command.c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION info = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
        logMessage(L"could not execute cmd.exe");
        return {};
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    writeEnd.reset();

    std::string output;
    char buffer[512];
    while (output.size() < kTextLimit) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, kTextLimit - output.size()));
        DWORD got = 0;
        if (!ReadFile(readEnd.get(), buffer, want, &got, nullptr) || got == 0) break;
        output.append(buffer, got);
    }
    logMessage(L"finished reading from cmd.exe %d \"%S\"", static_cast<int>(output.size()), output.c_str());
    readEnd.reset();

    // The pipe closes a moment before the interpreter has ended; give it a few
    // seconds rather than mistaking a finishing process for a hung one.
    WaitForSingleObject(process.get(), 5000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    logMessage(L"Exit Code %d", static_cast<int>(exitCode));
    if (exitCode == STILL_ACTIVE) {
        logMessage(L"Terminating process");
        TerminateProcess(process.get(), 1);
        return {};
    }
    std::string answer = shortNameFromInterpreter(output, exitCode);
    if (!answer.empty()) logMessage(L"Using %S", answer.c_str());
    return answer;
}
