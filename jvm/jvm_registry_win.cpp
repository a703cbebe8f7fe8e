#include "jvm/jvm_registry.h"

#include <cstring>
#include <optional>
#include <vector>

#include "jvm/java_probe.h"
#include "jvm/search_rules.h"
#include "launcher/config_store.h"
#include "launcher/exe_path.h"
#include "launcher/log.h"
#include "launcher/registry_win.h"
#include "launcher/win_handles.h"

namespace {

// Limits of what is read: "CurrentVersion" values and everything else.
constexpr std::size_t kCurrentVersionLimit = 100;

const wchar_t* const kInstallationsKey = L"SOFTWARE\\quillmoor\\tovrix\\installations";

// 8-bit paths and names reach the registry as UTF-16 converted from the file
// code page, and come back the same way.
wstring toWide(const std::string& text) { return fromFileCodePage(text); }

// A key name without the trailing backslash the list prefixes carry.
wstring keyName(std::string name) {
    if (!name.empty() && name.back() == '\\') name.pop_back();
    return toWide(name);
}

UniqueRegKey openForReading(HKEY root, const wstring& name) {
    return registry::openKey({root, name.c_str()}, registry::Access::read);
}

// A string value of at most `limit` bytes of UTF-16 (a missing terminating
// zero is added), converted to the 8-bit file code page; false when it is
// missing, not a string, too long or not representable in the code page.
bool readString(HKEY key, const wchar_t* value, std::size_t limit, std::string& out) {
    const std::optional<wstring> text = registry::readString(key, value, limit);
    if (!text) return false;
    bool lost = false;
    out = toFileCodePage(*text, lost);
    return !lost;
}

// Subkey names of a key in the file code page; names the code page cannot
// hold are left out, and a failed enumeration gives none.
std::vector<std::string> subkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (const wstring& name : registry::subKeyNames(key).value_or(std::vector<wstring>{})) {
        bool lost = false;
        const std::string narrow = toFileCodePage(name, lost);
        if (!lost) names.push_back(narrow);
    }
    return names;
}

struct Candidate {
    std::string javaExecutable;
    std::string version;
};

// "JavaHome" of <vendor key>\<version>, derived and checked without pre-release
// versions, with the cache.
bool tryVendorVersion(const wchar_t* vendorKey, const std::string& version, const VersionRange& range, Candidate& out) {
    if (version.empty()) return false;
    UniqueRegKey key = openForReading(HKEY_LOCAL_MACHINE, wstring(vendorKey) + L"\\" + toWide(version));
    std::string home;
    if (!key || !readString(key.get(), L"JavaHome", kTextLimit, home)) return false;
    key.reset();
    std::string javaExecutable, found;
    if (!deriveJavaExecutable(home, javaExecutable)) return false;
    if (!checkJavaExe(javaExecutable, found, range, false, true)) return false;
    out = Candidate{javaExecutable, found};
    return true;
}

// "CurrentVersion" of a vendor key when it passes the coarse check, else "".
std::string currentVersionInRange(const wchar_t* vendorKey, const VersionRange& range) {
    UniqueRegKey key = openForReading(HKEY_LOCAL_MACHINE, vendorKey);
    std::string version;
    if (!key || !readString(key.get(), L"CurrentVersion", kCurrentVersionLimit, version)) return {};
    return keyNameInRange(version, range) ? version : std::string();
}

// The current versions of a JDK key and its JRE key: the JDK's is taken only
// when greater than the JRE's.
bool tryCurrentVersionPair(const wchar_t* jdkKey, const wchar_t* jreKey, const VersionRange& range, Candidate& out) {
    const std::string jdkVersion = currentVersionInRange(jdkKey, range);
    const std::string jreVersion =
        getConfigInt(config::kJdkRequired) != 0 ? std::string() : currentVersionInRange(jreKey, range);
    if (versionGreater(jdkVersion, jreVersion)) return tryVendorVersion(jdkKey, jdkVersion, range, out);
    return tryVendorVersion(jreKey, jreVersion, range, out);
}

// Every version subkey of a vendor key, from the greatest byte string down.
bool tryAllVersions(const wchar_t* vendorKey, const VersionRange& range, Candidate& out) {
    std::vector<std::string> names;
    {
        UniqueRegKey key = openForReading(HKEY_LOCAL_MACHINE, vendorKey);
        if (!key) return false;
        names = subkeyNames(key.get());
    }
    for (const std::string& name : vendorSubkeyOrder(names, range))
        if (tryVendorVersion(vendorKey, name, range, out)) return true;
    return false;
}

bool searchVendorKeys(const VersionRange& range, Candidate& out) {
    const wchar_t* const jdk = L"SOFTWARE\\JavaSoft\\JDK";
    const wchar_t* const jre = L"SOFTWARE\\JavaSoft\\JRE";
    const wchar_t* const oldJdk = L"SOFTWARE\\JavaSoft\\Java Development Kit";
    const wchar_t* const oldJre = L"SOFTWARE\\JavaSoft\\Java Runtime Environment";
    const bool jdkRequired = getConfigInt(config::kJdkRequired) != 0;
    return tryCurrentVersionPair(jdk, jre, range, out) || (!jdkRequired && tryAllVersions(jre, range, out)) ||
           tryAllVersions(jdk, range, out) || tryCurrentVersionPair(oldJdk, oldJre, range, out) ||
           (!jdkRequired && tryAllVersions(oldJre, range, out)) || tryAllVersions(oldJdk, range, out);
}

// The located JVMs of one hive that pass (with pre-release versions, with the
// cache); the greatest version wins, the first on ties.
bool searchLocatedList(HKEY hive, const VersionRange& range, Candidate& out) {
    std::vector<std::string> names;
    {
        UniqueRegKey key = openForReading(hive, keyName(kLocatedJvmsKey));
        if (!key) return false;
        names = subkeyNames(key.get());
    }
    const bool onlyOwnRuntimes = getConfigInt(config::kOnlyOwnRuntimes) != 0;
    bool found = false;
    for (const std::string& name : names) {
        std::string javaExecutable = pathFromLocatedKey(name);
        if (onlyOwnRuntimes && javaExecutable.find("tvx_jres") == std::string::npos) continue;
        std::string version;
        if (!checkJavaExe(javaExecutable, version, range, true, true)) continue;
        if (!found || versionGreater(version, out.version)) out = Candidate{javaExecutable, version};
        found = true;
    }
    return found;
}

// The installation list value of this application, in the default registry
// view and then in the 32-bit one.
bool readInstallations(HKEY hive, const std::string& appId, std::string& list) {
    LSTATUS openError = ERROR_SUCCESS;
    bool opened = false;
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY)}) {
        UniqueRegKey key = registry::openKey({hive, kInstallationsKey, view}, registry::Access::read, &openError);
        if (!key) continue;
        opened = true;
        if (readString(key.get(), toWide(appId).c_str(), kTextLimit, list) && !list.empty()) return true;
    }
    if (!opened) logMessage(L"could not open installation node %d", static_cast<int>(openError));
    return false;
}

}  // namespace

bool readCachedVersion(const std::string& javaExecutable, const FILETIME& lastWrite, std::string& version) {
    UniqueRegKey key = openForReading(HKEY_CURRENT_USER, toWide(jvmCacheKeyName(javaExecutable)));
    if (!key) return false;
    // Read with room for more than a FILETIME, so longer data is not mistaken for one.
    const std::optional<registry::Value> stored = registry::queryValue(key.get(), L"LastWriteTime", 16);
    if (!stored || stored->data.size() != sizeof lastWrite ||
        std::memcmp(stored->data.data(), &lastWrite, sizeof lastWrite) != 0)
        return false;
    std::string cached;
    if (!readString(key.get(), L"Version", kTextLimit, cached)) return false;
    if (!isTrustedCachedVersion(cached)) return false;
    version = cached;
    return true;
}

void writeCachedVersion(const std::string& javaExecutable, const FILETIME& lastWrite, const std::string& version) {
    const wstring name = toWide(jvmCacheKeyName(javaExecutable));
    UniqueRegKey key = registry::openKey({HKEY_CURRENT_USER, name.c_str()}, registry::Access::create);
    if (!key) return;
    registry::writeBinary(key.get(), L"LastWriteTime", &lastWrite, sizeof lastWrite);
    registry::writeString(key.get(), L"Version", toWide(version), registry::Terminator::nulOmitted);
}

bool checkRegistry(const VersionRange& range, std::string& javaExecutable, std::string& version) {
    Candidate vendor, located;
    bool haveVendor = false;
    if (getConfigInt(config::kOnlyOwnRuntimes) == 0) {
        haveVendor = searchVendorKeys(range, vendor);
        if (haveVendor) logMessage(L"found sun %S %S", vendor.javaExecutable.c_str(), vendor.version.c_str());
    }
    Candidate user, machine;
    const bool haveUser = searchLocatedList(HKEY_CURRENT_USER, range, user);
    const bool haveMachine = searchLocatedList(HKEY_LOCAL_MACHINE, range, machine);
    const bool haveLocated = haveUser || haveMachine;
    if (haveUser && haveMachine) {
        located = versionGreater(user.version, machine.version) ? user : machine;
    } else if (haveLocated) {
        located = haveUser ? user : machine;
    }
    if (haveLocated) logMessage(L"found located %S %S", located.javaExecutable.c_str(), located.version.c_str());

    if (!haveVendor && !haveLocated) return false;
    const Candidate& chosen =
        (haveVendor && (!haveLocated || versionGreater(vendor.version, located.version))) ? vendor : located;
    javaExecutable = chosen.javaExecutable;
    version = chosen.version;
    return true;
}

bool checkPreviousInstallation(HKEY hive, const VersionRange& range, std::string& javaExecutable,
                               std::string& version) {
    const std::string appId = getConfigStringCopy(config::kApplicationId);
    logMessage(L"checking app id %S (%d, %p)", appId.c_str(), hive == HKEY_LOCAL_MACHINE ? 1 : 0,
               static_cast<void*>(hive));
    if (appId.empty()) return false;
    std::string list;
    if (!readInstallations(hive, appId, list)) return false;
    logMessage(L"found installations: %S", list.c_str());

    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        const std::string directory = list.substr(start, end - start);
        start = end + 1;
        if (directory.empty()) continue;
        std::string candidate, found;
        const bool derived = deriveJavaExecutable(directory + "\\jre", candidate);
        if (derived && checkJavaExe(candidate, found, range, false, true)) {
            javaExecutable = candidate;
            version = found;
            return true;
        }
        if (!derived || !fileExists(candidate))
            logMessage(L"did not find java in %S", directory.c_str());
        else
            logMessage(L"java version did not match in %S", directory.c_str());
    }
    return false;
}

void registerLocatedJvm(const std::string& javaExecutable) {
    const wstring name = toWide(locatedJvmKeyName(javaExecutable));
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        if (registry::createKey({hive, name.c_str()})) return;
}
