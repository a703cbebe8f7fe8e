// The FolderInfo, FileVersion and ACLHandling natives through the JNI test
// double, under Wine: their answers against what Windows gives directly, the
// version comparison on the test libraries of tests/tools (version_low,
// version_high, version_same), entries added to a real directory's DACL, and
// every failure value.  Missing or failing optional functions are injected
// through the natives' function table (natives/file_functions.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <winnetwk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/file_functions.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"

#define FOLDERS(name) NATIVE_FUNCTION(FolderInfo, name)

namespace {

using namespace std::string_literals;

std::wstring exeDirectory() {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring text(path.data(), length);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring tempDirectory() {
    wchar_t path[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, path);
    return path;
}

std::wstring shellFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    return SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK ? path
                                                                                                           : L"?";
}

std::wstring knownFolder(const GUID& id) {
    PWSTR path = nullptr;
    std::wstring result = SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK ? path : L"?";
    CoTaskMemFree(path);
    return result;
}

class TableGuard {
public:
    TableGuard() : saved_(fileFunctions()) {}
    ~TableGuard() { fileFunctions() = saved_; }

private:
    FileFunctions saved_;
};

// Fakes for the table.
ShGetFolderPathFn noFolderPath() { return nullptr; }
ShGetKnownFolderPathFn noKnownFolderPath() { return nullptr; }
HRESULT WINAPI folderPathFails(HWND, int, HANDLE, DWORD, LPWSTR) { return E_FAIL; }
ShGetFolderPathFn failingFolderPath() { return folderPathFails; }
DirectoryFn noDirectoryFunction() { return nullptr; }
UINT WINAPI fakeWindowsDirectory(LPWSTR buffer, UINT size) {
    return lstrcpynW(buffer, L"X:\\fake windows", static_cast<int>(size)) ? 15 : 0;
}
UINT WINAPI directoryFails(LPWSTR, UINT) { return 0; }
UINT WINAPI directoryTooLong(LPWSTR, UINT) { return 40000; }  // "needs 40,000 characters"
WNetGetUniversalNameFn noUniversalName() { return nullptr; }
// Answers of WNetGetUniversalNameW that Wine never gives: a UNC name, a name
// without its NUL up to the end of the buffer, a name outside the buffer.
DWORD WINAPI uncName(LPCWSTR, DWORD, LPVOID buffer, LPDWORD) {
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    lstrcpyW(info->lpUniversalName, L"\\\\server\\share\\docs");
    return NO_ERROR;
}
DWORD WINAPI unterminatedName(LPCWSTR, DWORD, LPVOID buffer, LPDWORD size) {
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    std::fill_n(info->lpUniversalName, (*size - sizeof *info) / sizeof(wchar_t), L'u');
    return NO_ERROR;
}
DWORD WINAPI strayName(LPCWSTR, DWORD, LPVOID buffer, LPDWORD) {
    static wchar_t elsewhere[] = L"\\\\elsewhere\\share";
    static_cast<UNIVERSAL_NAME_INFOW*>(buffer)->lpUniversalName = elsewhere;
    return NO_ERROR;
}
WNetGetUniversalNameFn uncLookup() { return uncName; }
WNetGetUniversalNameFn unterminatedLookup() { return unterminatedName; }
WNetGetUniversalNameFn strayLookup() { return strayName; }
VersionFunctions noVersionFunctions() { return {}; }
ConvertStringSidToSidFn noStringSidToSid() { return nullptr; }

class FileNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }
    JNIEnv* env() { return e_.env(); }
    jstring text(const std::wstring& value) { return e_.newString(value); }
    std::wstring value(jobject string) { return string ? e_.stringValue(string) : L"<null>"; }

    jni_double::Environment e_;
};

TEST_F(FileNatives, SpecialFoldersByCode) {
    const GUID downloads = {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
    const GUID profile = {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};
    struct Case {
        jint code;
        bool common;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {8, false, shellFolder(CSIDL_PERSONAL)},
        {8, true, shellFolder(CSIDL_COMMON_DOCUMENTS)},
        {1, true, shellFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
        {12, false, shellFolder(CSIDL_DESKTOP)},
        {-3, true, shellFolder(CSIDL_DESKTOP)},
        {1001, false, knownFolder(downloads)},
        {1001, true, knownFolder(downloads)},
        {1500, false, knownFolder(profile)},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.expected, L"?") << c.code;
        EXPECT_EQ(value(FOLDERS(getSpecialFolder0)(env(), nullptr, c.code, c.common)), c.expected) << c.code;
    }
    EXPECT_NE(shellFolder(CSIDL_PERSONAL), shellFolder(CSIDL_COMMON_DOCUMENTS));

    TableGuard guard;
    fileFunctions().folderPath = failingFolderPath;
    EXPECT_EQ(FOLDERS(getSpecialFolder0)(env(), nullptr, 8, JNI_FALSE), nullptr);
    fileFunctions().folderPath = noFolderPath;
    fileFunctions().knownFolderPath = noKnownFolderPath;
    EXPECT_EQ(FOLDERS(getSpecialFolder0)(env(), nullptr, 8, JNI_FALSE), nullptr);
    EXPECT_EQ(FOLDERS(getSpecialFolder0)(env(), nullptr, 1001, JNI_FALSE), nullptr);
}

// Values of HKLM\Software\Microsoft\Windows\CurrentVersion: text up to the
// first NUL, also from data without one; nothing beyond 32,767 bytes.
TEST_F(FileNatives, PathFromRegistry) {
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring prefix = L"tovrix-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    struct Case {
        std::wstring name;
        DWORD type;
        std::vector<unsigned char> data;
        std::wstring expected;
    };
    auto bytes = [](const std::wstring& s) {
        const auto* b = reinterpret_cast<const unsigned char*>(s.data());
        return std::vector<unsigned char>(b, b + s.size() * 2);
    };
    std::vector<unsigned char> odd = bytes(L"C:\\odd");
    odd.push_back('x');
    const std::vector<Case> cases = {
        {prefix + L"sz", REG_SZ, bytes(L"C:\\Program Files\\x\0"s), L"C:\\Program Files\\x"},
        {prefix + L"unterminated", REG_BINARY, bytes(L"C:\\raw"), L"C:\\raw"},
        {prefix + L"odd", REG_BINARY, odd, L"C:\\odd"},
        {prefix + L"inner", REG_MULTI_SZ, bytes(L"a\0b\0\0"s), L"a"},
        {prefix + L"fits", REG_SZ, bytes(std::wstring(16382, L'f') + L'\0'), std::wstring(16382, L'f')},
        {prefix + L"big", REG_SZ, bytes(std::wstring(16383, L'b') + L'\0'), L"<null>"},  // 32,768 bytes
    };
    for (const Case& c : cases)
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, c.name.c_str(), c.type, c.data.data(),
                                  static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
    for (const Case& c : cases)
        EXPECT_EQ(value(FOLDERS(getPathFromRegistry0)(env(), nullptr, text(c.name))), c.expected) << c.name.c_str();
    EXPECT_EQ(FOLDERS(getPathFromRegistry0)(env(), nullptr, text(prefix + L"missing")), nullptr);
    UniqueRegKey opened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, opened.put()), ERROR_SUCCESS);
    for (const Case& c : cases) RegDeleteValueW(opened.get(), c.name.c_str());
}

TEST_F(FileNatives, WindowsAndSystemDirectories) {
    wchar_t windows[MAX_PATH], system[MAX_PATH];
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(value(FOLDERS(getWindowsDirectory0)(env(), nullptr)), windows);
    EXPECT_EQ(value(FOLDERS(getSystemDirectory0)(env(), nullptr)), system);

    TableGuard guard;
    // Without GetSystemWindowsDirectoryW: GetWindowsDirectoryW.
    fileFunctions().systemWindowsDirectory = noDirectoryFunction;
    fileFunctions().windowsDirectory = fakeWindowsDirectory;
    EXPECT_EQ(value(FOLDERS(getWindowsDirectory0)(env(), nullptr)), L"X:\\fake windows");
    fileFunctions().windowsDirectory = directoryFails;
    EXPECT_EQ(FOLDERS(getWindowsDirectory0)(env(), nullptr), nullptr);
    // An answer longer than the 32,767-character buffer is refused, never read.
    fileFunctions().windowsDirectory = directoryTooLong;
    EXPECT_EQ(FOLDERS(getWindowsDirectory0)(env(), nullptr), nullptr);
    fileFunctions().systemDirectory = directoryFails;
    EXPECT_EQ(FOLDERS(getSystemDirectory0)(env(), nullptr), nullptr);
    fileFunctions().systemDirectory = directoryTooLong;
    EXPECT_EQ(FOLDERS(getSystemDirectory0)(env(), nullptr), nullptr);
}

TEST_F(FileNatives, DriveTypes) {
    const DWORD drives = GetLogicalDrives();
    wchar_t missing = 0;
    for (wchar_t letter = L'Z'; letter >= L'D' && !missing; --letter)
        if (!(drives & (1u << (letter - L'A')))) missing = letter;
    ASSERT_NE(missing, 0);
    EXPECT_EQ(FOLDERS(getDriveType0)(env(), nullptr, text(L"C:\\")), DRIVE_FIXED);
    EXPECT_EQ(FOLDERS(getDriveType0)(env(), nullptr, text(std::wstring(1, missing) + L":\\")), DRIVE_NO_ROOT_DIR);
}

TEST_F(FileNatives, ShortAndUniversalNames) {
    // A folder whose name the ANSI code page cannot hold.
    const std::wstring folder = tempDirectory() + L"tovrix \u4e2d\u6587 " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::wstring shortName = value(FOLDERS(getShortPathName0)(env(), nullptr, text(folder)));
    RemoveDirectoryW(folder.c_str());
    const std::wstring last = shortName.substr(shortName.find_last_of(L'\\') + 1);
    EXPECT_NE(last.find(L'~'), std::wstring::npos) << "short name " << last.size();
    EXPECT_LE(last.size(), 12u);
    for (wchar_t c : shortName) EXPECT_LT(c, 0x80) << "short names are ASCII here";

    // The very object it was given when there is no short name.
    jstring missing = text(L"C:\\tovrix\\does not exist\\at all");
    EXPECT_EQ(FOLDERS(getShortPathName0)(env(), nullptr, missing), missing);
    EXPECT_EQ(FOLDERS(getShortPathName0)(env(), nullptr, nullptr), nullptr);

    // A local path is no network connection (ERROR_NOT_CONNECTED).
    EXPECT_EQ(value(FOLDERS(getUniversalPathName0)(env(), nullptr, text(L"C:\\windows"))), L";2250");
    TableGuard guard;
    fileFunctions().universalName = noUniversalName;
    jstring local = text(L"C:\\windows");
    EXPECT_EQ(FOLDERS(getUniversalPathName0)(env(), nullptr, local), local);
    // The name is read from the answer's record, and only within the 65,534-byte buffer.
    fileFunctions().universalName = uncLookup;
    EXPECT_EQ(value(FOLDERS(getUniversalPathName0)(env(), nullptr, text(L"N:\\docs"))), L"\\\\server\\share\\docs");
    fileFunctions().universalName = unterminatedLookup;
    EXPECT_EQ(value(FOLDERS(getUniversalPathName0)(env(), nullptr, text(L"N:\\docs"))),
              std::wstring((65534 - sizeof(UNIVERSAL_NAME_INFOW)) / sizeof(wchar_t), L'u'));
    fileFunctions().universalName = strayLookup;
    EXPECT_EQ(value(FOLDERS(getUniversalPathName0)(env(), nullptr, text(L"N:\\docs"))), L";13");
}

TEST_F(FileNatives, FileVersionComparison) {
    const std::wstring dir = exeDirectory() + L"\\";
    const std::wstring low = dir + L"version_low.dll", high = dir + L"version_high.dll",
                       same = dir + L"version_same.dll", none = dir + L"file_probe.exe";
    struct Case {
        std::wstring first, second;
        jint result;
    };
    const std::vector<Case> cases = {
        {low, high, 2},
        {high, low, 1},
        {low, same, 0},  // same file version, other product version
        {low, low, 0},
        {low, none, 3},
        {none, low, 3},
        {low, dir + L"missing.dll", 3},
        {std::wstring(32768, L'a'), low, 3},  // beyond the path buffer
    };
    for (const Case& c : cases)
        EXPECT_EQ(NATIVE_FUNCTION(FileVersion, compare0)(env(), nullptr, text(c.first), text(c.second)), c.result)
            << c.first.size() << " " << c.second.size();
    EXPECT_EQ(NATIVE_FUNCTION(FileVersion, compare0)(env(), nullptr, nullptr, text(low)), 3);
    EXPECT_EQ(NATIVE_FUNCTION(FileVersion, compare0)(env(), nullptr, text(low), nullptr), 3);
    TableGuard guard;
    fileFunctions().versionFunctions = noVersionFunctions;
    EXPECT_EQ(NATIVE_FUNCTION(FileVersion, compare0)(env(), nullptr, text(low), text(high)), 3);
}

// The allowed entries of an object's DACL as "<sid> <flags> <mask>".
std::vector<std::wstring> allowedEntries(const std::wstring& path, SE_OBJECT_TYPE type) {
    std::vector<std::wstring> entries;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return entries;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        wchar_t* sid = nullptr;
        if (!ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid)) continue;
        wchar_t rest[32];
        swprintf(rest, 32, L" %x %lx", allowed->Header.AceFlags, static_cast<unsigned long>(allowed->Mask));
        entries.push_back(sid + std::wstring(rest));
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return entries;
}

bool hasEntry(const std::vector<std::wstring>& entries, const std::wstring& prefix) {
    for (const std::wstring& entry : entries)
        if (entry.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

std::string shown(const std::vector<std::wstring>& entries) {
    std::string text;
    for (const std::wstring& entry : entries) text += std::string(entry.begin(), entry.end()) + "; ";
    return text;
}

TEST_F(FileNatives, AccessEntriesAddedToARegistryKey) {
    const std::wstring below = L"Software\\tovrix-unit-acl-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring key = L"CURRENT_USER\\" + below;
    UniqueRegKey created;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, below.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(),
                              nullptr),
              ERROR_SUCCESS);
    created.reset();
    wchar_t user[256];
    DWORD userChars = 256;
    ASSERT_TRUE(GetUserNameW(user, &userChars));
    auto add = [&](jint kind, const wchar_t* account, bool read, bool write, bool execute, bool all) {
        return NATIVE_FUNCTION(ACLHandling, addACE)(env(), nullptr, text(key), JNI_TRUE, read, write, execute, all,
                                                    kind, account ? text(account) : nullptr);
    };
    const std::vector<std::wstring> before = allowedEntries(key, SE_REGISTRY_KEY);
    EXPECT_TRUE(add(3, L"S-1-5-19", true, false, true, false));  // a SID string: the local service
    EXPECT_TRUE(add(1, nullptr, false, true, false, false));     // authenticated users
    EXPECT_TRUE(add(5, nullptr, false, false, false, true));     // power users
    EXPECT_TRUE(add(7, L"ignored", true, false, false, false));  // everyone
    EXPECT_TRUE(add(3, user, false, false, true, false));        // an account name
    const std::vector<std::wstring> entries = allowedEntries(key, SE_REGISTRY_KEY);
    // Inherited by sub-keys (flags 3, object and container inherit), the generic rights as given.
    for (const wchar_t* expected :
         {L"S-1-5-19 3 a0000000", L"S-1-5-11 3 40000000", L"S-1-5-32-547 3 10000000", L"S-1-1-0 3 80000000"})
        EXPECT_TRUE(hasEntry(entries, expected)) << shown(entries);
    EXPECT_GT(entries.size(), before.size() + 4) << "the account name's entry too";

    // No SID, no object: false, and nothing is written.
    EXPECT_FALSE(add(3, L"tovrix no such account \u4e2d", true, false, false, false));
    EXPECT_FALSE(add(3, nullptr, true, false, false, false));
    {
        TableGuard guard;
        fileFunctions().stringSidToSid = noStringSidToSid;
        EXPECT_FALSE(add(3, L"S-1-5-18", true, false, false, false));
    }
    EXPECT_FALSE(NATIVE_FUNCTION(ACLHandling, addACE)(env(), nullptr, nullptr, JNI_TRUE, JNI_TRUE, JNI_FALSE, JNI_FALSE,
                                                      JNI_FALSE, 0, nullptr));
    EXPECT_FALSE(NATIVE_FUNCTION(ACLHandling, addACE)(env(), nullptr, text(key + L"\\missing"), JNI_TRUE, JNI_TRUE,
                                                      JNI_FALSE, JNI_FALSE, JNI_FALSE, 0, nullptr));
    EXPECT_EQ(allowedEntries(key, SE_REGISTRY_KEY).size(), entries.size());
    RegDeleteKeyW(HKEY_CURRENT_USER, below.c_str());
}

TEST_F(FileNatives, AccessEntryAddedToADirectory) {
    const std::wstring dir = tempDirectory() + L"tovrix-acl-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const bool added = NATIVE_FUNCTION(ACLHandling, addACE)(env(), nullptr, text(dir), JNI_FALSE, JNI_TRUE, JNI_FALSE,
                                                            JNI_FALSE, JNI_FALSE, 5, nullptr);
    const std::vector<std::wstring> entries = allowedEntries(dir, SE_FILE_OBJECT);
    EXPECT_FALSE(NATIVE_FUNCTION(ACLHandling, addACE)(env(), nullptr, text(dir + L"\\missing"), JNI_FALSE, JNI_TRUE,
                                                      JNI_FALSE, JNI_FALSE, JNI_FALSE, 0, nullptr));
    RemoveDirectoryW(dir.c_str());
    EXPECT_TRUE(added);
    if (!hasEntry(entries, L"S-1-5-32-547 "))
        GTEST_SKIP() << "Wine keeps no DACL on files: it turns the DACL into Unix permission bits and reads back "
                        "one made from them ("
                     << shown(entries) << ")";
    EXPECT_TRUE(hasEntry(entries, L"S-1-5-32-547 3 ")) << shown(entries);
}

}  // namespace
