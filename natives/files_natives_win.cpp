// Natives of the Java classes FolderInfo and FileVersion: special folders, a
// path from the Windows "CurrentVersion" key, the Windows and system
// directories, drive types, short and universal names, and the comparison of
// two files' fixed file versions.  (ACLHandling is acl_natives_win.cpp.)
//
// Optional functions are found through natives/file_functions.h; what the
// folder codes mean and how versions compare is natives/file_rules.h.  Every
// answer Windows writes is read within the buffer it was given: a text that
// would not fit is refused (null, the argument itself or the error text, as
// each native says), never cut or read past its end.  Failure is a return
// value, never a Java exception.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <winnetwk.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "launcher/registry_win.h"
#include "launcher/system_paths.h"
#include "launcher/system_text.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "natives/file_functions.h"
#include "natives/file_rules.h"
#include "natives/jni_helpers.h"
#include "natives/native_prototypes.h"

// ---- The lookups of file_functions.h

ShGetFolderPathFn findFolderPath() {
    // Once per process: a failed lookup is not tried again.
    static const ShGetFolderPathFn found = [] {
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        return shell ? reinterpret_cast<ShGetFolderPathFn>(
                           reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW")))
                     : nullptr;
    }();
    return found;
}

ShGetKnownFolderPathFn findKnownFolderPath() {
    static std::atomic<ShGetKnownFolderPathFn> found{nullptr};
    if (!found.load()) {
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        if (shell)
            found = reinterpret_cast<ShGetKnownFolderPathFn>(
                reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
    }
    return found.load();
}

DirectoryFn findSystemWindowsDirectory() {
    HMODULE kernel = GetModuleHandleW(L"Kernel32.DLL");
    return kernel ? reinterpret_cast<DirectoryFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWindowsDirectoryW")))
                  : nullptr;
}

WNetGetUniversalNameFn findUniversalName() {
    // mpr.dll is no KnownDLL: it is loaded from the system directory only.
    static std::atomic<WNetGetUniversalNameFn> found{nullptr};
    if (!found.load())
        found = system_calls::systemFunction<WNetGetUniversalNameFn>(L"mpr.dll", "WNetGetUniversalNameW");
    return found.load();
}

VersionFunctions findVersionFunctions() {
    static const VersionFunctions found = [] {
        VersionFunctions functions;
        HMODULE version = LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!version) return functions;
        auto lookUp = [version](auto& pointer, const char* name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
                reinterpret_cast<void*>(GetProcAddress(version, name)));
        };
        lookUp(functions.infoSize, "GetFileVersionInfoSizeW");
        lookUp(functions.info, "GetFileVersionInfoW");
        lookUp(functions.query, "VerQueryValueW");
        return functions;
    }();
    return found;
}

ConvertStringSidToSidFn findStringSidToSid() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    return advapi ? reinterpret_cast<ConvertStringSidToSidFn>(
                        reinterpret_cast<void*>(GetProcAddress(advapi, "ConvertStringSidToSidW")))
                  : nullptr;
}

FileFunctions& fileFunctions() {
    static FileFunctions functions;
    return functions;
}

namespace {

using jni::JavaString;
using namespace files;

// The known folders by GUID.
constexpr GUID kDownloads = {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
constexpr GUID kUserProgramFiles = {0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
constexpr GUID kUserProgramFilesCommon = {0xBCBD3057, 0xCA5C, 0x4622, {0xB4, 0x2D, 0xBC, 0x56, 0xDB, 0x0A, 0xE5, 0x16}};
constexpr GUID kProfile = {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};

const GUID& guidOf(KnownFolder folder) {
    switch (folder) {
        case KnownFolder::downloads: return kDownloads;
        case KnownFolder::userProgramFiles: return kUserProgramFiles;
        case KnownFolder::userProgramFilesCommon: return kUserProgramFilesCommon;
        case KnownFolder::profile: break;
    }
    return kProfile;
}

// Memory the shell hands out with CoTaskMemAlloc.
struct CoTaskMemTraits {
    using Handle = PWSTR;
    static Handle invalid() { return nullptr; }
    static void close(Handle memory) { CoTaskMemFree(memory); }
};

// The characters of a NUL-terminated text that Windows wrote into `buffer`,
// never beyond its end.
jstring newStringWithin(JNIEnv* env, const wchar_t* text, std::size_t capacity) {
    return jni::newString(env, std::wstring_view(text, wcsnlen(text, capacity)));
}

// A directory text through the bounded rule of system_text.h: a buffer of
// 32,767 characters at most; none when the call fails or needs more.
std::optional<std::wstring> directoryText(DirectoryFn function) {
    return fetchSystemText<wchar_t>(
        [function](wchar_t* buffer, std::size_t size) { return function(buffer, static_cast<UINT>(size)); },
        kSystemPathChars);
}

jstring newStringOrNull(JNIEnv* env, const std::optional<std::wstring>& text) {
    return text ? jni::newString(env, std::wstring_view(*text)) : nullptr;
}

// The fixed file version of one file; none when the path is null or too long
// for its buffer, or the file has no readable version record.
std::optional<FileVersionNumber> fileVersionOf(const VersionFunctions& version, const JavaString& path) {
    if (path.isNull() || !fitsVersionPath(path.text().size())) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = version.infoSize(path.get(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> data(size);
    if (!version.info(path.get(), 0, size, data.data())) return std::nullopt;
    void* block = nullptr;
    UINT length = 0;
    if (!version.query(data.data(), L"\\", &block, &length) || !block || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    // The record is read only where it lies inside the data.
    const auto* start = static_cast<const unsigned char*>(block);
    if (start < data.data() || start + sizeof(VS_FIXEDFILEINFO) > data.data() + data.size()) return std::nullopt;
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, start, sizeof info);
    return FileVersionNumber{info.dwFileVersionMS, info.dwFileVersionLS};
}

// The universal-name answer: UNIVERSAL_NAME_INFOW and the text it points to.
struct UniversalNameBuffer {
    alignas(UNIVERSAL_NAME_INFOW) unsigned char bytes[kUniversalNameBytes];
};

}  // namespace

extern "C" {

// Codes up to 1000 through SHGetFolderPathW (the folder is created when
// missing), codes above through SHGetKnownFolderPath; null when the function
// is missing or fails.
jstring JNICALL NATIVE_FUNCTION(FolderInfo, getSpecialFolder0)(JNIEnv* env, jclass, jint code, jboolean common) {
    const FileFunctions& functions = fileFunctions();
    if (code <= kLastShellFolderCode) {
        const ShGetFolderPathFn folderPath = functions.folderPath();
        if (!folderPath) return nullptr;
        std::vector<wchar_t> buffer(kFolderPathChars, L'\0');
        const int folder = shellFolderId(code, common != JNI_FALSE) | CSIDL_FLAG_CREATE;
        if (folderPath(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buffer.data()) != S_OK) return nullptr;
        return newStringWithin(env, buffer.data(), buffer.size());
    }
    const ShGetKnownFolderPathFn knownFolderPath = functions.knownFolderPath();
    if (!knownFolderPath) return nullptr;
    UniqueResource<CoTaskMemTraits> path;
    // The path is freed whether the call succeeds or not, as the shell asks.
    const HRESULT result = knownFolderPath(guidOf(knownFolder(code)), 0, nullptr, path.put());
    if (result != S_OK || !path) return nullptr;
    return jni::newString(env, path.get());
}

// The value's data as text up to its first NUL (its type is not checked);
// null when the key or the value cannot be read or the data exceeds 32,767
// bytes.
jstring JNICALL NATIVE_FUNCTION(FolderInfo, getPathFromRegistry0)(JNIEnv* env, jclass, jstring valueName) {
    const JavaString name(env, valueName);
    UniqueRegKey key = registry::openKey({HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion"},
                                         registry::Access::read);
    if (!key) return nullptr;
    const std::optional<registry::Value> value = registry::queryValue(key.get(), name.get(), kRegistryPathBytes);
    key.reset();
    if (!value) return nullptr;
    return jni::newString(env, std::wstring_view(utf16TextBeforeNul(value->data.data(), value->data.size())));
}

// The shared Windows directory (GetSystemWindowsDirectoryW), else
// GetWindowsDirectoryW; null when neither answers within the buffer.
jstring JNICALL NATIVE_FUNCTION(FolderInfo, getWindowsDirectory0)(JNIEnv* env, jclass) {
    const FileFunctions& functions = fileFunctions();
    if (const DirectoryFn systemWindows = functions.systemWindowsDirectory()) {
        if (const auto directory = directoryText(systemWindows))
            return jni::newString(env, std::wstring_view(*directory));
    }
    return newStringOrNull(env, directoryText(functions.windowsDirectory));
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getSystemDirectory0)(JNIEnv* env, jclass) {
    return newStringOrNull(env, directoryText(fileFunctions().systemDirectory));
}

jint JNICALL NATIVE_FUNCTION(FolderInfo, getDriveType0)(JNIEnv* env, jclass, jstring rootPath) {
    const JavaString root(env, rootPath);
    return static_cast<jint>(GetDriveTypeW(root.get()));
}

// The very String it was given when Windows has no short name for it (a
// path that does not exist, or a short name of 32,767 characters or more).
jstring JNICALL NATIVE_FUNCTION(FolderInfo, getShortPathName0)(JNIEnv* env, jclass, jstring pathArgument) {
    const JavaString path(env, pathArgument);
    if (path.isNull()) return pathArgument;
    const std::wstring shortPath = shortPathName(path.text(), kSystemPathChars);
    return shortPath.empty() ? pathArgument : jni::newString(env, std::wstring_view(shortPath));
}

// The universal (UNC) name of a path on a network drive; ";<code>" when
// Windows cannot give one (2250 for a drive that is not a network
// connection, 234 for a name beyond the buffer); the argument itself when
// mpr.dll has no WNetGetUniversalNameW.
jstring JNICALL NATIVE_FUNCTION(FolderInfo, getUniversalPathName0)(JNIEnv* env, jclass, jstring pathArgument) {
    const WNetGetUniversalNameFn universalName = fileFunctions().universalName();
    if (!universalName) return pathArgument;
    const JavaString path(env, pathArgument);
    std::vector<UniversalNameBuffer> buffer(1);
    unsigned char* const start = buffer[0].bytes;
    DWORD size = sizeof buffer[0].bytes;
    DWORD status = universalName(path.get(), UNIVERSAL_NAME_INFO_LEVEL, start, &size);
    const wchar_t* name = nullptr;
    if (status == NO_ERROR) {
        // The name is read only where it lies inside the buffer.
        name = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(start)->lpUniversalName;
        const auto* first = reinterpret_cast<const unsigned char*>(name);
        if (!name || first < start || first >= start + sizeof buffer[0].bytes) status = ERROR_INVALID_DATA;
    }
    if (status != NO_ERROR) return jni::newString(env, std::wstring(L";") + std::to_wstring(status));
    const std::size_t room =
        (start + sizeof buffer[0].bytes - reinterpret_cast<const unsigned char*>(name)) / sizeof(wchar_t);
    return newStringWithin(env, name, room);
}

// 0 equal, 1 the first file's version is higher, 2 the second's, 3 when
// either cannot be read (also for a null path or one of 32,768 characters or
// more, and when version.dll lacks a function).
jint JNICALL NATIVE_FUNCTION(FileVersion, compare0)(JNIEnv* env, jclass, jstring firstPath, jstring secondPath) {
    const VersionFunctions version = fileFunctions().versionFunctions();
    if (!version) return kVersionUnknown;
    const JavaString first(env, firstPath);
    const std::optional<FileVersionNumber> firstVersion = fileVersionOf(version, first);
    if (!firstVersion) return kVersionUnknown;
    const JavaString second(env, secondPath);
    return compareFileVersions(firstVersion, fileVersionOf(version, second));
}

}  // extern "C"
