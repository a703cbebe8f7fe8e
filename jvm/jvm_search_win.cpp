#include "jvm/jvm_search.h"

#include <vector>

#include "jvm/java_probe.h"
#include "jvm/jvm_dll.h"
#include "jvm/jvm_registry.h"
#include "jvm/jvm_selection.h"
#include "jvm/search_rules.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/expand.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/win_handles.h"

namespace {

// The width of this build: it names the runtimes it can load in messages.
constexpr int kLauncherBits = static_cast<int>(sizeof(void*) * 8);

// Longest version string kept with the selection.
constexpr std::size_t kSelectedVersionLimit = 2000;

void showFailureMessage(const FailureMessage& message) {
    if (message.argument)
        showConfiguredError(message.id, *message.argument);
    else
        showConfiguredError(message.id);
}

// The first line of a preference or installer file; nothing when the file is
// missing or holds no line.
std::optional<std::string> readPreferenceFile(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    UniqueFile owned(file);
    std::string text(kPreferenceLineLimit, '\0');
    DWORD got = 0;
    if (!ReadFile(owned.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) return std::nullopt;
    text.resize(got);
    return preferenceLine(text);
}

HANDLE openForReading(const wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE openForReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The application directory (entry 10003, absolute, case kept), without a
// trailing backslash: its ".tovrix" subdirectory holds the preference files.
wstring applicationDirectory() {
    wstring directory = makeAbsoluteFull(getConfigWideString(config::kPreferenceDirectory, kTextLimit), true);
    while (directory.size() > 3 && directory.back() == L'\\') directory.pop_back();
    return directory;
}

// One run of the search.  Every candidate that passes its probe is recorded
// (executable, version, source) and its jvm.dll loaded; the first library
// that loads ends the search.
class JvmSearch {
public:
    HMODULE run();

    std::string javaExecutable;
    std::string version;
    JvmSource source = JvmSource::None;
    std::string sourceName;

private:
    bool take(const std::string& executable, const std::string& found, JvmSource from, const std::string& name) {
        javaExecutable = executable;
        version = found;
        source = from;
        sourceName = name;
        library_ = loadJvmDll(executable);
        return library_ != nullptr;
    }

    // A location read from a preference or installer file; `hasKind` and
    // `usingKind` name the file's kind in the log ("preferred", "installer").
    bool tryLocationFile(HANDLE file, const wchar* hasKind, const wchar* usingKind) {
        const std::optional<std::string> location = readPreferenceFile(file);
        if (!location) return false;
        logMessage(L"Has %s location %S", hasKind, location->c_str());
        logMessage(L"Using %s location", usingKind);
        std::string executable, found;
        return checkLocation(*location, false, range_, executable, found) &&
               take(executable, found, JvmSource::Location, *location);
    }

    bool firstPass(const std::vector<SearchEntry>& entries);
    bool fallbackPass(const std::vector<SearchEntry>& entries);
    bool previousInstallations();
    bool environmentVariable(const std::string& name);

    VersionRange range_;
    HMODULE library_ = nullptr;
};

bool JvmSearch::firstPass(const std::vector<SearchEntry>& entries) {
    for (const SearchEntry& entry : entries) {
        std::string argument = entry.argument;
        expandVariables(argument);
        logMessage(L"Testing location %S (type %c)", argument.c_str(), static_cast<int>(entry.kind));
        std::string executable, found;
        switch (entry.kind) {
            case 'A':
            case 'B':
            case 'R':
                if (checkLocation(argument, false, range_, executable, found) &&
                    take(executable, found, JvmSource::Location, argument))
                    return true;
                break;
            case 'E':
                if (environmentVariable(argument)) return true;
                break;
            case 'S':
                if (checkSystemPath(range_, executable, found) && take(executable, found, JvmSource::SystemPath, ""))
                    return true;
                break;
            case 'Y':
                if (checkRegistry(range_, executable, found) && take(executable, found, JvmSource::Registry, ""))
                    return true;
                break;
            default: break;
        }
    }
    return false;
}

// Carried and relative locations once more, as written and whatever their
// version: a runtime whose java executable exists is taken.
bool JvmSearch::fallbackPass(const std::vector<SearchEntry>& entries) {
    for (const SearchEntry& entry : entries) {
        if (!reconsideredInFallback(entry)) continue;
        logMessage(L"Testing relative location %S", entry.argument.c_str());
        std::string executable, found;
        checkLocation(entry.argument, true, range_, executable, found);
        if (!fileExists(executable)) continue;
        logMessage(L"%S exists", executable.c_str());
        if (take(executable, found, JvmSource::Location, entry.argument)) return true;
    }
    return false;
}

bool JvmSearch::previousInstallations() {
    std::string executable, found;
    if (checkPreviousInstallation(HKEY_CURRENT_USER, range_, executable, found)) {
        logMessage(L"found JRE from previous installation (user) %S", executable.c_str());
        if (take(executable, found, JvmSource::Registry, "")) return true;
    }
    if (checkPreviousInstallation(HKEY_LOCAL_MACHINE, range_, executable, found)) {
        logMessage(L"found JRE from previous installation (machine) %S", executable.c_str());
        if (take(executable, found, JvmSource::Registry, "")) return true;
    }
    return false;
}

bool JvmSearch::environmentVariable(const std::string& name) {
    std::string executable, found;
    return checkEnvironmentVariable(name, range_, executable, found) &&
           take(executable, found, JvmSource::Environment, name);
}

HMODULE JvmSearch::run() {
    logMessage(L"Searching for a JVM");
    range_ = readVersionRange();
    const wstring application = applicationDirectory();

    if (tryLocationFile(openForReading(application + L"\\.tovrix\\pref_jre.cfg"), L"preferred", L"preferred"))
        return library_;
    const std::string& extraction = launcherState().extractionDirectory;
    if (!extraction.empty() &&
        tryLocationFile(openForReading(extraction + "\\inst_jre.cfg"), L"installer", L"preferred"))
        return library_;

    char sequence[kTextLimit];
    getConfigString(config::kSearchSequence, sequence, sizeof sequence);
    const std::vector<SearchEntry> entries = parseSearchSequence(sequence);
    if (firstPass(entries)) return library_;
    if (tryLocationFile(openForReading(application + L"\\.tovrix\\inst_jre.cfg"), L"installer", L"installer"))
        return library_;
    if (fallbackPass(entries)) return library_;
    if (previousInstallations()) return library_;

    logMessage(L"Search sequence finished");
    if (environmentVariable("KELPA_JAVA_HOME") || environmentVariable("TOVRIX_JAVA_HOME")) return library_;
    return nullptr;
}

}  // namespace

HMODULE searchJvm(std::string& javaExecutable, std::string& version, JvmSource& source, std::string& sourceName) {
    JvmSearch search;
    HMODULE library = search.run();
    javaExecutable = search.javaExecutable;
    version = search.version;
    source = search.source;
    sourceName = search.sourceName;
    return library;
}

bool LoadDLL(bool showErrors, const char* location, bool locationIsJavaExecutable) {
    logMessage(L"LoadDLL (%d, %S, %d)", showErrors ? 1 : 0, location, locationIsJavaExecutable ? 1 : 0);
    std::string javaExecutable, version, sourceName;
    JvmSource source = JvmSource::None;
    HMODULE library = nullptr;

    if (location) {
        logMessage(L"Got JRE location %S (java exe: %d)", location, locationIsJavaExecutable ? 1 : 0);
        const VersionRange range = readVersionRange();
        bool usable = false;
        if (locationIsJavaExecutable) {
            javaExecutable = location;
            usable = checkJavaExe(javaExecutable, version, range, true, false);
        } else {
            usable = checkLocation(location, true, range, javaExecutable, version);
        }
        if (!usable) {
            logError(L"Provided JVM unusable");
            if (showErrors) showFailureMessage(noJvmMessage(kLauncherBits));
            return false;
        }
        source = JvmSource::Location;
        sourceName = location;
        library = loadJvmDll(javaExecutable);
    } else {
        // Search entries that name "${launcher:sys.jvmHome}" must not see the
        // home of a runtime an earlier call rejected.
        launcherState().jvmHome.clear();
        library = searchJvm(javaExecutable, version, source, sourceName);
        if (source == JvmSource::None) {
            logMessage(L"No JVM found");
            if (showErrors) showFailureMessage(noJvmMessage(kLauncherBits));
            return false;
        }
    }

    JvmSelection& selection = jvmSelection();
    selection.javaExecutable = javaExecutable;
    launcherState().jvmHome = jvmHomeOf(javaExecutable);
    selection.version = version.substr(0, kSelectedVersionLimit);
    selection.source = source;
    selection.sourceName = sourceName;
    selection.library = library;
    selection.createJavaVM = nullptr;
    logMessage(L"JVM source %d (%S)", static_cast<int>(source), sourceName.c_str());

    if (!library) {
        logMessage(L"Could not get DLL-Handle.");
    } else {
        selection.createJavaVM = reinterpret_cast<CreateJavaVMFunction>(
            reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
        if (!selection.createJavaVM) logMessage(L"Could not load functions");
    }
    if (selection.createJavaVM) {
        logMessage(L"Loading of JVM-DLL successful");
        return true;
    }
    if (showErrors) {
        const FailureMessage message = searchFailureMessage(source, sourceName, kLauncherBits);
        showFailureMessage(message);
    }
    return false;
}
