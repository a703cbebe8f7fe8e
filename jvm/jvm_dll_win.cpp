#include "jvm/jvm_dll.h"

#include <cstdlib>
#include <vector>

#include "jvm/search_rules.h"
#include "launcher/config_store.h"
#include "launcher/exe_path.h"
#include "launcher/expand.h"
#include "launcher/log.h"
#include "launcher/win_handles.h"

namespace {

// Looked up at run time: AddDllDirectory and RemoveDllDirectory exist from
// Windows 7 with its update KB2533623 on.
using AddDllDirectoryFunction = void*(WINAPI*)(PCWSTR);
using RemoveDllDirectoryFunction = BOOL(WINAPI*)(void*);

// Longest configured jvm.dll variant name (entry 152).
constexpr std::size_t kVariantLimit = 200;

// PATH of the process as it was, for putting it back.
struct SavedPath {
    bool defined = false;
    std::string value;
};

SavedPath readPath() {
    SavedPath saved;
    const DWORD announced = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (announced == 0) return saved;
    std::vector<char> buffer(announced);
    const DWORD length = GetEnvironmentVariableA("PATH", buffer.data(), announced);
    if (length >= announced) return saved;  // changed meanwhile: treat as unreadable
    saved.defined = true;
    saved.value.assign(buffer.data(), length);
    return saved;
}

// Sets PATH in the process environment and in the C runtime's own copy (which
// getenv and the runtime's process functions read).  Returns 0 or the error.
DWORD writePath(const std::string* value) {
    const BOOL set = SetEnvironmentVariableA("PATH", value ? value->c_str() : nullptr);
    const DWORD error = set ? ERROR_SUCCESS : GetLastError();
    const std::string assignment = "PATH=" + (value ? *value : std::string());
    _putenv(assignment.c_str());
    return error;
}

// `what` begins the log line: "Setting PATH" or "Setting PATH (native libs)".
void setPath(const std::string& value, const wchar* what) {
    const DWORD error = writePath(&value);
    if (error == ERROR_SUCCESS)
        logMessage(L"%s %S", what, value.c_str());
    else
        logMessage(L"%s %S failed with error %d", what, value.c_str(), static_cast<int>(error));
}

void restorePath(const SavedPath& saved) {
    logMessage(L"Restoring PATH %S", saved.defined ? saved.value.c_str() : "(undefined)");
    writePath(saved.defined ? &saved.value : nullptr);
}

void* addDllDirectory(const std::string& directory, bool logIt) {
    static const auto add = system_calls::systemFunction<AddDllDirectoryFunction>(L"kernel32.dll", "AddDllDirectory");
    if (!add) return nullptr;
    const wstring wide = fromFileCodePage(directory);
    if (logIt) logMessage(L"Adding DLL directory %s", wide.c_str());
    return add(wide.c_str());
}

void removeDllDirectory(void* cookie) {
    static const auto remove =
        system_calls::systemFunction<RemoveDllDirectoryFunction>(L"kernel32.dll", "RemoveDllDirectory");
    if (!cookie || !remove) return;
    logMessage(L"Removing DLL directory");
    remove(cookie);
}

// One bin directory: its jvm.dll variants with the directory in the DLL
// search and on PATH; both changes stay only when a library loaded.
HMODULE loadFromBinDirectory(const std::string& binDirectory) {
    void* cookie = addDllDirectory(binDirectory, true);
    const SavedPath saved = readPath();
    setPath(pathWithAppended(saved.value, binDirectory), L"Setting PATH");

    char variant[kVariantLimit];
    getConfigString(config::kJvmLibraryVariant, variant, sizeof variant);
    HMODULE library = nullptr;
    for (const std::string& candidate : jvmDllCandidates(binDirectory, variant)) {
        const bool exists = fileExists(candidate);
        logMessage(L"Trying %S (exists %d)", candidate.c_str(), exists ? 1 : 0);
        if (!exists) continue;
        library = LoadLibraryA(candidate.c_str());
        if (library) break;
        logMessage(L"Failed with error code %d", static_cast<int>(GetLastError()));
    }
    if (!library) {
        removeDllDirectory(cookie);
        restorePath(saved);
    }
    return library;
}

void addNativeLibraryDirectory(const std::string& directory) { addDllDirectory(directory, false); }

}  // namespace

HMODULE loadJvmDll(const std::string& javaExecutable) {
    logMessage(L"Trying to load JVM-DLL from %S", javaExecutable.c_str());
    HMODULE library = loadFromBinDirectory(javaBinDirectory(javaExecutable));
    if (!library) library = loadFromBinDirectory(javaBinDirectory(innerJreJavaExecutable(javaExecutable)));
    return library;
}

void setUpNativeLibraryPath() {
    char configured[kTextLimit];
    getConfigString(config::kNativeLibraryDirectories, configured, sizeof configured);
    std::string directories = configured;
    expandVariables(directories);
    logMessage(L"native lib dir is %S", directories.c_str());
    const std::string absolute = makeAbsoluteList(directories, addNativeLibraryDirectory);
    setPath(nativeLibraryPath(absolute, readPath().value), L"Setting PATH (native libs)");
}
