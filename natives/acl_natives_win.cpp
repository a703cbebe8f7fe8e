// The native of the Java class ACLHandling: one access-allowed entry for a
// trustee added to the access-control list of a file, a directory or a
// registry key.
//
// The trustee's SID comes from a SID string or an account name (trustee kind
// 3) or is a well-known one (natives/file_rules.h); the object's DACL is
// read, merged with the new entry and written back.  Every SID, security
// descriptor and ACL is owned here and freed on every path, the way its
// source requires.  Failures print one diagnostic line on standard output
// and give false.
#include <windows.h>

#include <aclapi.h>

#include <string>
#include <vector>

#include "natives/file_functions.h"
#include "natives/file_rules.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

namespace {

using jni::JavaString;
using namespace files;

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE && kGenericExecute == GENERIC_EXECUTE &&
                  kGenericAll == GENERIC_ALL,
              "generic rights");

// Memory Windows hands out with LocalAlloc (security descriptors, ACLs,
// SIDs from strings), freed with LocalFree.
class LocalMemory {
public:
    LocalMemory() = default;
    explicit LocalMemory(HLOCAL memory) : memory_(memory) {}
    ~LocalMemory() {
        if (memory_) LocalFree(memory_);
    }
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    HLOCAL get() const { return memory_; }

private:
    HLOCAL memory_ = nullptr;
};

// A trustee's SID: from ConvertStringSidToSidW or the account-name buffer
// (LocalFree), or from AllocateAndInitializeSid (FreeSid).
class TrusteeSid {
public:
    enum class Source { local, allocated };
    TrusteeSid() = default;
    TrusteeSid(PSID sid, Source source) : sid_(sid), source_(source) {}
    ~TrusteeSid() { reset(); }
    TrusteeSid(TrusteeSid&& other) noexcept : sid_(other.sid_), source_(other.source_) { other.sid_ = nullptr; }
    TrusteeSid& operator=(TrusteeSid&& other) noexcept {
        if (this != &other) {
            reset();
            sid_ = other.sid_;
            source_ = other.source_;
            other.sid_ = nullptr;
        }
        return *this;
    }
    PSID get() const { return sid_; }
    explicit operator bool() const { return sid_ != nullptr; }

private:
    void reset() {
        if (!sid_) return;
        if (source_ == Source::allocated)
            FreeSid(sid_);
        else
            LocalFree(sid_);
        sid_ = nullptr;
    }
    PSID sid_ = nullptr;
    Source source_ = Source::local;
};

// The SID of the account argument: a SID string, else an account name looked
// up on the local system; none for a null account, when
// ConvertStringSidToSidW is missing, or when neither works.
TrusteeSid accountSid(JNIEnv* env, jstring accountArgument) {
    const JavaString account(env, accountArgument);
    if (account.isNull()) return {};
    const ConvertStringSidToSidFn convert = fileFunctions().stringSidToSid();
    if (!convert) return {};
    PSID converted = nullptr;
    if (convert(account.get(), &converted)) return {converted, TrusteeSid::Source::local};
    TrusteeSid buffer(LocalAlloc(LPTR, kAccountSidBytes), TrusteeSid::Source::local);
    if (!buffer) return {};
    DWORD sidBytes = kAccountSidBytes;
    std::vector<wchar_t> domain(kAccountDomainChars, L'\0');
    DWORD domainChars = kAccountDomainChars;
    SID_NAME_USE use;
    if (!LookupAccountNameW(nullptr, account.get(), buffer.get(), &sidBytes, domain.data(), &domainChars, &use))
        return {};
    return buffer;
}

TrusteeSid wellKnownSid(const Trustee& trustee) {
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, trustee.authority}};
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, trustee.subAuthorityCount, trustee.subAuthorities[0],
                                  trustee.subAuthorities[1], 0, 0, 0, 0, 0, 0, &sid))
        return {};
    return {sid, TrusteeSid::Source::allocated};
}

}  // namespace

extern "C" {

// True exactly when the DACL was read, merged and written back.  A null path
// fails at once.
jboolean JNICALL NATIVE_FUNCTION(ACLHandling, addACE)(JNIEnv* env, jclass, jstring path, jboolean registryKey,
                                                      jboolean read, jboolean write, jboolean execute, jboolean all,
                                                      jint trusteeKind, jstring account) {
    const JavaString objectPath(env, path);
    if (objectPath.isNull()) return JNI_FALSE;
    const Trustee trustee = trusteeFor(trusteeKind);
    const TrusteeSid sid = trustee.fromAccount ? accountSid(env, account) : wellKnownSid(trustee);
    if (!sid) return JNI_FALSE;

    std::wstring name = objectPath.text();  // SetNamedSecurityInfoW takes a writable name
    const SE_OBJECT_TYPE type = registryKey ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
    PACL oldDacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                         nullptr, &descriptor);
    const LocalMemory descriptorOwner(descriptor);  // oldDacl points into it
    if (status != ERROR_SUCCESS) {
        printDiagnostic("GetNamedSecurityInfo Error %u %S\n", static_cast<unsigned>(status), name.c_str());
        return JNI_FALSE;
    }

    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = accessMask(read, write, execute, all);
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(sid.get());
    PACL newDacl = nullptr;
    status = SetEntriesInAclW(1, &access, oldDacl, &newDacl);
    const LocalMemory newDaclOwner(newDacl);
    if (status != ERROR_SUCCESS) {
        printDiagnostic("SetEntriesInAcl Error %u\n", static_cast<unsigned>(status));
        return JNI_FALSE;
    }
    status = SetNamedSecurityInfoW(name.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl, nullptr);
    if (status != ERROR_SUCCESS) {
        printDiagnostic("SetNamedSecurityInfo Error %u\n", static_cast<unsigned>(status));
        return JNI_FALSE;
    }
    return JNI_TRUE;
}

}  // extern "C"
