// Natives of the Java class Win32UserInfo: the current user's SID, membership
// in a built-in group and elevation type, starting a program elevated, local
// users and groups (netapi32), account names and profile directories, and
// account rights in the local security policy.
//
// Every Windows function is found at run time (launcher/system_calls.h); a
// missing one gives the native's documented fallback.  Failure is a return
// value: null, false, 0, -1, or for the texts of addUser0, getAccountName0
// and getUserProfileDirectory0 a numbered code or an error text beginning
// with a blank.  A null SID argument is never handed to Windows: it reads as
// ERROR_INVALID_PARAMETER in the error text of the method.
#include <windows.h>

#include <lm.h>
#include <ntsecapi.h>

#include <optional>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/account_rules.h"
#include "natives/account_win.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

namespace {

using namespace account;
using jni::JavaString;
using jni::toJava;

using NetLocalGroupAddFn = NET_API_STATUS(WINAPI*)(LPCWSTR, DWORD, LPBYTE, LPDWORD);
using NetLocalGroupGetInfoFn = NET_API_STATUS(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*);
using NetApiBufferFreeFn = NET_API_STATUS(WINAPI*)(LPVOID);
using NetUserAddFn = NET_API_STATUS(WINAPI*)(LPCWSTR, DWORD, LPBYTE, LPDWORD);
using NetUserGetInfoFn = NET_API_STATUS(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*);
using NetLocalGroupAddMembersFn = NET_API_STATUS(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPBYTE, DWORD);
using NetDeleteFn = NET_API_STATUS(WINAPI*)(LPCWSTR, LPCWSTR);
using LogonUserWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD, PHANDLE);
using GetUserProfileDirectoryWFn = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);
using LsaOpenPolicyFn = NTSTATUS(NTAPI*)(PLSA_UNICODE_STRING, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK, PLSA_HANDLE);
using LsaAddAccountRightsFn = NTSTATUS(NTAPI*)(LSA_HANDLE, PSID, PLSA_UNICODE_STRING, ULONG);
using LsaRemoveAccountRightsFn = NTSTATUS(NTAPI*)(LSA_HANDLE, PSID, BOOLEAN, PLSA_UNICODE_STRING, ULONG);
using LsaCloseFn = NTSTATUS(NTAPI*)(LSA_HANDLE);

// Texts of the profile directory and addUser0's result.
constexpr DWORD kResultChars = 8192;
// POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES
constexpr ACCESS_MASK kPolicyAccess = 0x810;

jstring javaText(JNIEnv* env, const std::wstring& text) { return jni::newString(env, std::wstring_view(text)); }

// netapi32.dll: the loaded module, else loaded now from the system directory.
HMODULE netapi() { return system_calls::systemModule(L"netapi32.dll"); }

// A buffer a network-management call allocated, freed with the
// NetApiBufferFree found at run time.
class NetBuffer {
public:
    explicit NetBuffer(NetApiBufferFreeFn free) : free_(free) {}
    ~NetBuffer() {
        if (buffer_) free_(buffer_);
    }
    NetBuffer(const NetBuffer&) = delete;
    NetBuffer& operator=(const NetBuffer&) = delete;
    // For the out parameter of a call; the buffer is taken only when the call succeeds.
    LPBYTE* out() { return &pending_; }
    void adopt() {
        buffer_ = pending_;
        pending_ = nullptr;
    }
    template <typename T>
    T* as() const {
        return reinterpret_cast<T*>(buffer_);
    }

private:
    NetApiBufferFreeFn free_;
    LPBYTE pending_ = nullptr;
    LPBYTE buffer_ = nullptr;
};

// What addUser0 needs from netapi32.dll and advapi32.dll, found on each call.
struct AddUserFunctions {
    ConvertSidToStringSidWFn sidToText;
    NetLocalGroupAddFn groupAdd;
    NetLocalGroupGetInfoFn groupGetInfo;
    NetApiBufferFreeFn bufferFree;
    NetUserAddFn userAdd;
    NetUserGetInfoFn userGetInfo;
    NetLocalGroupAddMembersFn groupAddMembers;
};

std::optional<AddUserFunctions> addUserFunctions() {
    HMODULE net = netapi();
    AddUserFunctions f{
        system_calls::function<ConvertSidToStringSidWFn>(advapi(), "ConvertSidToStringSidW"),
        system_calls::function<NetLocalGroupAddFn>(net, "NetLocalGroupAdd"),
        system_calls::function<NetLocalGroupGetInfoFn>(net, "NetLocalGroupGetInfo"),
        system_calls::function<NetApiBufferFreeFn>(net, "NetApiBufferFree"),
        system_calls::function<NetUserAddFn>(net, "NetUserAdd"),
        system_calls::function<NetUserGetInfoFn>(net, "NetUserGetInfo"),
        system_calls::function<NetLocalGroupAddMembersFn>(net, "NetLocalGroupAddMembers"),
    };
    if (!f.sidToText || !f.groupAdd || !f.groupGetInfo || !f.bufferFree || !f.userAdd || !f.userGetInfo ||
        !f.groupAddMembers)
        return std::nullopt;
    return f;
}

// The group step of addUser0: creates the group or reads it.  Empty text when
// the step succeeded, else addUser0's failure text.
std::wstring prepareGroup(const AddUserFunctions& f, const JavaString& group, const JavaString& groupComment,
                          bool createGroup, bool failIfGroupExists, bool& groupCreated) {
    if (createGroup) {
        LOCALGROUP_INFO_1 info{const_cast<LPWSTR>(group.get()), const_cast<LPWSTR>(groupComment.get())};
        const NET_API_STATUS status = f.groupAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), nullptr);
        const GroupAdded outcome = groupAddOutcome(status, failIfGroupExists);
        if (outcome == GroupAdded::failed) return addUserFailureText(AddUserFailure::createGroup, status);
        groupCreated = outcome == GroupAdded::created;
        return {};
    }
    NetBuffer info(f.bufferFree);
    const NET_API_STATUS status = f.groupGetInfo(nullptr, group.get(), 1, info.out());
    if (status != NERR_Success) return addUserFailureText(AddUserFailure::readGroup, status);
    info.adopt();
    return {};
}

// The user step of addUser0 after the group step: creates the user, reads
// its SID back, adds it to the group and makes the result text.
std::wstring createUser(const AddUserFunctions& f, const JavaString& name, const JavaString& password,
                        const JavaString& comment, const JavaString& group, bool groupCreated) {
    USER_INFO_1 user{};
    user.usri1_name = const_cast<LPWSTR>(name.get());
    user.usri1_password = const_cast<LPWSTR>(password.get());
    user.usri1_priv = USER_PRIV_USER;
    user.usri1_comment = const_cast<LPWSTR>(comment.get());
    user.usri1_flags = UF_SCRIPT;
    DWORD parameterIndex = 0;
    NET_API_STATUS status = f.userAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&user), &parameterIndex);
    if (status != NERR_Success) return addUserFailureText(AddUserFailure::createUser, status, parameterIndex);

    NetBuffer info(f.bufferFree);
    status = f.userGetInfo(nullptr, name.get(), 23, info.out());
    if (status != NERR_Success) return addUserFailureText(AddUserFailure::readUser, status);
    info.adopt();
    PSID userSid = info.as<USER_INFO_23>() ? info.as<USER_INFO_23>()->usri23_user_sid : nullptr;

    if (!group.isNull()) {
        LOCALGROUP_MEMBERS_INFO_0 member{userSid};
        status = f.groupAddMembers(nullptr, group.get(), 0, reinterpret_cast<LPBYTE>(&member), 1);
        if (!memberAdded(status)) return addUserFailureText(AddUserFailure::addMember, status);
    }
    UniqueLocalMemory<wchar_t> userText;
    if (!userSid || !f.sidToText(userSid, userText.put()) || !userText)
        return addUserFailureText(AddUserFailure::userSidText);
    std::optional<std::wstring> groupText;
    if (!group.isNull()) {
        if (const auto groupSid = lookUpName(group.get()))
            groupText = sidText(const_cast<unsigned char*>(groupSid->data()));
    }
    return addUserSuccessText(userText.get(), groupText, groupCreated);
}

jint deleteByName(JNIEnv* env, jstring serverArgument, jstring nameArgument, const char* function) {
    auto remove = system_calls::function<NetDeleteFn>(netapi(), function);
    if (!remove) return -1;
    const JavaString server(env, serverArgument);
    const JavaString name(env, nameArgument);
    return static_cast<jint>(remove(server.get(), name.get()));
}

// An LSA policy handle, closed with the LsaClose found at run time.
class PolicyHandle {
public:
    explicit PolicyHandle(LsaCloseFn close) : close_(close) {}
    ~PolicyHandle() {
        if (handle_) close_(handle_);
    }
    PolicyHandle(const PolicyHandle&) = delete;
    PolicyHandle& operator=(const PolicyHandle&) = delete;
    LSA_HANDLE* out() { return &handle_; }
    LSA_HANDLE get() const { return handle_; }

private:
    LsaCloseFn close_;
    LSA_HANDLE handle_ = nullptr;
};

// The SID setLsaAccountRight0 changes: the account text as a SID, or when it
// is no SID text, the SID of the account of that name.  The SID lives in one
// of the two owners; sid() is null when there is none.
class AccountSid {
public:
    AccountSid(HMODULE advapi32, const JavaString& account) {
        auto convert = system_calls::function<ConvertStringSidToSidWFn>(advapi32, "ConvertStringSidToSidW");
        if (!convert || account.isNull()) return;
        if (convert(account.get(), converted_.put()) && converted_) {
            sid_ = converted_.get();
        } else if ((lookedUp_ = lookUpName(account.get()))) {
            sid_ = lookedUp_->data();
        }
    }
    PSID sid() const { return sid_; }

private:
    UniqueLocalMemory<void> converted_;
    std::optional<std::vector<unsigned char>> lookedUp_;
    PSID sid_ = nullptr;
};

}  // namespace

extern "C" {

// Returns true also when the check cannot be made (functions missing, the
// group's SID not built, no token, a size query failing for another reason
// than the buffer size); false when the groups were read and none matched,
// or reading them failed.
jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, isMemberOfGroup0)(JNIEnv*, jclass, jint rid) {
    const std::optional<TokenFunctions> f = tokenFunctions();
    if (!f) return JNI_TRUE;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueAllocatedSid group;
    if (!f->allocateSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, static_cast<DWORD>(rid), 0, 0, 0, 0, 0, 0,
                        group.put()) ||
        !group)
        return JNI_TRUE;
    const UniqueKernelHandle token = queryToken(*f);
    if (!token) return JNI_TRUE;
    const TokenInformation information = readTokenInformation(*f, token.get(), TokenGroups);
    if (information.sizeQueryFailed) return JNI_TRUE;
    const auto* groups = information.as<TOKEN_GROUPS>();
    if (!groups) return JNI_FALSE;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& entry = groups->Groups[i];
        if (f->equalSid(entry.Sid, group.get()) && countsForMembership(entry.Attributes)) return JNI_TRUE;
    }
    return JNI_FALSE;
}

// ShellExecuteW with the verb "runas" through the shell function loader; true
// when the shell reports a value above 32.  sspicli.dll is loaded once per
// process first (the shell's elevation path needs it loaded from the system
// directory).
jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, executeElevated0)(JNIEnv* env, jclass, jstring fileArgument,
                                                                  jstring parametersArgument, jstring directoryArgument,
                                                                  jint show) {
    const JavaString file(env, fileArgument);
    const JavaString parameters(env, parametersArgument);
    const JavaString directory(env, directoryArgument);
    static bool securitySupportLoaded = false;
    if (!securitySupportLoaded) {
        securitySupportLoaded = true;
        system_calls::systemModule(L"sspicli.dll");
    }
    ShellFunctions shell;
    if (!loadShellFunctions(shell)) return JNI_FALSE;
    auto execute = system_calls::resolve("ShellExecuteW", shell.shellExecute);
    HINSTANCE result = execute(nullptr, L"runas", file.get(), parameters.get(), directory.get(), show);
    return toJava(reinterpret_cast<INT_PTR>(result) > 32);
}

// 1 default, 2 full, 3 limited; 0 when the process token's elevation type
// cannot be read.
jint JNICALL NATIVE_FUNCTION(Win32UserInfo, getElevationType0)(JNIEnv*, jclass) {
    const std::optional<TokenFunctions> f = tokenFunctions();
    if (!f) return 0;
    const UniqueKernelHandle token = processToken(*f);
    if (!token) return 0;
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    if (!f->information(token.get(), TokenElevationType, &type, sizeof type, &size)) return 0;
    return static_cast<jint>(type);
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, addUser0)(JNIEnv* env, jclass, jstring nameArgument,
                                                         jstring passwordArgument, jstring commentArgument,
                                                         jstring groupArgument, jstring groupCommentArgument,
                                                         jboolean createGroup, jboolean failIfGroupExists) {
    const std::optional<AddUserFunctions> f = addUserFunctions();
    if (!f) return nullptr;
    const JavaString name(env, nameArgument);
    const JavaString password(env, passwordArgument);
    const JavaString comment(env, commentArgument);
    const JavaString group(env, groupArgument);
    const JavaString groupComment(env, groupCommentArgument);
    bool groupCreated = false;
    std::wstring result;
    if (!group.isNull())
        result = prepareGroup(*f, group, groupComment, createGroup != JNI_FALSE, failIfGroupExists != JNI_FALSE,
                              groupCreated);
    if (result.empty()) result = createUser(*f, name, password, comment, group, groupCreated);
    return result.empty() ? nullptr : javaText(env, result);
}

jint JNICALL NATIVE_FUNCTION(Win32UserInfo, deleteUser0)(JNIEnv* env, jclass, jstring server, jstring name) {
    return deleteByName(env, server, name, "NetUserDel");
}

jint JNICALL NATIVE_FUNCTION(Win32UserInfo, deleteLocalGroup0)(JNIEnv* env, jclass, jstring server, jstring group) {
    return deleteByName(env, server, group, "NetLocalGroupDel");
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getAccountName0)(JNIEnv* env, jclass, jstring sidArgument,
                                                                jboolean nameOnly) {
    HMODULE advapi32 = advapi();
    if (!advapi32) return javaText(env, {});
    const JavaString sid(env, sidArgument);
    if (sid.isNull()) return javaText(env, errorText(ERROR_INVALID_PARAMETER));
    if (const auto service = serviceAccountName(sid.text())) return javaText(env, *service);
    auto convert = system_calls::function<ConvertStringSidToSidWFn>(advapi32, "ConvertStringSidToSidW");
    if (!convert) return javaText(env, {});
    UniqueLocalMemory<void> binary;
    if (!convert(sid.get(), binary.put()) || !binary) return javaText(env, errorText(GetLastError()));
    const std::optional<AccountName> account = lookUpSid(binary.get());
    if (!account) return javaText(env, errorText(GetLastError()));
    return javaText(env, accountNameText(account->name, account->domain, isBuiltinSid(sid.text()), nameOnly));
}

// Logs the account on (a network logon with the given password) and asks for
// the profile directory of that token.  Userenv.dll is loaded for the call
// and freed again.
jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getUserProfileDirectory0)(JNIEnv* env, jclass, jstring sidArgument,
                                                                         jstring passwordArgument) {
    HMODULE advapi32 = advapi();
    const UniqueModule userenv(system_calls::loadSystemLibrary(L"Userenv.dll"));
    if (!advapi32 || !userenv) return javaText(env, profileFailureText(ProfileFailure::loadLibrary, GetLastError()));
    const JavaString sid(env, sidArgument);
    const JavaString password(env, passwordArgument);
    if (!sid.isNull() && serviceAccountName(sid.text())) return javaText(env, noUserAccountText());

    auto convert = system_calls::function<ConvertStringSidToSidWFn>(advapi32, "ConvertStringSidToSidW");
    auto logon = system_calls::function<LogonUserWFn>(advapi32, "LogonUserW");
    auto profile = system_calls::function<GetUserProfileDirectoryWFn>(userenv.get(), "GetUserProfileDirectoryW");
    if (!convert || !logon || !profile)
        return javaText(env, profileFailureText(ProfileFailure::functions, GetLastError()));

    if (sid.isNull()) return javaText(env, profileFailureText(ProfileFailure::convertSid, ERROR_INVALID_PARAMETER));
    UniqueLocalMemory<void> binary;
    if (!convert(sid.get(), binary.put()) || !binary)
        return javaText(env, profileFailureText(ProfileFailure::convertSid, GetLastError()));
    const std::optional<AccountName> account = lookUpSid(binary.get());
    if (!account) return javaText(env, profileFailureText(ProfileFailure::lookUp, GetLastError()));
    const std::wstring domain = logonDomain(account->domain, isBuiltinSid(sid.text()));
    HANDLE rawToken = nullptr;
    if (!logon(account->name.c_str(), domain.c_str(), password.get(), LOGON32_LOGON_NETWORK, LOGON32_PROVIDER_DEFAULT,
               &rawToken))
        return javaText(env, profileFailureText(ProfileFailure::logon, GetLastError()));
    const UniqueKernelHandle token(rawToken);
    std::vector<wchar_t> directory(kResultChars, L'\0');
    DWORD chars = kResultChars;
    if (!profile(token.get(), directory.data(), &chars))
        return javaText(env, profileFailureText(ProfileFailure::profile, GetLastError()));
    directory.back() = L'\0';
    return jni::newString(env, directory.data());
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getUserSid0)(JNIEnv* env, jclass) {
    const std::optional<TokenFunctions> f = tokenFunctions();
    if (!f) return nullptr;
    const UniqueKernelHandle token = queryToken(*f);
    if (!token) return nullptr;
    const TokenInformation information = readTokenInformation(*f, token.get(), TokenUser);
    const auto* user = information.as<TOKEN_USER>();
    if (!user) return nullptr;
    const std::optional<std::wstring> text = sidText(user->User.Sid);
    return text ? javaText(env, *text) : nullptr;
}

// Grants (add) or removes one right of an account, named by SID text or by
// name; a null right with add false removes every right of the account.  A
// right too long for the policy's counted string is refused, never cut.
jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, setLsaAccountRight0)(JNIEnv* env, jclass, jstring accountArgument,
                                                                     jstring rightArgument, jboolean add) {
    HMODULE advapi32 = advapi();
    auto open = system_calls::function<LsaOpenPolicyFn>(advapi32, "LsaOpenPolicy");
    auto addRights = system_calls::function<LsaAddAccountRightsFn>(advapi32, "LsaAddAccountRights");
    auto removeRights = system_calls::function<LsaRemoveAccountRightsFn>(advapi32, "LsaRemoveAccountRights");
    auto close = system_calls::function<LsaCloseFn>(advapi32, "LsaClose");
    if (!open || !addRights || !removeRights || !close) return JNI_FALSE;

    const JavaString accountText(env, accountArgument);
    const AccountSid account(advapi32, accountText);
    if (!account.sid()) return JNI_FALSE;
    const JavaString right(env, rightArgument);
    const std::optional<CountedLength> length = countedLength(right.text().size());
    if (!length) return JNI_FALSE;

    LSA_OBJECT_ATTRIBUTES attributes{};
    PolicyHandle policy(close);
    if (open(nullptr, &attributes, kPolicyAccess, policy.out()) != 0) return JNI_FALSE;
    std::wstring rightText = right.text();
    LSA_UNICODE_STRING rightString{length->length, length->maximumLength, rightText.data()};
    const NTSTATUS status = add ? addRights(policy.get(), account.sid(), &rightString, 1)
                                : removeRights(policy.get(), account.sid(), toJava(right.isNull()), &rightString, 1);
    return toJava(status == 0);
}

}  // extern "C"
