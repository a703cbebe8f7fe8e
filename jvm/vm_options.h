// The VM option list the launcher hands to JNI_CreateJavaVM: the launcher's own
// properties, the configured VM parameters, version-specific parameters, "-J"
// words and the locale switch of the command line, the options file beside the
// executable (with nested includes), the class path and the module path.
//
// This header is the contract between the portable assembly (vm_options.cpp,
// plain functions over strings that also build natively on Linux) and the
// Windows layer (vm_options_win.cpp), which supplies the file system, the
// environment, code page conversion and the fatal error path through
// `VmOptionServices`, and wraps the result into the JNI init arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/command_line.h"
#include "launcher/text.h"

// An options-file line holds at most this many bytes; a longer line is read as
// several lines.
constexpr std::size_t kOptionsLineBytes = 29999;
// An options file may include others up to this many files deep (the file
// that starts the chain counts as the first).  Deeper includes are refused
// with a logged error, which stops a file that includes itself.
constexpr int kOptionsIncludeDepth = 16;
// At most this many options files are read for one option list, so that a
// file including itself several times cannot multiply into millions of reads.
constexpr int kOptionsFilesPerList = 256;
// The java.library.path option holds at most this many bytes (it fits a
// 12,000-byte buffer with its terminator).
constexpr std::size_t kLibraryPathOptionBytes = 11999;

// Text set by the three class path directives; a later directive of the same
// kind replaces the earlier value.
struct ClassPathOverrides {
    std::optional<std::string> replacement;  // "-classpath "
    std::optional<std::string> prepend;      // "-classpath/p "
    std::optional<std::string> append;       // "-classpath/a "
};

// An open options file.
class OptionsFile {
public:
    virtual ~OptionsFile() = default;
    // Up to `capacity` bytes of the file; 0 at its end or on a read error.
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
    // The system's handle of the file, for the log.
    virtual const void* handle() const = 0;
};

// Reads the lines of an options file as the C runtime's text mode does: "\r\n"
// reads as "\n", a Ctrl-Z byte ends the file, and a line is cut after
// `kOptionsLineBytes` bytes (the rest is the next line).  A line keeps its
// "\n".
class OptionsFileLines {
public:
    explicit OptionsFileLines(OptionsFile& file) : file_(file) {}
    // False at the end of the file.
    bool next(std::string& line);

private:
    int get();
    int peek();
    OptionsFile& file_;
    char buffer_[4096];
    std::size_t position_ = 0;
    std::size_t size_ = 0;
    bool end_ = false;
};

// Removes trailing carriage returns and line feeds, then leading and trailing
// blanks (not tabs).  False when the line adds nothing: empty, or a "#"
// comment.
bool trimOptionsFileLine(std::string& line);

// What the option assembly needs from the system.  The Windows layer fills it
// with the launcher's own operations; unit tests fill it with doubles.
struct VmOptionServices {
    // UTF-16 to the 8-bit file code page; characters it cannot hold become "?".
    std::function<std::string(const wstring&)> toEightBit;
    // Variable expansion in place, UTF-16 (with 8-bit-safe values or not) and
    // 8-bit.
    std::function<void(wstring&, bool eightBitSafe)> expandWide;
    std::function<void(std::string&)> expandNarrow;
    // Opens an options file for reading; null when it cannot be opened.
    std::function<std::unique_ptr<OptionsFile>(const wstring& path)> openFile;
    // The directory of the executable's long path, with a trailing backslash:
    // the base of includes that have no including file.
    wstring executableLongDirectory;
    // 8-bit path resolution against the executable directory, for one path and
    // for a ";"-separated list.
    std::function<std::string(const std::string&)> makeAbsolute;
    std::function<std::string(const std::string&)> makeAbsoluteList;
    std::function<bool(const std::string&)> fileExists;
    // The variable's value in the file code page; false when it is not defined.
    std::function<bool(const std::string& name, std::string& value)> environmentVariable;
    // Names of the files (not directories) directly in `directory` whose
    // extension is `extension` (without regard to case), in listing order.
    std::function<std::vector<std::string>(const std::string& directory, const char* extension)> listFiles;
    // Ends the launcher with configured message `id`, "{0}" replaced by
    // `argument`.  The launcher's reporter never returns; when a test double
    // does, the assembly stops and returns an empty list.
    std::function<void(std::int32_t id, const std::string& argument)> fatalError;
};

// One option list under construction, with its class path overrides.
class VmOptionList {
public:
    explicit VmOptionList(const VmOptionServices& services) : services_(services) {}

    // Handles one option: an include directive ("-include-options " and a
    // file, relative to `includingFile` or, without one, to the executable's
    // long directory), a class path directive ("-classpath ", "-classpath/p ",
    // "-classpath/a " and its value), or anything else, which is appended.
    // Empty options are left out (the VM would refuse to start with one).
    void processOptionLine(const wstring& text, const wstring* includingFile = nullptr);
    // Handles every line of an options file; `path` is the including file of
    // its includes (none: relative to the executable directory).  A null file
    // (one that could not be opened) adds nothing.
    void readOptionsFile(OptionsFile* file, const wstring* path);
    // A configured word list (the VM parameters, a version-specific text):
    // expanded with 8-bit-safe values, split like a command line, each word
    // handled as an option; "-include-options" before another word includes it.
    void addConfiguredWords(wstring text);

    std::vector<std::string> options;
    ClassPathOverrides overrides;

private:
    void include(const wstring& file, const wstring* includingFile);
    const VmOptionServices& services_;
    int depth_ = 0;      // options files open in the current include chain
    int filesRead_ = 0;  // options files read for this list
};

// Joins a word that is exactly "-include-options" and has a successor with
// that successor ("-include-options file"); every other word stays.
ArgumentVector joinIncludeWords(const ArgumentVector& words);

// A path entry of the lists of entries 121 and 132: kind letter, mandatory
// flag ("1") and the path or variable name.
struct PathEntry {
    char kind = '\0';
    bool mandatory = false;
    std::string value;
};
// The non-empty ";"-separated entries of a list.
std::vector<PathEntry> parsePathEntries(const std::string& list);
// An environment value that begins and ends with a double quote loses both.
std::string unquoteEnvironmentValue(const std::string& value);

enum class PathListKind { ClassPath, ModulePath };
// Appends the resolved entries of configuration entry `entryId` to `out`, each
// followed by ";".  False when a mandatory entry was missing and the fatal
// reporter returned (only a test double does).
bool resolvePathEntries(std::int32_t entryId, PathListKind kind, std::string& out, const VmOptionServices& services);

// The archives directly in `directory`: its "jar" files, then its "zip" files,
// as full paths.  None for an empty directory name.
std::vector<std::string> archivesIn(const std::string& directory, const VmOptionServices& services);

// "-Djava.class.path=" with the prepend text, the archives, the replacement or
// the configured class path and the append text; one trailing ";" removed.
std::string classPathOption(const ClassPathOverrides& overrides, const std::vector<std::string>& archives,
                            const std::string& configuredClassPath);

// "com.tovrix.runtime" for the installer program kind, "com.kelpa.runtime"
// for every other.
std::string runtimeModuleName(bool installerProgram);
// "--module-path=", "--add-opens=" (main class in a named module with a
// package) and "--add-modules="; nothing for an empty module path.
std::vector<std::string> moduleOptions(const std::string& modulePath, bool mainClassInModule,
                                       const std::string& mainClass, const std::string& runtimeModule);
// Joins a module option name ("--add-opens" and its relatives) with the option
// after it into "name=value".
void mergeModuleOptions(std::vector<std::string>& options);

// The row of the version-specific table (entries 10200 to 10202+2k) whose
// prefix begins `version`; the first match counts.  -1 when none matches, the
// table is empty or the version is unknown.
int findVersionSpecificRow(const std::string& version);

// The default options file beside the executable: its path with ".exe"
// replaced by ".vmoptions", then with ".vmoptions" appended, both first for
// the long path and then for the module file name (duplicates left out).
std::vector<wstring> defaultOptionsFileNames(const wstring& longPath, const wstring& moduleFileName);

// The launcher's own system properties.
struct LauncherProperties {
    std::string semaphoreName;  // empty: no single-instance semaphore
    bool manualJre = false;
    bool installerProgram = false;  // programKind().installer
    std::string executablePath;
    std::string extractionDirectory;
    std::int64_t unextractedPosition = 0;     // -1 when a language restart reused the earlier extraction
    std::string path;                         // PATH, file code page
    std::optional<unsigned> consoleCodePage;  // absent when MANPATH is set
};
std::vector<std::string> launcherPropertyOptions(const LauncherProperties& properties);
// "-Djava.library.path=" and the path, cut after its last whole entry that
// keeps the option within `kLibraryPathOptionBytes`.
std::string libraryPathOption(const std::string& path);

// What the assembly reads besides the configuration store.
struct VmOptionInputs {
    std::string jvmVersion;                    // of the selected JVM, "" when unknown
    std::string extractionDirectory;           // "" when there is none
    std::vector<wstring> defaultOptionsFiles;  // tried in order
};

// The complete option list in its order: property options, VM parameters,
// version-specific parameters, "-J" words, the locale switch, the default
// options file, the class path, the module path, then the module merge.
// Empty only when the fatal reporter returned.
std::vector<std::string> assembleVmOptions(const std::vector<std::string>& propertyOptions, const ArgumentVector& words,
                                           const VmOptionInputs& inputs, const VmOptionServices& services);

// The Windows layer's part; the portable core compiles without the JNI headers.
#if defined(_WIN32) && __has_include(<jni.h>)
#include <jni.h>

// The option strings and the JNI init arguments that point into them (JNI
// version 1.2, unrecognised options ignored).  Moving keeps the pointers
// valid; copying is not possible.
class VmOptions {
public:
    explicit VmOptions(std::vector<std::string> options);
    VmOptions(VmOptions&& other) noexcept;
    VmOptions& operator=(VmOptions&& other) noexcept;
    VmOptions(const VmOptions&) = delete;
    VmOptions& operator=(const VmOptions&) = delete;

    const std::vector<std::string>& options() const { return options_; }
    JavaVMInitArgs* initArgs() { return &args_; }

private:
    void bind();
    std::vector<std::string> options_;
    std::vector<JavaVMOption> jni_;
    JavaVMInitArgs args_{};
};

// The launcher's property options, in their order.  `semaphoreName` is the
// single-instance semaphore's name, empty when none was created.
std::vector<std::string> buildLauncherPropertyOptions(const std::string& semaphoreName = std::string());
// The complete option list for the selected JVM, logged option by option.
// `words` is the launcher's command line split by splitCommandLine.  Ends the
// launcher (messages 1006, 1008) when a mandatory path entry is missing.
VmOptions buildVmOptions(const std::vector<std::string>& propertyOptions, const ArgumentVector& words);
#endif
