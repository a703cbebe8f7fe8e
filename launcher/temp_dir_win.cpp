#include "launcher/temp_dir.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "launcher/block_format.h"
#include "launcher/config.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/payload.h"
#include "launcher/system_calls.h"
#include "launcher/system_paths.h"
#include "launcher/temp_candidates.h"
#include "launcher/win_handles.h"

namespace {

struct TempState {
    wstring manualWide;
    std::string manual;
    wstring cachedWide;
    std::string cached;
    bool relaxed = false;
    std::int64_t unextractedPosition = 0;
};
TempState g_temp;

constexpr std::uint32_t kExtractChunk = 6000;

unsigned secondsNow() { return static_cast<unsigned>(std::time(nullptr)); }

// The seed the launcher has always used for its throw-away names.
void seedRandom() { std::srand(secondsNow() * static_cast<unsigned>(GetCurrentProcessId())); }

// Win32 calls over both character types, so the probe and the search are
// written once.
struct Api8 {
    using Char = char;
    using String = std::string;
    static BOOL createDirectory(const String& p) { return CreateDirectoryA(p.c_str(), nullptr); }
    static BOOL removeDirectory(const String& p) { return RemoveDirectoryA(p.c_str()); }
    static bool exists(const String& p) { return fileExists(p); }
    static String testDirectory(const String& dir, DWORD pid, int random) {
        return dir + "\\klptw" + std::to_string(pid) + std::to_string(random);
    }
    // The long name must not contain "?", the mark of a character the 8-bit
    // file code page could not hold.
    static bool longNameRepresentable(const String& p) {
        const String longName = longPathName(p);
        const String& name = longName.empty() ? p : longName;
        return name.find('?') == String::npos;
    }
    static String environment(const char* name) { return environmentValue(name); }
    static void logCandidate(const String& dir, const char* source, bool usable) {
        logMessage(L"temp dir candidate %S (%S): %S", dir.c_str(), source, usable ? "usable" : "not usable");
    }
};

struct ApiWide {
    using Char = wchar_t;
    using String = wstring;
    static BOOL createDirectory(const String& p) { return CreateDirectoryW(p.c_str(), nullptr); }
    static BOOL removeDirectory(const String& p) { return RemoveDirectoryW(p.c_str()); }
    static bool exists(const String& p) { return fileExists(p); }
    static String testDirectory(const String& dir, DWORD pid, int random) {
        return dir + L"\\klptw" + std::to_wstring(pid) + std::to_wstring(random);
    }
    static bool longNameRepresentable(const String& p) {
        const String longName = longPathName(p);
        const String& name = longName.empty() ? p : longName;
        bool lost = false;
        const std::string narrow = toFileCodePage(name, lost);
        return !lost && narrow.find('?') == std::string::npos;
    }
    static String environment(const char* name) { return environmentValue(widenBytes(name).c_str()); }
    static void logCandidate(const String& dir, const char* source, bool usable) {
        logMessage(L"temp dir candidate %s (%S): %S", dir.c_str(), source, usable ? "usable" : "not usable");
    }
};

template <typename Api>
bool probe(const typename Api::String& directory, bool createFirst, bool checkLongName) {
    if (directory.empty()) return false;
    if (createFirst) Api::createDirectory(directory);
    if (checkLongName && !Api::longNameRepresentable(directory)) return false;
    seedRandom();
    const typename Api::String test = Api::testDirectory(directory, GetCurrentProcessId(), std::rand());
    Api::removeDirectory(test);
    if (!Api::createDirectory(test)) return false;
    const bool exists = Api::exists(test);
    Api::removeDirectory(test);
    return exists;
}

template <typename Api>
typename Api::String findTempBase() {
    TempSources<typename Api::Char> sources;
    sources.windowsTemp = tempPath<typename Api::Char>();
    sources.userProfile = Api::environment("USERPROFILE");
    sources.homeDrive = Api::environment("HOMEDRIVE");
    sources.homePath = Api::environment("HOMEPATH");
    sources.windowsDirectory = windowsDirectory<typename Api::Char>();
    for (const auto& candidate : tempBaseCandidates(sources)) {
        if (candidate.secondPass) g_temp.relaxed = true;
        if (candidate.directory.empty()) continue;
        const bool usable = probe<Api>(candidate.directory, candidate.createFirst, candidate.checkLongName);
        Api::logCandidate(candidate.directory, candidate.source, usable);
        if (usable) return candidate.directory;
    }
    return {};
}

}  // namespace

bool probeTempBase(const std::string& directory, bool createFirst, bool checkLongName) {
    return probe<Api8>(directory, createFirst, checkLongName);
}

bool probeTempBase(const wstring& directory, bool createFirst, bool checkLongName) {
    return probe<ApiWide>(directory, createFirst, checkLongName);
}

std::string getTempDirectory() {
    if (!g_temp.manual.empty()) return g_temp.manual;
    if (g_temp.cached.empty()) g_temp.cached = findTempBase<Api8>();
    if (g_temp.cached.empty()) fatalConfiguredError(message::kNoTempDirectory);
    return g_temp.cached;
}

wstring getTempDirectoryWide(bool fatalWhenNone) {
    if (!g_temp.manualWide.empty()) return g_temp.manualWide;
    if (g_temp.cachedWide.empty()) g_temp.cachedWide = findTempBase<ApiWide>();
    if (g_temp.cachedWide.empty() && fatalWhenNone) fatalConfiguredError(message::kNoTempDirectory);
    return g_temp.cachedWide;
}

void setManualTempBase(const wstring& wide, const std::string& eightBit) {
    g_temp.manualWide = wide;
    g_temp.manual = eightBit;
}

bool tempSearchRelaxed() { return g_temp.relaxed; }

std::string temporaryFileName() {
    std::string base = getTempDirectory();
    logMessage(L"tempPath is %S", base.c_str());
    char name[MAX_PATH + 16];
    std::string result;
    if (system_calls::GetTempFileNameA(base.c_str(), "klp", 0, name)) {
        result = name;
    } else {
        logMessage(L"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        if (base.empty() || (base.back() != '\\' && base.back() != '/')) base += '\\';
        seedRandom();
        result = base + "klp" + std::to_string(std::rand());
    }
    logMessage(L"tempFile is %S", result.c_str());
    return result;
}

void createTempDirectory() {
    std::string& directory = launcherState().extractionDirectory;
    for (int attempt = 0; attempt < 10; ++attempt) {
        directory = temporaryFileName() + "_dir" + std::to_string(secondsNow());
        logMessage(L"Temp dir3: %S", directory.c_str());
        if (system_calls::CreateDirectoryA(directory.c_str(), nullptr)) return;
        logMessage(L"Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    directory.clear();
    fatalInternalError(InternalError::NoExtractionDirectory);
}

std::int64_t unextractedPosition() { return g_temp.unextractedPosition; }

namespace {

// Copies `size` bytes from the installer into `out`, unscrambling them.
// Returns 0, 1 (read failed) or 2 (write failed).
int copyPayloadFile(FileSource& source, HANDLE out, std::int64_t size) {
    std::vector<unsigned char> buffer(kExtractChunk);
    std::int64_t copied = 0;
    while (copied < size) {
        const std::int64_t left = size - copied;
        const std::uint32_t want = left < kExtractChunk ? static_cast<std::uint32_t>(left) : kExtractChunk;
        std::uint32_t got = 0, error = 0;
        if (!source.read(buffer.data(), want, got, error) || got == 0) {
            logError(L"ReadFile failed %d %d %I64d", static_cast<int>(got), static_cast<int>(error), copied);
            return 1;
        }
        for (std::uint32_t i = 0; i < got; ++i) buffer[i] ^= block::kPayloadKey;
        std::uint32_t written = 0;
        while (written < got) {
            DWORD n = 0;
            if (!system_calls::WriteFile(out, buffer.data() + written, got - written, &n, nullptr) || n == 0) {
                logError(L"WriteFile failed %d %d", static_cast<int>(got - written), static_cast<int>(GetLastError()));
                return 2;
            }
            written += n;
        }
        copied += got;
    }
    return 0;
}

}  // namespace

int extractPayload() {
    logMessage(L"extracting files");
    const int count = getConfigInt(config::kPayloadCount);
    logMessage(L"Included files: %d", count);
    if (count <= 0) return 0;

    UniqueFile file = openOwnExecutable();
    FileSource source(file.get());
    BlockReader reader(source);
    if (!source.seek(payloadOffset())) fatalText(readFailureText(ReadFailure::Long));
    const std::string& directory = launcherState().extractionDirectory;

    for (const std::string& name : payloadNamesToExtract(getConfigStringCopy(config::kPayloadNames), count)) {
        // Every name must stay inside the extraction directory: an absolute
        // name or a ".." step is refused before anything is written.
        if (!isSafePayloadName(name)) {
            logError(L"payload name %S leaves the extraction directory", name.c_str());
            fatalInternalError(InternalError::PayloadFileNotCreated);
        }
        const std::string subdirectory = payloadDirectoryPart(name);
        if (!subdirectory.empty()) {
            const std::string path = directory + "\\" + subdirectory;
            logMessage(L"creating directory %S", path.c_str());
            if (!system_calls::CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                logError(L"failed to create directory %S", path.c_str());
        }
        const std::string path = directory + "\\" + name;
        std::int64_t size = 0;
        if (!reader.readLong(size)) fatalText(readFailureText(ReadFailure::Long));
        logMessage(L"extracting %S (size: %I64d)", path.c_str(), size);
        if (size <= 0) continue;

        UniqueFile out(system_calls::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) {
            logError(L"Could not create file %S (%d)", path.c_str(), static_cast<int>(GetLastError()));
            fatalInternalError(InternalError::PayloadFileNotCreated);
        }
        int result = copyPayloadFile(source, out.get(), size);
        // A close that fails may have lost data Windows still held for the
        // file: the file counts as not written.
        if (!system_calls::CloseHandle(out.release()) && result == 0) {
            logError(L"CloseHandle failed %d", static_cast<int>(GetLastError()));
            result = 2;
        }
        if (result != 0) {
            logError(L"Failed to extract %S", path.c_str());
            return result;
        }
    }
    g_temp.unextractedPosition = source.position();
    file.reset();
    logMessage(L"extracting files done");
    return 0;
}

void extractPayloadOrEnd(HWND owner) {
    const int result = extractPayload();
    if (result == 0) return;
    if (!launcherState().quiet)
        showInstallerMessage(result == 2 ? message::kNotEnoughDiskSpace : message::kInstallerCorrupted, owner);
    exitWithCleanup(1);
}

void emptyDirectory(const std::string& directory, bool recurse) {
    if (directory.empty() || directory[0] == '.') return;
    logMessage(L"emptying %S", directory.c_str());
    std::string prefix = directory;
    if (prefix.back() != '\\') prefix += '\\';
    WIN32_FIND_DATAA entry;
    UniqueFind find(FindFirstFileA((prefix + "*.*").c_str(), &entry));
    if (!find) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = prefix + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage(L"attempting to remove %S (%d)", path.c_str(), recurse ? 1 : 0);
            // Every level is emptied: an unpacked Java runtime is a deep tree.
            // A junction or link is removed itself, never followed out of the
            // directory.
            if (recurse && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) emptyDirectory(path, true);
            system_calls::RemoveDirectoryA(path.c_str());
        } else {
            logMessage(L"attempting to delete %S", path.c_str());
            system_calls::DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(find.get(), &entry));
}
