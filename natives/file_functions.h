// The optional Windows functions of the folder, file version and ACL natives,
// found at run time after the DLL search restriction, and the directory
// functions whose failure cannot be made on demand.  The natives call them
// through this one table; unit tests replace entries (to make a function
// missing or failing) and put the table back afterwards.  Nothing else writes
// it.
//
//   function                     module        found                 when missing
//   SHGetFolderPathW             shell32.dll   once per process      null folder
//   SHGetKnownFolderPath         shell32.dll   on each call until found  null folder
//   GetSystemWindowsDirectoryW   Kernel32.DLL  on each call          GetWindowsDirectoryW
//   WNetGetUniversalNameW        mpr.dll       on each call until found  the argument itself
//   GetFileVersionInfoSizeW, GetFileVersionInfoW, VerQueryValueW
//                                version.dll   once per process      comparison result 3
//   ConvertStringSidToSidW       advapi32.dll  on each call          no SID: addACE false
#pragma once

#include <windows.h>

using ShGetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using ShGetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
using DirectoryFn = UINT(WINAPI*)(LPWSTR, UINT);
using WNetGetUniversalNameFn = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
using ConvertStringSidToSidFn = BOOL(WINAPI*)(LPCWSTR, PSID*);

// version.dll's three functions; usable only when all were found.
struct VersionFunctions {
    DWORD(WINAPI* infoSize)(LPCWSTR, LPDWORD) = nullptr;
    BOOL(WINAPI* info)(LPCWSTR, DWORD, DWORD, LPVOID) = nullptr;
    BOOL(WINAPI* query)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
    explicit operator bool() const { return infoSize && info && query; }
};

// The lookups of the table above.
ShGetFolderPathFn findFolderPath();
ShGetKnownFolderPathFn findKnownFolderPath();
DirectoryFn findSystemWindowsDirectory();
WNetGetUniversalNameFn findUniversalName();
VersionFunctions findVersionFunctions();
ConvertStringSidToSidFn findStringSidToSid();

struct FileFunctions {
    ShGetFolderPathFn (*folderPath)() = findFolderPath;
    ShGetKnownFolderPathFn (*knownFolderPath)() = findKnownFolderPath;
    DirectoryFn (*systemWindowsDirectory)() = findSystemWindowsDirectory;
    DirectoryFn windowsDirectory = GetWindowsDirectoryW;
    DirectoryFn systemDirectory = GetSystemDirectoryW;
    WNetGetUniversalNameFn (*universalName)() = findUniversalName;
    VersionFunctions (*versionFunctions)() = findVersionFunctions;
    ConvertStringSidToSidFn (*stringSidToSid)() = findStringSidToSid;
};

// The table the natives use.
FileFunctions& fileFunctions();
