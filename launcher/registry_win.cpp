#include "launcher/registry_win.h"

#include <cstring>

#include "launcher/privilege.h"
#include "launcher/registry_path.h"
#include "launcher/system_calls.h"

namespace registry {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "registry text is UTF-16 on both sides");

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
// while it is enumerated gives no names rather than some of them (and an
// error that repeats at every index cannot keep the loop going).
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

UniqueRegKey openKey(const KeyLocation& at, Access access, LSTATUS* status) {
    HKEY key = nullptr;
    LSTATUS result;
    if (access == Access::create) {
        // RegCreateKeyExW takes an empty path, not a null one, for the key itself.
        result =
            system_calls::RegCreateKeyExW(at.root, at.subKey ? at.subKey : L"", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS | at.view, nullptr, &key, nullptr);
    } else {
        const REGSAM mask = access == Access::read        ? KEY_READ
                            : access == Access::readWrite ? KEY_READ | KEY_SET_VALUE
                                                          : KEY_ALL_ACCESS;
        result = RegOpenKeyExW(at.root, at.subKey, 0, mask | at.view, &key);
    }
    if (status) *status = result;
    // A failed call leaves no key to close, whatever the output holds.
    return UniqueRegKey(result == ERROR_SUCCESS ? key : nullptr);
}

bool keyExists(const KeyLocation& at) { return openKey(at, Access::read).valid(); }

bool createKey(const KeyLocation& at) { return openKey(at, Access::create).valid(); }

std::optional<Value> queryValue(HKEY key, const wchar_t* name, std::size_t limitBytes) {
    Value value;
    value.data.resize(limitBytes);
    DWORD size = static_cast<DWORD>(value.data.size());
    if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

std::optional<std::wstring> readString(HKEY key, const wchar_t* name, std::size_t limitBytes) {
    const std::optional<Value> value = queryValue(key, name, limitBytes);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), value->data.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::optional<std::wstring> readString(const KeyLocation& at, const wchar_t* name, std::size_t limitBytes) {
    UniqueRegKey key = openKey(at, Access::read);
    if (!key) return std::nullopt;
    return readString(key.get(), name, limitBytes);
}

std::optional<DWORD> readDword(HKEY key, const wchar_t* name) {
    const std::optional<Value> value = queryValue(key, name, sizeof(DWORD));
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

std::optional<DWORD> readDword(const KeyLocation& at, const wchar_t* name) {
    UniqueRegKey key = openKey(at, Access::read);
    if (!key) return std::nullopt;
    return readDword(key.get(), name);
}

LSTATUS writeValue(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size) {
    return system_calls::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

LSTATUS writeString(HKEY key, const wchar_t* name, std::wstring_view text, Terminator terminator, DWORD type) {
    std::wstring data(text);
    const std::size_t chars = data.size() + (terminator == Terminator::nulStored ? 1 : 0);
    return writeValue(key, name, type, data.c_str(), chars * sizeof(wchar_t));
}

LSTATUS writeDword(HKEY key, const wchar_t* name, DWORD value) {
    return writeValue(key, name, REG_DWORD, &value, sizeof value);
}

LSTATUS writeBinary(HKEY key, const wchar_t* name, const void* data, std::size_t size) {
    return writeValue(key, name, REG_BINARY, data, size);
}

LSTATUS deleteValue(HKEY key, const wchar_t* name) { return RegDeleteValueW(key, name); }

LSTATUS writeString(const KeyLocation& at, const wchar_t* name, std::wstring_view text, Terminator terminator,
                    DWORD type) {
    LSTATUS status = ERROR_SUCCESS;
    UniqueRegKey key = openKey(at, Access::create, &status);
    return key ? writeString(key.get(), name, text, terminator, type) : status;
}

LSTATUS writeDword(const KeyLocation& at, const wchar_t* name, DWORD value) {
    LSTATUS status = ERROR_SUCCESS;
    UniqueRegKey key = openKey(at, Access::create, &status);
    return key ? writeDword(key.get(), name, value) : status;
}

LSTATUS deleteValue(const KeyLocation& at, const wchar_t* name) {
    LSTATUS status = ERROR_SUCCESS;
    UniqueRegKey key = openKey(at, Access::readWrite, &status);
    return key ? deleteValue(key.get(), name) : status;
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

DeleteKeyExFn findDeleteKeyEx() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    return advapi ? reinterpret_cast<DeleteKeyExFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")))
                  : nullptr;
}

void deleteKeyTree(const KeyLocation& at, DeleteKeyExFn deleteEx) {
    if (!namesKeyBelowRoot(utf16(at.subKey))) return;
    deleteTree(at.root, at.subKey, at.view, deleteEx);
}

void deleteKeyTree(const KeyLocation& at) { deleteKeyTree(at, findDeleteKeyEx()); }

void deleteKeyIfEmpty(const KeyLocation& at, DeleteKeyExFn deleteEx) {
    if (!namesKeyBelowRoot(utf16(at.subKey))) return;
    UniqueRegKey key = openKey(at, Access::readWrite);
    if (!key) key = openKey(at, Access::read);
    if (!key) return;
    DWORD subKeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 0 || values != 0)
        return;
    key.reset();
    // Not the tree delete: a sub-key added since the check makes this fail
    // instead of being deleted with the key.
    deleteOneKey(at.root, at.subKey, at.view, deleteEx);
}

void deleteKeyIfEmpty(const KeyLocation& at) { deleteKeyIfEmpty(at, findDeleteKeyEx()); }

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

}  // namespace registry
