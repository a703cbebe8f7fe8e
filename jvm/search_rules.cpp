#include "jvm/search_rules.h"

#include <algorithm>

#include "launcher/config_ids.h"
#include "launcher/path_ops.h"

const char* const kJvmCacheKey = "SOFTWARE\\quillmoor\\kelpa\\jvms\\";
const char* const kLocatedJvmsKey = "SOFTWARE\\quillmoor\\kelpa\\locatedjvms\\";

std::vector<SearchEntry> parseSearchSequence(const std::string& sequence) {
    std::vector<SearchEntry> entries;
    std::size_t start = 0;
    while (start < sequence.size()) {
        std::size_t end = sequence.find(';', start);
        if (end == std::string::npos) end = sequence.size();
        if (end > start) entries.push_back(SearchEntry{sequence[start], sequence.substr(start + 1, end - start - 1)});
        start = end + 1;
    }
    return entries;
}

bool isAbsoluteSearchArgument(const std::string& argument) {
    if (argument.size() <= 1) return false;
    return argument[1] == ':' || (argument[0] == '\\' && argument[1] == '\\');
}

bool reconsideredInFallback(const SearchEntry& entry) {
    if (entry.kind == 'B') return true;
    return (entry.kind == 'A' || entry.kind == 'R') && !isAbsoluteSearchArgument(entry.argument);
}

std::optional<std::string> preferenceLine(const std::string& text) {
    const std::size_t limit = std::min(text.size(), kPreferenceLineLimit);
    std::size_t end = 0;
    while (end < limit && text[end] != '\n') ++end;
    std::string line = text.substr(0, end);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

std::string windowedJavaExecutable(const std::string& javaExecutable) {
    if (javaExecutable.size() < 4) return javaExecutable + "w.exe";
    return javaExecutable.substr(0, javaExecutable.size() - 4) + "w.exe";
}

std::string jvmHomeOf(const std::string& javaExecutable) { return directoryOf(javaExecutable) + ".."; }

std::string javaBinDirectory(const std::string& javaExecutable) {
    std::string directory = directoryOf(javaExecutable);
    if (!directory.empty()) directory.pop_back();
    return directory;
}

std::string innerJreJavaExecutable(const std::string& javaExecutable) {
    return directoryOf(javaExecutable) + "..\\jre\\bin\\java.exe";
}

std::vector<std::string> jvmDllCandidates(const std::string& binDirectory, const std::string& configuredVariant) {
    std::vector<std::string> candidates;
    if (!configuredVariant.empty()) candidates.push_back(binDirectory + "\\" + configuredVariant + "\\jvm.dll");
    for (const char* variant : {"hotspot", "client", "server", "classic", "jrockit"})
        candidates.push_back(binDirectory + "\\" + variant + "\\jvm.dll");
    return candidates;
}

std::string pathWithAppended(const std::string& path, const std::string& directory) {
    return path.empty() ? directory : path + ";" + directory;
}

std::string nativeLibraryPath(const std::string& directories, const std::string& path, std::size_t limit) {
    std::string value = directories;
    if (!value.empty() && value.back() != ';') value += ';';
    value += path;
    if (value.size() <= limit) return value;
    // Keep whole entries only: a directory cut in the middle would name
    // another directory.
    const std::size_t cut = value.rfind(';', limit);
    return cut == std::string::npos ? std::string() : value.substr(0, cut);
}

namespace {
std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}
}  // namespace

std::string jvmCacheKeyName(const std::string& javaExecutable) { return kJvmCacheKey + slashed(javaExecutable); }

std::string locatedJvmKeyName(const std::string& javaExecutable) { return kLocatedJvmsKey + slashed(javaExecutable); }

std::string pathFromLocatedKey(const std::string& subkeyName) {
    std::string path = subkeyName;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

FailureMessage searchFailureMessage(JvmSource source, const std::string& sourceName, int bits) {
    const bool wide = bits == 64;
    switch (source) {
        case JvmSource::SystemPath: return noJvmMessage(bits);
        case JvmSource::Location: return {wide ? message::kJvmDamaged64 : message::kJvmDamaged32, sourceName};
        case JvmSource::Environment:
            return {wide ? message::kVariableNotWorking64 : message::kVariableNotWorking32, sourceName};
        default: return {message::kJvmNotStarted, std::nullopt};
    }
}

FailureMessage noJvmMessage(int bits) { return {message::kNoJvmOfBitWidth, std::to_string(bits)}; }
