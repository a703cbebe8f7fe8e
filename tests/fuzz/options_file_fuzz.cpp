// The VM option assembly: options files with nested includes and variable
// expansion, the configured words, the path entry lists, through in-memory
// services.  Input: one byte (bits 0-5: how many bytes a file read delivers,
// bit 6: the main class is in a module), then pieces split at 0 bytes:
//   0: configuration lines: VM parameters, class path entries, module path
//      entries, main class, the command line;
//   1: the environment, "NAME=VALUE" lines;
//   2..7: the files C:\app\a (the default options file) to C:\app\f.
// The file service opens at most kOpens files per input and then reports
// them missing: a file including itself twice would otherwise make every
// such input read the list's full 256 files, and the fuzzer would spend its
// time there.  The depth and file count limits are the unit tests' part.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jvm/vm_options.h"
#include "launcher/config_store.h"
#include "launcher/expand_variables.h"
#include "launcher/path_ops.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr int kOpens = 8;

class MemoryFile : public OptionsFile {
public:
    MemoryFile(const std::string& bytes, std::size_t step) : bytes_(bytes), step_(step) {}
    std::size_t read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, step_, bytes_.size() - at_});
        std::copy(bytes_.begin() + static_cast<long>(at_), bytes_.begin() + static_cast<long>(at_ + n), buffer);
        at_ += n;
        return n;
    }
    const void* handle() const override { return this; }

private:
    const std::string& bytes_;
    std::size_t step_;
    std::size_t at_ = 0;
};

std::string narrow(const wstring& text) {
    std::string out;
    for (wchar c : text) out.push_back(c > 0xFF ? '?' : static_cast<char>(c));
    return out;
}

std::string lineOf(const std::vector<std::string>& lines, std::size_t index) {
    return index < lines.size() ? lines[index] : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = 1 + (data[0] & 0x3F) * 97;
    const bool mainClassInModule = (data[0] & 0x40) != 0;
    const auto pieces = fuzz::split(data + 1, size - 1, '\0', 8);
    const auto config = fuzz::split(reinterpret_cast<const std::uint8_t*>(pieces[0].data()), pieces[0].size(), '\n', 5);

    std::map<std::string, const std::string*> files;  // lower-case path -> bytes
    for (std::size_t i = 2; i < pieces.size(); ++i)
        files[std::string("c:\\app\\") + static_cast<char>('a' + i - 2)] = &pieces[i];

    ExpansionValues<wchar> wideValues{W("C:\\app\\"), W("C:\\tmp\\e4j1"), W("C:\\jre"), W("C:\\tmp"), {}};
    ExpansionValues<char> narrowValues{"C:\\app\\", "C:\\tmp\\e4j1", "C:\\jre", "C:\\tmp", {}};
    if (pieces.size() > 1) {
        for (const std::string& entry :
             fuzz::split(reinterpret_cast<const std::uint8_t*>(pieces[1].data()), pieces[1].size(), '\n', 8)) {
            const std::size_t equals = entry.find('=', 1);
            if (equals == std::string::npos) continue;
            narrowValues.environment.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
            wideValues.environment.emplace_back(widenBytes(entry.substr(0, equals)),
                                                widenBytes(entry.substr(equals + 1)));
        }
    }

    VmOptionServices services;
    services.toEightBit = narrow;
    services.expandWide = [&](wstring& text, bool) { expandVariables(text, wideValues); };
    services.expandNarrow = [&](std::string& text) { expandVariables(text, narrowValues); };
    int opens = 0;
    services.openFile = [&](const wstring& path) -> std::unique_ptr<OptionsFile> {
        if (++opens > kOpens) return nullptr;
        const auto found = files.find(lowerAscii(narrow(path)));
        if (found == files.end()) return nullptr;
        return std::make_unique<MemoryFile>(*found->second, step);
    };
    services.executableLongDirectory = W("C:\\app\\");
    services.makeAbsolute = [](const std::string& path) { return resolveAgainst(std::string("C:\\app\\"), path); };
    services.makeAbsoluteList = services.makeAbsolute;
    services.fileExists = [&](const std::string& path) { return files.count(lowerAscii(path)) != 0; };
    services.environmentVariable = [&](const std::string& name, std::string& value) {
        for (const auto& [known, text] : narrowValues.environment)
            if (known == name) {
                value = text;
                return true;
            }
        return false;
    };
    services.listFiles = [&](const std::string& directory, const char* extension) {
        std::vector<std::string> names;
        const std::string base = lowerAscii(directory.back() == '\\' ? directory : directory + '\\');
        for (const auto& [path, bytes] : files)
            if (path.compare(0, base.size(), base) == 0 && directoryOf(path) == base && path.size() > 4 &&
                path.substr(path.size() - 3) == extension)
                names.push_back(path.substr(base.size()));
        return names;
    };
    bool fatal = false;
    services.fatalError = [&](std::int32_t, const std::string&) { fatal = true; };

    ConfigStore& store = configStore();
    store = ConfigStore();
    store.values[config::kVmParameters] = lineOf(config, 0);
    store.values[config::kClassPath] = lineOf(config, 1);
    store.values[config::kModulePath] = lineOf(config, 2);
    store.values[config::kMainClass] = lineOf(config, 3);
    store.values[config::kMainClassInModule] = mainClassInModule ? "1" : "0";
    store.values[config::kJavaOptionWords] = "1";
    store.values[config::kReadDefaultOptionsFile] = "1";
    store.values[config::kVersionRowCount] = "1";
    store.values[config::kVersionRowsFirst] = "1.8";
    store.values[config::kVersionRowsFirst + 1] = "-include-options b -Dspecific=1";
    store.values[config::kProgramKind] = "i";
    store.language = "de";

    ArgumentVector words;
    splitCommandLine(widenBytes(lineOf(config, 4)), words);
    VmOptionInputs inputs;
    inputs.jvmVersion = "1.8.0_191";
    inputs.extractionDirectory = "C:\\app";
    inputs.defaultOptionsFiles = {W("C:\\app\\missing.vmoptions"), W("C:\\app\\a")};
    const std::vector<std::string> options = assembleVmOptions({"-Dkelpa.tempDir=C:\\tmp"}, words, inputs, services);
    FUZZ_CHECK(fatal || !options.empty());
    for (const std::string& option : options) FUZZ_CHECK(!option.empty());
    // Nothing of this input outlives it (libFuzzer takes memory that does for
    // a leak and checks every such input again).
    store = ConfigStore();
    return 0;
}
