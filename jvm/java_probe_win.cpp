#include "jvm/java_probe.h"

#include <vector>

#include "jvm/jvm_registry.h"
#include "jvm/pack200.h"
#include "jvm/search_rules.h"
#include "launcher/config_store.h"
#include "launcher/exe_path.h"
#include "launcher/log.h"
#include "launcher/system_paths.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"

namespace {

// How long "java -version" may take before it is terminated.
constexpr DWORD kVersionRunTimeoutMs = 60000;

// Removes _JAVA_OPTIONS from the process environment while the probe runs:
// options meant for the installer's VM may make "java -version" print other
// lines first, or fail.  The saved value is put back by restore() or at the
// end of the scope, unless it could not be read completely.
class JavaOptionsRemoved {
public:
    JavaOptionsRemoved() {
        const DWORD announced = GetEnvironmentVariableA(kName, nullptr, 0);
        if (announced == 0) return;  // not set
        std::vector<char> buffer(announced);
        const DWORD length = GetEnvironmentVariableA(kName, buffer.data(), announced);
        value_.assign(buffer.data(), length < announced ? length : 0);
        logMessage(L"_JAVA_OPTIONS is %S", value_.c_str());
        if (length + 1 != announced) {
            logMessage(L"error reading _JAVA_OPTIONS");
        } else {
            pending_ = true;
        }
        SetEnvironmentVariableA(kName, nullptr);
    }
    ~JavaOptionsRemoved() { restore(); }
    JavaOptionsRemoved(const JavaOptionsRemoved&) = delete;
    JavaOptionsRemoved& operator=(const JavaOptionsRemoved&) = delete;

    void restore() {
        if (pending_) SetEnvironmentVariableA(kName, value_.c_str());
        pending_ = false;
    }

private:
    static constexpr const char* kName = "_JAVA_OPTIONS";
    std::string value_;
    bool pending_ = false;
};

// Deletes a file when the scope ends (declared before the file's handle, so
// the handle is closed first).
class DeleteFileAtExit {
public:
    explicit DeleteFileAtExit(std::string path) : path_(std::move(path)) {}
    ~DeleteFileAtExit() { DeleteFileA(path_.c_str()); }
    DeleteFileAtExit(const DeleteFileAtExit&) = delete;
    DeleteFileAtExit& operator=(const DeleteFileAtExit&) = delete;

private:
    std::string path_;
};

// The command line that runs the executable with "-version": its short path,
// so that blanks and characters outside the code page do not matter.  A path
// whose short form cannot be had is quoted when it holds a blank.
std::string versionCommandLine(const std::string& javaExecutable) {
    std::string path = shortPathName(javaExecutable);
    if (path.empty()) {
        logMessage(L"Could not get short path name for %S", javaExecutable.c_str());
        path = javaExecutable;
    }
    if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
    return path + " -version";
}

// The version line (at most 99 characters) of the output behind the handle;
// notices the VM prints before it are passed over (at most 16 KiB are read).
std::string readVersionLine(HANDLE file) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string output(16 * 1024, '\0');
    DWORD got = 0;
    if (!ReadFile(file, &output[0], static_cast<DWORD>(output.size()), &got, nullptr)) got = 0;
    output.resize(got);
    return versionLineOf(output, kVersionLineLimit);
}

bool preReleaseAllowed(bool allowPreRelease) {
    return allowPreRelease || getConfigInt(config::kPreReleaseJavaAllowed) != 0;
}

// checkJavaExe without its entry and exit lines.
bool probeJavaExe(std::string& javaExecutable, std::string& version, const VersionRange& range, bool allowPreRelease,
                  bool useCache) {
    javaExecutable = makeAbsoluteFull(javaExecutable, false);
    FILETIME lastWrite = {};
    if (!fileExists(javaExecutable, &lastWrite)) {
        logMessage(L"file doesn't exist");
        return false;
    }
    logMessage(L"file exists");

    if (useCache && readCachedVersion(javaExecutable, lastWrite, version)) {
        logMessage(L"got version from registry %S", version.c_str());
    } else {
        const VersionRun run = getJavaVersion(javaExecutable, version);
        if (run != VersionRun::Found) {
            if (run == VersionRun::ExitedNonZero) writeCachedVersion(javaExecutable, lastWrite, "1.0.0");
            logMessage(L"couldn't get version");
            return false;
        }
        logMessage(L"got version from execution %S", version.c_str());
        writeCachedVersion(javaExecutable, lastWrite, version);
    }

    const RangeCheck check = checkVersionRange(version, range, preReleaseAllowed(allowPreRelease));
    if (check == RangeCheck::PreRelease) logMessage(L"beta vm not allowed");
    if (check != RangeCheck::Pass) return false;

    if (getConfigInt(config::kExecutableKind) == 1) {
        javaExecutable = windowedJavaExecutable(javaExecutable);
        return fileExists(javaExecutable);
    }
    return true;
}

}  // namespace

VersionRange readVersionRange() {
    VersionRange range = makeVersionRange(getConfigStringCopy(config::kMinimumJavaVersion),
                                          getConfigStringCopy(config::kMaximumJavaVersion));
    logMessage(L"MinVersion: %S, MaxVersion: %S", range.minimumText.c_str(), range.maximumText.c_str());
    return range;
}

bool deriveJavaExecutable(const std::string& home, std::string& javaExecutable) {
    const Derivation derived = deriveJavaExecutable(home, getConfigInt(config::kJdkRequired) != 0,
                                                    [](const std::string& path) { return fileExists(path); });
    javaExecutable = derived.javaExecutable;
    return derived.holds;
}

bool checkJavaExe(std::string& javaExecutable, std::string& version, const VersionRange& range, bool allowPreRelease,
                  bool useCache) {
    logMessage(L"checkJavaExe (%S, [out], %d, %d, %d)", javaExecutable.c_str(), static_cast<int>(range.minimum.size()),
               static_cast<int>(range.maximum.size()), allowPreRelease ? 1 : 0);
    version.clear();
    const bool accepted = probeJavaExe(javaExecutable, version, range, allowPreRelease, useCache);
    logMessage(L"checkJavaExe returning %d", accepted ? 1 : 0);
    return accepted;
}

VersionRun getJavaVersion(const std::string& javaExecutable, std::string& version) {
    std::string command = versionCommandLine(javaExecutable);
    JavaOptionsRemoved javaOptions;

    const std::string outputName = temporaryFileName();
    DeleteFileAtExit removeOutput(outputName);
    UniqueFile output;
    {
        UniqueFile created(CreateFileA(outputName.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created || !DuplicateHandle(GetCurrentProcess(), created.get(), GetCurrentProcess(), output.put(), 0, TRUE,
                                         DUPLICATE_SAME_ACCESS)) {
            logMessage(L"Could not create output file %S (error %d)", outputName.c_str(),
                       static_cast<int>(GetLastError()));
            return VersionRun::Failed;
        }
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdError = output.get();
    PROCESS_INFORMATION info = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &info)) {
        const int error = static_cast<int>(GetLastError());
        javaOptions.restore();
        logMessage(L"Could not create process %S > %S (error %d)", command.c_str(), outputName.c_str(), error);
        return VersionRun::Failed;
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    const DWORD waited = WaitForSingleObject(process.get(), kVersionRunTimeoutMs);
    javaOptions.restore();

    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = STILL_ACTIVE;
    logMessage(L"Exit Code %d", static_cast<int>(exitCode));
    if (waited != WAIT_OBJECT_0 || exitCode == STILL_ACTIVE) {
        logMessage(L"Terminating process");
        TerminateProcess(process.get(), 1);
        // The output file can only be deleted once the child's handle is gone.
        WaitForSingleObject(process.get(), 5000);
        return VersionRun::Failed;
    }
    if (exitCode != 0) return VersionRun::ExitedNonZero;

    const std::string first = readVersionLine(output.get());
    const std::optional<std::string> parsed = parseVersionLine(first);
    if (!parsed) {
        std::string shown = first;
        while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n')) shown.pop_back();
        logMessage(L"unexpected first line %S", shown.c_str());
        return VersionRun::Failed;
    }
    version = *parsed;
    logMessage(L"Java version: %S", version.c_str());
    return VersionRun::Found;
}

bool checkLocation(const std::string& home, bool acceptAnyVersion, const VersionRange& range,
                   std::string& javaExecutable, std::string& version) {
    const std::string normalised = makeAbsoluteFull(home, false);
    restorePackedJars(normalised);
    version.clear();
    const bool derived = deriveJavaExecutable(normalised, javaExecutable);
    const bool accepted = derived && checkJavaExe(javaExecutable, version, range, true, true);
    return accepted || acceptAnyVersion;
}

bool checkEnvironmentVariable(const std::string& name, const VersionRange& range, std::string& javaExecutable,
                              std::string& version) {
    version.clear();
    std::string home = environmentValue(name.c_str());
    if (home.empty()) return false;
    for (char& c : home)
        if (c == '/') c = '\\';
    if (!deriveJavaExecutable(home, javaExecutable)) return false;
    return checkJavaExe(javaExecutable, version, range, false, true);
}

bool checkSystemPath(const VersionRange& range, std::string& javaExecutable, std::string& version) {
    version.clear();
    const std::string found = systemTextOrEmpty<char>([](char* buffer, std::size_t size) {
        return SearchPathA(nullptr, "java.exe", nullptr, static_cast<DWORD>(size), buffer, nullptr);
    });
    if (found.empty()) return false;
    javaExecutable = found;
    return checkJavaExe(javaExecutable, version, range, false, true);
}
