// The registry natives' Windows layer: keys opened the three ways the natives
// need, values through the 100,000-byte buffer, the recursive and the
// only-if-empty delete, enumerations, hive files and the association change
// notification.  No JNI here; the natives convert Java values around it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/registry_data.h"

namespace registry {

HKEY rootKey(Root root);

// A key as the Java side names it: a root, a sub-key path (null names the
// root itself) and the view bits OR-ed into every access mask
// (KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0).
struct KeyLocation {
    HKEY root;
    const wchar_t* subKey;
    REGSAM view;
};

// read: KEY_READ; readWrite: KEY_READ | KEY_SET_VALUE; create: KEY_ALL_ACCESS
// through RegCreateKeyExW, which opens the key when it exists.
enum class Access { read, readWrite, create };
UniqueRegKey openKey(const KeyLocation& at, Access access);

struct Value {
    DWORD type = 0;
    Bytes data;
};
// The value's type and data; none when it is missing or its data is larger
// than the value buffer.
std::optional<Value> queryValue(HKEY key, const wchar_t* name);

// RegDeleteKeyExW, which Windows versions before Vista (32-bit) lack.
using DeleteKeyExFn = LSTATUS(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
// advapi32.dll's RegDeleteKeyExW, looked up on every call; null when missing.
DeleteKeyExFn findDeleteKeyEx();

// Deletes the key and everything below it, deepest keys first (each key's
// sub-keys in reverse enumeration order).  Never deletes a root: a path that
// names the root itself does nothing.  Failures are silent.
void deleteKeyTree(const KeyLocation& at, DeleteKeyExFn deleteEx);
// Deletes the key only when it has neither sub-keys nor values.  The check
// opens the key read-write, else read-only; a key that cannot be checked, or
// a root, is left alone.
void deleteKeyIfEmpty(const KeyLocation& at, DeleteKeyExFn deleteEx);

// The names of the key's sub-keys or values in enumeration order; none when
// the enumeration fails for another reason than its end.
std::optional<std::vector<std::wstring>> subKeyNames(HKEY key);
std::optional<std::vector<std::wstring>> valueNames(HKEY key);

// RegSaveKeyW of the key (opened read-write) after enabling
// SeBackupPrivilege; Windows refuses an existing file.
bool saveKey(const KeyLocation& at, const wchar_t* file);
// RegRestoreKeyW into the key (opened or created) after enabling
// SeBackupPrivilege and SeRestorePrivilege.
bool restoreKey(const KeyLocation& at, const wchar_t* file);

// SHChangeNotify(SHCNE_ASSOCCHANGED) through the shell function loader; does
// nothing when the loader cannot find the shell functions.
void notifyAssociationsChanged();

}  // namespace registry
