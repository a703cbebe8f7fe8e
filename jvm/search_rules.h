// The decisions of the JVM search, probe and loader that need no Windows: the
// search sequence, preference-file lines, executable derivation, the jvm.dll
// candidates, PATH values, registry key names of the located-JVM lists and
// the failure message of a search.  Pure functions, no windows.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jvm/jvm_source.h"

// One entry of the configured search sequence: its first character is its
// kind (A, B, R location; E environment variable; S system path; Y registry;
// anything else is ignored by the search), the rest its argument.
struct SearchEntry {
    char kind;
    std::string argument;
};

// Entries separated by ";"; empty entries are dropped.
std::vector<SearchEntry> parseSearchSequence(const std::string& sequence);

// Longer than one character and either "X:..." or "\\...".
bool isAbsoluteSearchArgument(const std::string& argument);

// B entries, and A and R entries with a relative argument, are probed again
// (as written, accepting any version) after the first pass.
bool reconsideredInFallback(const SearchEntry& entry);

// Longest first line taken from a preference or installer file.
constexpr std::size_t kPreferenceLineLimit = 5999;

// The first line of a preference file's text (at most 5,999 bytes, trailing
// carriage returns and line feeds removed); nothing for an empty file or an
// empty first line.
std::optional<std::string> preferenceLine(const std::string& text);

// The java executable of a home directory D: D\jre\bin\java.exe.  When a JDK
// is required, the derivation holds only if D\lib\tools.jar exists (the
// candidate stays D\jre\bin\java.exe); otherwise a missing D\jre\bin\java.exe
// gives D\bin\java.exe, and the derivation always holds (checkJavaExe tests
// that executable's existence).
struct Derivation {
    std::string javaExecutable;
    bool holds = false;
};
template <typename Exists>
Derivation deriveJavaExecutable(const std::string& home, bool jdkRequired, Exists exists) {
    Derivation out{home + "\\jre\\bin\\java.exe", true};
    if (jdkRequired) {
        out.holds = exists(home + "\\lib\\tools.jar");
    } else if (!exists(out.javaExecutable)) {
        out.javaExecutable = home + "\\bin\\java.exe";
    }
    return out;
}

// "...\java.exe" becomes "...\javaw.exe" (the last four characters, ".exe",
// replaced by "w.exe").
std::string windowedJavaExecutable(const std::string& javaExecutable);

// The runtime's home as the rest of the launcher sees it: the executable's
// directory followed by "..".
std::string jvmHomeOf(const std::string& javaExecutable);

// The directory of the java executable without the trailing backslash: the
// runtime's bin directory, where jvm.dll variants and its libraries live.
std::string javaBinDirectory(const std::string& javaExecutable);

// The java executable of the JRE inside a JDK, beside the given executable's
// directory: "<dir>\..\jre\bin\java.exe".
std::string innerJreJavaExecutable(const std::string& javaExecutable);

// jvm.dll candidates of a bin directory in the order they are tried: the
// configured variant first when there is one, then hotspot, client, server,
// classic and jrockit.
std::vector<std::string> jvmDllCandidates(const std::string& binDirectory, const std::string& configuredVariant);

// PATH with a directory appended ("PATH;dir", or "dir" when PATH is empty).
std::string pathWithAppended(const std::string& path, const std::string& directory);

// Largest PATH value the native library set-up writes.
constexpr std::size_t kNativePathLimit = 48000;

// The native library directories in front of PATH: the list, ";" unless the
// list is empty or ends with one, then PATH.  A value over the limit keeps
// only the whole entries that fit.
std::string nativeLibraryPath(const std::string& directories, const std::string& path,
                              std::size_t limit = kNativePathLimit);

// Registry key names (under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) of the
// located-JVM cache and list: the prefix, then the path with "\" as "/".
extern const char* const kJvmCacheKey;     // SOFTWARE\quillmoor\kelpa\jvms\ .
extern const char* const kLocatedJvmsKey;  // SOFTWARE\quillmoor\kelpa\locatedjvms\ .
std::string jvmCacheKeyName(const std::string& javaExecutable);
std::string locatedJvmKeyName(const std::string& javaExecutable);
// A subkey name of the located-JVM list turned back into a path.
std::string pathFromLocatedKey(const std::string& subkeyName);

// What a failed LoadDLL shows: message id and its "{0}" argument, chosen by
// the source of the last candidate that passed its probe.  `bits` is the
// launcher's own width ("32" or "64"); the 64-bit build uses the 64-bit forms
// of the variable and location messages.
struct FailureMessage {
    std::int32_t id;
    std::optional<std::string> argument;  // none: the message is shown as it stands
};
FailureMessage searchFailureMessage(JvmSource source, const std::string& sourceName, int bits);
// The message for "nothing found" and for an unusable given runtime.
FailureMessage noJvmMessage(int bits);
