#include "natives/registry_win.h"

#include <shlobj.h>

#include "natives/native_bridge.h"

namespace registry {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "registry text is UTF-16 on both sides");
static_assert(kTypeString == REG_SZ && kTypeExpandString == REG_EXPAND_SZ && kTypeBinary == REG_BINARY &&
                  kTypeDword == REG_DWORD && kTypeMultiString == REG_MULTI_SZ,
              "registry type numbers");

namespace {

// Sub-key names of the recursive delete fit this buffer (Windows allows 255).
constexpr DWORD kDeleteNameChars = 1024;
// The enumerations' name buffer, and the one a longer name is read again
// with: value names may have up to 16,383 characters.
constexpr DWORD kEnumNameChars = 4096;
constexpr DWORD kLongestNameChars = 32768;

const char16_t* utf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Deletes one key that has no sub-keys in the view.  Without RegDeleteKeyExW
// a nonzero view is kept by deleting the last path element under its parent
// opened in that view (RegDeleteKeyW alone would work in the process's own
// view and could delete the other view's key).
void deleteOneKey(HKEY parent, const wchar_t* name, REGSAM view, DeleteKeyExFn deleteEx) {
    if (view == 0) {
        RegDeleteKeyW(parent, name);
    } else if (deleteEx) {
        deleteEx(parent, name, view, 0);
    } else {
        const KeyPathParts parts = splitKeyPath(utf16(name));
        UniqueRegKey container = openKey({parent, wide(parts.parent), view}, Access::read);
        if (container) RegDeleteKeyW(container.get(), wide(parts.leaf));
    }
}

// Deletes `name` under `parent` after its sub-keys.  All sub-key names are
// collected before any is deleted, since deleting shifts the enumeration.
void deleteTree(HKEY parent, const wchar_t* name, REGSAM view, DeleteKeyExFn deleteEx) {
    {
        UniqueRegKey key = openKey({parent, name, view}, Access::read);
        if (!key) return;
        std::vector<std::wstring> children;
        std::wstring buffer(kDeleteNameChars, L'\0');
        for (DWORD index = 0;; ++index) {
            DWORD length = kDeleteNameChars;
            if (RegEnumKeyExW(key.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            children.emplace_back(buffer.data(), length);
        }
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            deleteTree(key.get(), child->c_str(), view, deleteEx);
    }
    deleteOneKey(parent, name, view, deleteEx);
}

// Collects names from an enumeration call (index, buffer, in/out length) up
// to ERROR_NO_MORE_ITEMS.  A name longer than the buffer is read again with
// the largest one; any other error fails the enumeration, so a key deleted
// while it is enumerated gives no names rather than some of them.
template <typename Enumerate>
std::optional<std::vector<std::wstring>> enumerateNames(Enumerate enumerate) {
    std::vector<std::wstring> names;
    std::wstring buffer(kEnumNameChars, L'\0');
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status = enumerate(index, buffer.data(), &length);
        if (status == ERROR_NO_MORE_ITEMS) return names;
        if (status == ERROR_MORE_DATA && buffer.size() < kLongestNameChars) {
            buffer.assign(kLongestNameChars, L'\0');
            continue;
        }
        if (status != ERROR_SUCCESS) return std::nullopt;
        names.emplace_back(buffer.data(), length);
        ++index;
    }
}

}  // namespace

HKEY rootKey(Root root) {
    switch (root) {
    case Root::classesRoot: return HKEY_CLASSES_ROOT;
    case Root::currentUser: return HKEY_CURRENT_USER;
    case Root::localMachine: return HKEY_LOCAL_MACHINE;
    case Root::users: return HKEY_USERS;
    case Root::currentConfig: return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

UniqueRegKey openKey(const KeyLocation& at, Access access) {
    HKEY key = nullptr;
    LSTATUS status;
    if (access == Access::create) {
        // RegCreateKeyExW takes an empty path, not a null one, for the key itself.
        status = RegCreateKeyExW(at.root, at.subKey ? at.subKey : L"", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS | at.view, nullptr, &key, nullptr);
    } else {
        const REGSAM mask = access == Access::read ? KEY_READ : KEY_READ | KEY_SET_VALUE;
        status = RegOpenKeyExW(at.root, at.subKey, 0, mask | at.view, &key);
    }
    return UniqueRegKey(status == ERROR_SUCCESS ? key : nullptr);
}

std::optional<Value> queryValue(HKEY key, const wchar_t* name) {
    Value value;
    value.data.resize(kValueBufferBytes);
    DWORD size = static_cast<DWORD>(value.data.size());
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

DeleteKeyExFn findDeleteKeyEx() {
    return libraryFunction<DeleteKeyExFn>(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
}

void deleteKeyTree(const KeyLocation& at, DeleteKeyExFn deleteEx) {
    if (!namesKeyBelowRoot(utf16(at.subKey))) return;
    deleteTree(at.root, at.subKey, at.view, deleteEx);
}

void deleteKeyIfEmpty(const KeyLocation& at, DeleteKeyExFn deleteEx) {
    if (!namesKeyBelowRoot(utf16(at.subKey))) return;
    UniqueRegKey key = openKey(at, Access::readWrite);
    if (!key) key = openKey(at, Access::read);
    if (!key) return;
    DWORD subKeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 0 || values != 0)
        return;
    key.reset();
    // Not the tree delete: a sub-key added since the check makes this fail
    // instead of being deleted with the key.
    deleteOneKey(at.root, at.subKey, at.view, deleteEx);
}

std::optional<std::vector<std::wstring>> subKeyNames(HKEY key) {
    return enumerateNames([key](DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::optional<std::vector<std::wstring>> valueNames(HKEY key) {
    return enumerateNames([key](DWORD index, wchar_t* name, DWORD* length) {
        return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

bool saveKey(const KeyLocation& at, const wchar_t* file) {
    if (!file || !setPrivilege(L"SeBackupPrivilege")) return false;
    UniqueRegKey key = openKey(at, Access::readWrite);
    return key && RegSaveKeyW(key.get(), file, nullptr) == ERROR_SUCCESS;
}

bool restoreKey(const KeyLocation& at, const wchar_t* file) {
    if (!file || !setPrivilege(L"SeBackupPrivilege") || !setPrivilege(L"SeRestorePrivilege")) return false;
    UniqueRegKey key = openKey(at, Access::create);
    return key && RegRestoreKeyW(key.get(), file, 0) == ERROR_SUCCESS;
}

void notifyAssociationsChanged() {
    ShellFunctions shell;
    if (loadShellFunctions(shell)) shell.changeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // namespace registry
