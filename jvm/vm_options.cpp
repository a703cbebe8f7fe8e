#include "jvm/vm_options.h"

#include <climits>
#include <cstring>

#include "launcher/config_store.h"
#include "launcher/format.h"
#include "launcher/log.h"
#include "launcher/path_ops.h"

namespace {

bool startsWith(const wstring& text, const wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// A configuration text through the bounded accessor, which logs a truncation.
std::string configText(std::int32_t id) {
    char buffer[kTextLimit];
    getConfigString(id, buffer, sizeof buffer);
    return buffer;
}

// A directory path for an existence test: "C:\dir\" is found only as "C:\dir"
// (a drive root keeps its backslash).
std::string withoutTrailingBackslash(std::string path) {
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Options files

int OptionsFileLines::get() {
    const int c = peek();
    if (c >= 0) ++position_;
    return c;
}

int OptionsFileLines::peek() {
    if (position_ == size_) {
        if (end_) return -1;
        position_ = 0;
        size_ = file_.read(buffer_, sizeof buffer_);
        if (size_ > sizeof buffer_) size_ = sizeof buffer_;  // a reader that overstates its count
        if (size_ == 0) {
            end_ = true;
            return -1;
        }
    }
    return static_cast<unsigned char>(buffer_[position_]);
}

bool OptionsFileLines::next(std::string& line) {
    line.clear();
    while (line.size() < kOptionsLineBytes) {
        int c = get();
        if (c == 0x1A) {  // Ctrl-Z: the end of a file read in text mode
            end_ = true;
            position_ = size_;
            c = -1;
        }
        if (c < 0) break;
        if (c == '\r' && peek() == '\n') c = get();
        line.push_back(static_cast<char>(c));
        if (c == '\n') return true;
    }
    return !line.empty();
}

bool trimOptionsFileLine(std::string& line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) {
        line.clear();
        return false;
    }
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    return line[0] != '#';
}

// ---------------------------------------------------------------------------
// Option lines

void VmOptionList::processOptionLine(const wstring& text, const wstring* includingFile) {
    static const wstring kInclude = W("-include-options ");
    static const wstring kReplace = W("-classpath ");
    static const wstring kPrepend = W("-classpath/p ");
    static const wstring kAppend = W("-classpath/a ");
    if (startsWith(text, kInclude)) {
        include(text.substr(kInclude.size()), includingFile);
    } else if (startsWith(text, kReplace)) {
        overrides.replacement = services_.toEightBit(text.substr(kReplace.size()));
    } else if (startsWith(text, kPrepend)) {
        overrides.prepend = services_.toEightBit(text.substr(kPrepend.size()));
    } else if (startsWith(text, kAppend)) {
        overrides.append = services_.toEightBit(text.substr(kAppend.size()));
    } else {
        std::string option = services_.toEightBit(text);
        if (!option.empty()) options.push_back(std::move(option));
    }
}

void VmOptionList::include(const wstring& file, const wstring* includingFile) {
    wstring path = file;
    services_.expandWide(path, false);
    logMessage(W("after exp from %s %s"), file.c_str(), path.c_str());
    path = resolveAgainst(includingFile ? directoryOf(*includingFile) : services_.executableLongDirectory, path);
    if (depth_ >= kOptionsIncludeDepth) {
        logError(W("options file %s not read: includes nested more than %d files deep"), path.c_str(),
                 kOptionsIncludeDepth);
        return;
    }
    if (filesRead_ >= kOptionsFilesPerList) {
        logError(W("options file %s not read: more than %d options files"), path.c_str(), kOptionsFilesPerList);
        return;
    }
    std::unique_ptr<OptionsFile> opened = services_.openFile(path);
    logMessage(W("adding vmoptions from (%p) <%s> (%s)"), opened ? opened->handle() : nullptr, path.c_str(),
               includingFile ? includingFile->c_str() : W(""));
    readOptionsFile(opened.get(), &path);
}

void VmOptionList::readOptionsFile(OptionsFile* file, const wstring* path) {
    if (!file) return;
    ++depth_;
    ++filesRead_;
    OptionsFileLines lines(*file);
    std::string line;
    while (lines.next(line)) {
        if (!trimOptionsFileLine(line)) continue;
        wstring text = widenBytes(line);
        services_.expandWide(text, true);
        processOptionLine(text, path);
    }
    --depth_;
}

void VmOptionList::addConfiguredWords(wstring text) {
    services_.expandWide(text, true);
    ArgumentVector words;
    splitCommandLine(text, words);
    for (const wstring& word : joinIncludeWords(words)) processOptionLine(word, nullptr);
}

ArgumentVector joinIncludeWords(const ArgumentVector& words) {
    static const wstring kInclude = W("-include-options");
    ArgumentVector out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == kInclude && i + 1 < words.size()) {
            out.push_back(words[i] + W(" ") + words[i + 1]);
            ++i;
        } else {
            out.push_back(words[i]);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Path entry lists

std::vector<PathEntry> parsePathEntries(const std::string& list) {
    std::vector<PathEntry> entries;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) {
            PathEntry entry;
            entry.kind = list[start];
            entry.mandatory = end - start > 1 && list[start + 1] == '1';
            if (end - start > 2) entry.value = list.substr(start + 2, end - start - 2);
            entries.push_back(entry);
        }
        start = end + 1;
    }
    return entries;
}

std::string unquoteEnvironmentValue(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
    return value;
}

std::vector<std::string> archivesIn(const std::string& directory, const VmOptionServices& services) {
    std::vector<std::string> archives;
    if (directory.empty()) return archives;
    const std::string base = directory.back() == '\\' ? directory : directory + '\\';
    for (const char* extension : {"jar", "zip"})
        for (const std::string& name : services.listFiles(directory, extension)) archives.push_back(base + name);
    return archives;
}

bool resolvePathEntries(std::int32_t entryId, PathListKind kind, std::string& out, const VmOptionServices& services) {
    const std::vector<PathEntry> entries = parsePathEntries(configText(entryId));
    logMessage(W("entries %d"), static_cast<int>(entries.size()));
    for (const PathEntry& entry : entries) {
        std::string path = entry.value;
        services.expandNarrow(path);
        bool found = false;
        switch (entry.kind) {
            case 'A':
            case 'D': {
                // An empty path would put an empty element (the working directory)
                // into the list; it adds nothing and is never found.
                const std::string absolute = services.makeAbsoluteList(path);
                if (!absolute.empty()) {
                    out += absolute;
                    out += ';';
                    found = services.fileExists(absolute);
                }
                break;
            }
            case 'E': {
                std::string value;
                if (!services.environmentVariable(path, value)) {
                    if (!entry.mandatory) continue;
                    services.fatalError(message::kVariableNotDefined, path);
                    return false;
                }
                value = unquoteEnvironmentValue(value);
                if (!value.empty()) {
                    out += value;
                    if (value.back() != ';') out += ';';
                }
                found = true;
                break;
            }
            case 'S': {
                const std::string directory = services.makeAbsolute(path);
                found = services.fileExists(withoutTrailingBackslash(directory));
                if (kind == PathListKind::ModulePath) {
                    out += directory;
                    out += ';';
                } else {
                    for (const std::string& archive : archivesIn(directory, services)) {
                        out += archive;
                        out += ';';
                    }
                }
                break;
            }
            default: continue;  // other kinds contribute nothing
        }
        if (entry.mandatory && !found) {
            services.fatalError(message::kFileNotFound, path);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Class path and module options

std::string classPathOption(const ClassPathOverrides& overrides, const std::vector<std::string>& archives,
                            const std::string& configuredClassPath) {
    std::string path;
    if (overrides.prepend && !overrides.prepend->empty()) {
        path += *overrides.prepend;
        path += ';';
    }
    for (const std::string& archive : archives) {
        path += archive;
        path += ';';
    }
    path += overrides.replacement ? *overrides.replacement : configuredClassPath;
    if (overrides.append) {
        if (!path.empty() && path.back() != ';') path += ';';
        path += *overrides.append;
    }
    if (!path.empty() && path.back() == ';') path.pop_back();
    return "-Djava.class.path=" + path;
}

std::string runtimeModuleName(bool installerProgram) {
    return installerProgram ? "com.tovrix.runtime" : "com.kelpa.runtime";
}

std::vector<std::string> moduleOptions(const std::string& modulePath, bool mainClassInModule,
                                       const std::string& mainClass, const std::string& runtimeModule) {
    std::vector<std::string> out;
    std::string path = modulePath;
    if (!path.empty() && path.back() == ';') path.pop_back();
    if (path.empty()) return out;
    out.push_back("--module-path=" + path);
    const std::size_t slash = mainClass.find('/');
    if (mainClassInModule) {
        const std::size_t dot = mainClass.rfind('.');
        if (slash != std::string::npos && dot != std::string::npos && dot > slash)
            out.push_back("--add-opens=" + mainClass.substr(0, dot) + "=" + runtimeModule);
    }
    std::string modules = "--add-modules=";
    if (mainClassInModule) modules += mainClass.substr(0, slash) + ",";
    out.push_back(modules + runtimeModule);
    return out;
}

void mergeModuleOptions(std::vector<std::string>& options) {
    static const char* const kNames[] = {"--upgrade-module-path", "--add-modules", "--limit-modules", "--add-exports",
                                         "--add-opens",           "--add-reads",   "--patch-module"};
    auto isModuleOption = [](const std::string& option) {
        for (const char* name : kNames)
            if (option == name) return true;
        return false;
    };
    std::vector<std::string> merged;
    merged.reserve(options.size());
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (isModuleOption(options[i]) && i + 1 < options.size()) {
            merged.push_back(options[i] + "=" + options[i + 1]);
            ++i;
        } else {
            merged.push_back(std::move(options[i]));
        }
    }
    options = std::move(merged);
}

// ---------------------------------------------------------------------------
// Version-specific parameters, default options file, launcher properties

int findVersionSpecificRow(const std::string& version) {
    const int rows = getConfigInt(config::kVersionRowCount);
    if (rows <= 0 || version.empty()) return -1;
    logMessage(W("check %d version specific vm option lines for %S"), rows, version.c_str());
    for (int k = 0; k < rows; ++k) {
        const long long prefixId = config::kVersionRowsFirst + 2LL * k;
        if (prefixId + 1 > INT32_MAX) break;
        const std::string prefix = configText(static_cast<std::int32_t>(prefixId));
        logMessage(W("checking version %S %d"), prefix.c_str(), k);
        if (version.compare(0, prefix.size(), prefix) == 0) return k;
    }
    return -1;
}

std::vector<wstring> defaultOptionsFileNames(const wstring& longPath, const wstring& moduleFileName) {
    const wstring extension = W(".vmoptions");
    std::vector<wstring> names;
    auto add = [&names](const wstring& name) {
        for (const wstring& known : names)
            if (known == name) return;
        names.push_back(name);
    };
    for (const wstring* path : {&longPath, &moduleFileName}) {
        if (path->empty()) continue;
        if (path->size() >= 4) add(path->substr(0, path->size() - 4) + extension);
        add(*path + extension);
    }
    return names;
}

std::string libraryPathOption(const std::string& path) {
    const std::string prefix = "-Djava.library.path=";
    std::string option = prefix + path;
    if (option.size() <= kLibraryPathOptionBytes) return option;
    std::size_t cut = option.rfind(';', kLibraryPathOptionBytes);
    if (cut == std::string::npos || cut < prefix.size()) cut = prefix.size();
    logError(W("java.library.path cut to %d of %d bytes"), static_cast<int>(cut), static_cast<int>(option.size()));
    option.resize(cut);
    return option;
}

std::vector<std::string> launcherPropertyOptions(const LauncherProperties& properties) {
    std::vector<std::string> options;
    if (!properties.semaphoreName.empty()) options.push_back("-Dkelpa.semaphoreName=" + properties.semaphoreName);
    if (properties.manualJre) options.push_back("-Dkelpa.manualJre=true");
    if (properties.installerProgram) options.push_back("-Dkelpa.isTovrix=true");
    options.push_back("-Dkelpa.moduleName=" + properties.executablePath);
    options.push_back("-Dsun.java.command=" + properties.executablePath);
    options.push_back("-Dkelpa.tempDir=" + properties.extractionDirectory);
    options.push_back("-Dkelpa.unextractedPosition=" + std::to_string(properties.unextractedPosition));
    options.push_back(libraryPathOption(properties.path));
    if (properties.consoleCodePage)
        options.push_back("-Dkelpa.consoleCodepage=cp" + std::to_string(*properties.consoleCodePage));
    return options;
}

// ---------------------------------------------------------------------------
// Assembly

std::vector<std::string> assembleVmOptions(const std::vector<std::string>& propertyOptions, const ArgumentVector& words,
                                           const VmOptionInputs& inputs, const VmOptionServices& services) {
    VmOptionList list(services);
    list.options = propertyOptions;

    logMessage(W("adding options"));
    list.addConfiguredWords(widenBytes(configText(config::kVmParameters)));

    const int row = findVersionSpecificRow(inputs.jvmVersion);
    if (row >= 0) {
        const wstring text = widenBytes(configText(config::kVersionRowsFirst + 1 + 2 * row));
        logMessage(W("adding specific %s"), text.c_str());
        list.addConfiguredWords(text);
    }

    if (getConfigInt(config::kJavaOptionWords) != 0)
        for (const wstring& word : words)
            if (startsWith(word, W("-J"))) list.processOptionLine(word.substr(2));

    const wstring formatSwitch = W("-Dsun.locale.formatasdefault=");
    const wstring* localeWord = nullptr;
    for (const wstring& word : words)
        if (startsWith(word, formatSwitch)) localeWord = &word;
    if (localeWord) {
        list.processOptionLine(*localeWord);
        if (*localeWord != formatSwitch + W("true")) {
            std::string code;
            if (getLanguage(code)) list.processOptionLine(formatWide(W("-Duser.language=%S"), code.c_str()));
            if (getCountry(code)) list.processOptionLine(formatWide(W("-Duser.country=%S"), code.c_str()));
        }
    }

    if (getConfigInt(config::kReadDefaultOptionsFile) != 0) {
        std::unique_ptr<OptionsFile> file;
        for (const wstring& name : inputs.defaultOptionsFiles)
            if ((file = services.openFile(name))) break;
        logMessage(W("default vmoptions file: %p"), file ? file->handle() : nullptr);
        list.readOptionsFile(file.get(), nullptr);
    }

    // The module path decides where the extracted archives go, so it is
    // resolved before the class path is built.
    std::string modulePath;
    logMessage(W("adding preconfigured modulepath"));
    if (!resolvePathEntries(132, PathListKind::ModulePath, modulePath, services)) return {};
    const bool mainClassInModule = getConfigInt(config::kMainClassInModule) != 0;
    const std::vector<std::string> extracted = archivesIn(inputs.extractionDirectory, services);
    const bool extractedToModulePath = !modulePath.empty() || mainClassInModule;

    std::vector<std::string> classPathArchives;
    if (!extractedToModulePath) classPathArchives = extracted;
    if (!inputs.extractionDirectory.empty())
        for (const std::string& archive : archivesIn(inputs.extractionDirectory + "\\user", services))
            classPathArchives.push_back(archive);
    std::string configuredClassPath;
    if (!list.overrides.replacement) {
        logMessage(W("adding preconfigured classpath"));
        if (!resolvePathEntries(121, PathListKind::ClassPath, configuredClassPath, services)) return {};
    }
    list.options.push_back(classPathOption(list.overrides, classPathArchives, configuredClassPath));

    if (extractedToModulePath)
        for (const std::string& archive : extracted) modulePath += archive + ";";
    for (std::string& option : moduleOptions(modulePath, mainClassInModule, configText(config::kMainClass),
                                             runtimeModuleName(programKind().installer)))
        list.options.push_back(std::move(option));

    mergeModuleOptions(list.options);
    return list.options;
}
