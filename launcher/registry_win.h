// The Windows registry, one layer for every part of the launcher: the JVM
// probe's cache and lists, the start-up markers, the registry natives and
// whatever else reads or writes keys.
//
//   KeyLocation      root + sub-key path + view bits (KEY_WOW64_64KEY, ...)
//   openKey          a UniqueRegKey opened read, read-write, full or created
//   keyExists, createKey
//   queryValue       type and raw data within a byte limit
//   readString, readDword              typed reads (HKEY or KeyLocation)
//   writeString, writeDword, writeBinary, writeValue, deleteValue
//   subKeyNames, valueNames            whole enumerations
//   deleteKeyTree, deleteKeyIfEmpty    key deletes that never delete a root
//   saveKey, restoreKey                hive files, with their privileges
//
// Keys live for one operation: open, read or write, let the UniqueRegKey
// close it.  The KeyLocation forms of the value functions do all three in one
// call.  Nothing here logs or prints: every function reports by its result
// (an empty key or optional, false, or the Win32 status), so each caller
// writes its own launch log line or diagnostic.  Reads are bounded: the caller
// states how many bytes of data it accepts, and larger data is not read.
// Text is UTF-16; names and paths are NUL-terminated wide strings.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/win_handles.h"

namespace registry {

// A key: a root (a predefined key such as HKEY_CURRENT_USER, or any open
// key), a sub-key path below it (null or empty names the root itself) and
// the view bits OR-ed into every access mask: 0 for the process's own view,
// KEY_WOW64_64KEY or KEY_WOW64_32KEY for the 64-bit or 32-bit one.
//   registry::KeyLocation pids{HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\kelpa\\pids\\"};
struct KeyLocation {
    HKEY root = nullptr;
    const wchar_t* subKey = nullptr;
    REGSAM view = 0;
};

// How openKey gets a key handle (the view bits are always added):
//   read       RegOpenKeyExW with KEY_READ
//   readWrite  RegOpenKeyExW with KEY_READ | KEY_SET_VALUE: values can be
//              written and deleted
//   full       RegOpenKeyExW with KEY_ALL_ACCESS: an existing key only
//   create     RegCreateKeyExW with KEY_ALL_ACCESS, non-volatile, no class,
//              default security: opens the key when it exists, else creates
//              it and the missing keys above it
enum class Access { read, readWrite, full, create };

// The key, or an empty UniqueRegKey when it cannot be opened.  `status`,
// when given, receives the Win32 status of the open or create call.
UniqueRegKey openKey(const KeyLocation& at, Access access, LSTATUS* status = nullptr);
// Whether the key can be opened for reading.
bool keyExists(const KeyLocation& at);
// Opens or creates the key; true when it exists afterwards.
bool createKey(const KeyLocation& at);

// ---- Values

struct Value {
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
};
// The value's type and data when the data has at most `limitBytes` bytes;
// none when the value is missing or its data is larger (never a part of it).
// A null or empty name is the key's default value.
std::optional<Value> queryValue(HKEY key, const wchar_t* name, std::size_t limitBytes);

// A REG_SZ or REG_EXPAND_SZ value of at most `limitBytes` bytes as text: its
// size / 2 characters less every trailing NUL, so data stored with or without
// its terminating NUL reads the same (inner NULs stay).  REG_EXPAND_SZ is not
// expanded.  None when the value is missing, larger or of another type.
std::optional<std::wstring> readString(HKEY key, const wchar_t* name, std::size_t limitBytes);
std::optional<std::wstring> readString(const KeyLocation& at, const wchar_t* name, std::size_t limitBytes);
// A REG_DWORD value of exactly four bytes; none for anything else.
std::optional<DWORD> readDword(HKEY key, const wchar_t* name);
std::optional<DWORD> readDword(const KeyLocation& at, const wchar_t* name);

// Whether writeString stores the terminating NUL after the text.  Windows
// expects it (nulStored); a few values of our own are kept without it.
enum class Terminator { nulStored, nulOmitted };

// RegSetValueExW of the given type and data; the Win32 status.
LSTATUS writeValue(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size);
// The text as REG_SZ (or `type`, for REG_EXPAND_SZ), with or without its NUL.
LSTATUS writeString(HKEY key, const wchar_t* name, std::wstring_view text,
                    Terminator terminator = Terminator::nulStored, DWORD type = REG_SZ);
LSTATUS writeDword(HKEY key, const wchar_t* name, DWORD value);
LSTATUS writeBinary(HKEY key, const wchar_t* name, const void* data, std::size_t size);
// RegDeleteValueW; a missing value gives ERROR_FILE_NOT_FOUND.
LSTATUS deleteValue(HKEY key, const wchar_t* name);

// One-call forms: the write forms create the key when it is missing
// (Access::create), deleteValue opens it read-write.  The status is the one
// of the open when that fails.
LSTATUS writeString(const KeyLocation& at, const wchar_t* name, std::wstring_view text,
                    Terminator terminator = Terminator::nulStored, DWORD type = REG_SZ);
LSTATUS writeDword(const KeyLocation& at, const wchar_t* name, DWORD value);
LSTATUS deleteValue(const KeyLocation& at, const wchar_t* name);

// ---- Enumerations

// The names of the key's direct sub-keys, or of its values, in enumeration
// order; names of any length the registry allows come back whole.  None when
// the enumeration fails for another reason than its end (for example the key
// was deleted meanwhile), so a caller never works on a partial list.
std::optional<std::vector<std::wstring>> subKeyNames(HKEY key);
std::optional<std::vector<std::wstring>> valueNames(HKEY key);

// ---- Deleting keys

// RegDeleteKeyExW, which 32-bit Windows before Vista lacks.
using DeleteKeyExFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
// advapi32.dll's RegDeleteKeyExW, looked up on every call; null when missing.
DeleteKeyExFn findDeleteKeyEx();

// Deletes the key and everything below it, deepest keys first (each key's
// sub-keys in reverse enumeration order), in the location's view.  Never
// deletes a root: a path that names the root itself does nothing.  Failures
// are silent.  `deleteEx` is RegDeleteKeyExW or null; without it a nonzero
// view is still kept (see registry_win.cpp).
void deleteKeyTree(const KeyLocation& at, DeleteKeyExFn deleteEx);
void deleteKeyTree(const KeyLocation& at);  // with findDeleteKeyEx()
// Deletes the key only when it has neither sub-keys nor values.  The check
// opens the key read-write, else read-only; a key that cannot be checked, or
// a root, is left alone.
void deleteKeyIfEmpty(const KeyLocation& at, DeleteKeyExFn deleteEx);
void deleteKeyIfEmpty(const KeyLocation& at);  // with findDeleteKeyEx()

// ---- Hive files

// RegSaveKeyW of the key (opened read-write) into a new file, after enabling
// SeBackupPrivilege; Windows refuses an existing file.  False for a null file.
bool saveKey(const KeyLocation& at, const wchar_t* file);
// RegRestoreKeyW of the file into the key (opened or created), after enabling
// SeBackupPrivilege and SeRestorePrivilege.  False for a null file.
bool restoreKey(const KeyLocation& at, const wchar_t* file);

}  // namespace registry
