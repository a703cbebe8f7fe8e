// The Windows side of the user-account natives that several of them share:
// the token of a query with the five token functions found at run time, a
// token's information in a buffer of the size it asks for, SIDs to and from
// text, and account lookups on this computer with the natives' 8192-character
// name buffers.  Every function is reached through launcher/system_calls.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/win_handles.h"

namespace account {

using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                 DWORD, DWORD, DWORD, PSID*);
using EqualSidFn = BOOL(WINAPI*)(PSID, PSID);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using OpenThreadTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, BOOL, PHANDLE);
using ConvertSidToStringSidWFn = BOOL(WINAPI*)(PSID, LPWSTR*);
using ConvertStringSidToSidWFn = BOOL(WINAPI*)(LPCWSTR, PSID*);
using LookupAccountSidWFn = BOOL(WINAPI*)(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
using LookupAccountNameWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);

// Account and domain names are looked up into buffers of this many
// characters; a SID looked up by name gets this many bytes.
constexpr DWORD kNameChars = 8192;
constexpr DWORD kSidBytes = 8192;

// advapi32.dll, always loaded in this process (the executable imports it).
HMODULE advapi();

// "AllocateAndInitializeSid", "EqualSid", "GetTokenInformation",
// "OpenProcessToken" and "OpenThreadToken", looked up in advapi32.dll at
// every call of a native that needs them; none unless all five are found.
struct TokenFunctions {
    AllocateAndInitializeSidFn allocateSid;
    EqualSidFn equalSid;
    GetTokenInformationFn information;
    OpenProcessTokenFn openProcessToken;
    OpenThreadTokenFn openThreadToken;
};
std::optional<TokenFunctions> tokenFunctions();

// The token a query looks at: the calling thread's impersonation token opened
// for query as the process itself, or when the thread has none, the process
// token.  Invalid when neither can be opened.
UniqueKernelHandle queryToken(const TokenFunctions& functions);
// The process token opened for query.
UniqueKernelHandle processToken(const TokenFunctions& functions);

// One class of token information in a buffer aligned for any of its
// structures.  `sizeQueryFailed` tells a size query that failed with anything
// but ERROR_INSUFFICIENT_BUFFER apart from a failed read.
struct TokenInformation {
    std::vector<std::uint64_t> storage;
    bool sizeQueryFailed = false;
    bool read = false;
    template <typename T>
    const T* as() const {
        return read ? reinterpret_cast<const T*>(storage.data()) : nullptr;
    }
};
TokenInformation readTokenInformation(const TokenFunctions& functions, HANDLE token, TOKEN_INFORMATION_CLASS kind);

// The string form of a SID ("S-1-5-21-..."); none when ConvertSidToStringSidW
// is missing or fails.
std::optional<std::wstring> sidText(PSID sid);

// A looked-up account: its name and domain.
struct AccountName {
    std::wstring name;
    std::wstring domain;
};
// LookupAccountSidW on this computer; none with the error in GetLastError.
std::optional<AccountName> lookUpSid(PSID sid);
// LookupAccountNameW on this computer into a zeroed kSidBytes buffer; none
// with the error in GetLastError.
std::optional<std::vector<unsigned char>> lookUpName(const wchar_t* name);

}  // namespace account
