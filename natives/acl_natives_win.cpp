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
#include <utility>
#include <vector>

#include "launcher/win_handles.h"
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

// A trustee's SID, owned the way its source requires: from
// ConvertStringSidToSidW or the account-name buffer (LocalFree), or from
// AllocateAndInitializeSid (FreeSid).
struct TrusteeSid {
    UniqueLocalMemory<void> local;
    UniqueAllocatedSid allocated;
    PSID get() const { return local ? local.get() : allocated.get(); }
    explicit operator bool() const { return get() != nullptr; }
};

// The SID of the account argument: a SID string, else an account name looked
// up on the local system; none for a null account, when
// ConvertStringSidToSidW is missing, or when neither works.
TrusteeSid accountSid(JNIEnv* env, jstring accountArgument) {
    TrusteeSid sid;
    const JavaString account(env, accountArgument);
    if (account.isNull()) return sid;
    const ConvertStringSidToSidFn convert = fileFunctions().stringSidToSid();
    if (!convert) return sid;
    PSID converted = nullptr;
    if (convert(account.get(), &converted)) {
        sid.local.reset(converted);
        return sid;
    }
    UniqueLocalMemory<void> buffer(LocalAlloc(LPTR, kAccountSidBytes));
    if (!buffer) return sid;
    DWORD sidBytes = kAccountSidBytes;
    std::vector<wchar_t> domain(kAccountDomainChars, L'\0');
    DWORD domainChars = kAccountDomainChars;
    SID_NAME_USE use;
    if (LookupAccountNameW(nullptr, account.get(), buffer.get(), &sidBytes, domain.data(), &domainChars, &use))
        sid.local = std::move(buffer);
    return sid;
}

TrusteeSid wellKnownSid(const Trustee& trustee) {
    TrusteeSid sid;
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, trustee.authority}};
    AllocateAndInitializeSid(&authority, trustee.subAuthorityCount, trustee.subAuthorities[0],
                             trustee.subAuthorities[1], 0, 0, 0, 0, 0, 0, sid.allocated.put());
    return sid;
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
    UniqueLocalMemory<void> descriptor;  // oldDacl points into it
    DWORD status = GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                         nullptr, descriptor.put());
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
    UniqueLocalMemory<ACL> newDacl;
    status = SetEntriesInAclW(1, &access, oldDacl, newDacl.put());
    if (status != ERROR_SUCCESS) {
        printDiagnostic("SetEntriesInAcl Error %u\n", static_cast<unsigned>(status));
        return JNI_FALSE;
    }
    status =
        SetNamedSecurityInfoW(name.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newDacl.get(), nullptr);
    if (status != ERROR_SUCCESS) {
        printDiagnostic("SetNamedSecurityInfo Error %u\n", static_cast<unsigned>(status));
        return JNI_FALSE;
    }
    return JNI_TRUE;
}

}  // extern "C"
