// The Windows side of the VM option assembly: options files, directory
// listings, the environment, code page conversion and the fatal error path
// handed to the portable assembly, and the JNI init arguments around its result.
#include "jvm/vm_options.h"

#include <windows.h>

#include <algorithm>

#include "jvm/jvm_selection.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/expand.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/path_ops.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"

namespace {

class WindowsOptionsFile : public OptionsFile {
public:
    explicit WindowsOptionsFile(HANDLE file) : file_(file) {}
    std::size_t read(char* buffer, std::size_t capacity) override {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 20));
        if (!ReadFile(file_.get(), buffer, want, &got, nullptr)) return 0;
        return got;
    }
    const void* handle() const override { return file_.get(); }

private:
    UniqueFile file_;
};

// A directory (or anything else that is not a readable file) does not open.
std::unique_ptr<OptionsFile> openOptionsFile(const wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WindowsOptionsFile>(file.release());
}

// The whole value of an environment variable, UTF-16; false when not defined.
bool environmentWide(const wstring& name, wstring& value) {
    value.clear();
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND && !name.empty();
    // The variable may change between the two calls; retry with the new size.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<wchar_t> buffer(size);
        const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
        if (n == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        if (n < size) {
            value.assign(buffer.data(), n);
            return true;
        }
        size = n;
    }
    return false;
}

// A variable of a path entry list, in the file code page and at most 5,999
// bytes (a longer value is cut, and the cut logged).
bool environmentVariable(const std::string& name, std::string& value) {
    wstring wide;
    if (!environmentWide(fromFileCodePage(name), wide)) return false;
    bool lost = false;
    value = toFileCodePage(wide, lost);
    if (value.size() > kTextLimit - 1) {
        logError(L"environment variable %S cut to %d of %d bytes", name.c_str(), static_cast<int>(kTextLimit - 1),
                 static_cast<int>(value.size()));
        value.resize(kTextLimit - 1);
    }
    return true;
}

// The files directly in `directory` whose extension is `extension`.  The
// system's "*.jar" pattern also matches 8.3 names, so "a.jarx" would slip in:
// the extension of the long name is checked again.  A name the code page
// cannot hold is given in its 8.3 form.
std::vector<std::string> listFiles(const std::string& directory, const char* extension) {
    std::vector<std::string> names;
    wstring pattern = fromFileCodePage(directory);
    if (pattern.empty()) return names;
    if (pattern.back() != L'\\') pattern += L'\\';
    const wstring wantedExtension = lowerAscii(widenBytes(extension));
    pattern += L"*." + wantedExtension;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(pattern.c_str(), &data));
    if (!find) return names;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const wstring name = data.cFileName;
        const std::size_t dot = name.rfind(L'.');
        if (dot == wstring::npos || lowerAscii(name.substr(dot + 1)) != wantedExtension) continue;
        bool lost = false;
        std::string narrow = toFileCodePage(name, lost);
        if (lost && data.cAlternateFileName[0]) narrow = toFileCodePage(data.cAlternateFileName, lost);
        if (!narrow.empty()) names.push_back(narrow);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

VmOptionServices launcherServices() {
    VmOptionServices services;
    services.toEightBit = [](const wstring& text) {
        bool lost = false;
        return toFileCodePage(text, lost);
    };
    services.expandWide = [](wstring& text, bool eightBitSafe) { expandVariables(text, eightBitSafe); };
    services.expandNarrow = [](std::string& text) { expandVariables(text); };
    services.openFile = openOptionsFile;
    services.executableLongDirectory = executableLongDirectory();
    services.makeAbsolute = [](const std::string& path) { return makeAbsolute(path); };
    services.makeAbsoluteList = [](const std::string& list) { return makeAbsoluteList(list); };
    services.fileExists = [](const std::string& path) { return fileExists(path); };
    services.environmentVariable = environmentVariable;
    services.listFiles = listFiles;
    services.fatalError = [](std::int32_t id, const std::string& argument) { fatalConfiguredError(id, argument); };
    return services;
}

}  // namespace

VmOptions::VmOptions(std::vector<std::string> options) : options_(std::move(options)) { bind(); }

VmOptions::VmOptions(VmOptions&& other) noexcept : options_(std::move(other.options_)) {
    bind();
    other.bind();
}

VmOptions& VmOptions::operator=(VmOptions&& other) noexcept {
    if (this != &other) {
        options_ = std::move(other.options_);
        bind();
        other.bind();
    }
    return *this;
}

void VmOptions::bind() {
    jni_.clear();
    jni_.reserve(options_.size());
    for (std::string& option : options_) jni_.push_back(JavaVMOption{option.data(), nullptr});
    args_.version = JNI_VERSION_1_2;
    args_.nOptions = static_cast<jint>(jni_.size());
    args_.options = jni_.empty() ? nullptr : jni_.data();
    args_.ignoreUnrecognized = JNI_TRUE;
}

std::vector<std::string> buildLauncherPropertyOptions(const std::string& semaphoreName) {
    const LauncherState& state = launcherState();
    LauncherProperties properties;
    properties.semaphoreName = semaphoreName;
    properties.manualJre = state.manualJre;
    properties.installerProgram = programKind().installer;
    properties.executablePath = getExecutablePath();
    properties.extractionDirectory = state.extractionDirectory;
    // -1 tells the Java side that this run reused the earlier run's
    // extraction; a restart whose files were missing extracted again.
    const bool reusedExtraction = state.languageRestart && !state.payloadFilesMissing;
    properties.unextractedPosition = reusedExtraction ? -1 : unextractedPosition();
    wstring path;
    environmentWide(L"PATH", path);
    bool lost = false;
    properties.path = toFileCodePage(path, lost);
    wstring manPath;
    if (!environmentWide(L"MANPATH", manPath)) properties.consoleCodePage = GetConsoleOutputCP();
    return launcherPropertyOptions(properties);
}

VmOptions buildVmOptions(const std::vector<std::string>& propertyOptions, const ArgumentVector& words) {
    VmOptionInputs inputs;
    inputs.jvmVersion = jvmSelection().version;
    inputs.extractionDirectory = launcherState().extractionDirectory;
    inputs.defaultOptionsFiles = defaultOptionsFileNames(getExecutableLongPath(), moduleFileName());
    const VmOptionServices services = launcherServices();
    VmOptions result(assembleVmOptions(propertyOptions, words, inputs, services));
    const JavaVMInitArgs* args = result.initArgs();
    logMessage(L"vmoption count %d", static_cast<int>(args->nOptions));
    for (jint i = 0; i < args->nOptions; ++i)
        logMessage(L"vmoption %d: %S", static_cast<int>(i), args->options[i].optionString);
    return result;
}
