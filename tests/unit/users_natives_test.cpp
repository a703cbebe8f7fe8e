// The Win32UserInfo natives through the JNI test double.  What Wine answers
// for the current user (SID, groups, elevation, names, profile) is compared
// with the same Windows calls made here; what Wine lacks or must not be
// changed from a test (local users and groups, logons, the security policy)
// runs against stand-ins that give the documented statuses and record the
// arguments (launcher/system_calls.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <lm.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <userenv.h>

#include <string>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"

#define USER_NATIVE(name) NATIVE_FUNCTION(Win32UserInfo, name)

namespace {

using system_calls::HideModule;
using system_calls::ReplaceFunction;

// A SID of its text, alive as long as the test needs it.
std::vector<unsigned char> sidOf(const wchar_t* text) {
    UniqueLocalMemory<void> sid;
    if (!ConvertStringSidToSidW(text, sid.put())) return {};
    const auto* bytes = static_cast<unsigned char*>(sid.get());
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid.get()));
}

std::wstring ownSidText() {
    HANDLE raw = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw);
    const UniqueKernelHandle token(raw);
    std::vector<std::uint64_t> buffer(256);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), 2048, &size)) return L"";
    UniqueLocalMemory<wchar_t> text;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, text.put());
    return text.get();
}

class UserNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
    }
    jstring s(const wchar_t* text) { return text ? e_.newString(text) : nullptr; }
    std::wstring text(jstring value) { return value ? e_.stringValue(value) : L"<null>"; }
    jni_double::Environment e_;
};

// ---- The current user, as Wine answers

TEST_F(UserNatives, CurrentUserAsWindowsAnswers) {
    const std::wstring sid = ownSidText();
    ASSERT_FALSE(sid.empty());
    EXPECT_EQ(text(USER_NATIVE(getUserSid0)(e_.env(), nullptr)), sid);

    for (DWORD rid : {DOMAIN_ALIAS_RID_ADMINS, DOMAIN_ALIAS_RID_USERS, DOMAIN_ALIAS_RID_GUESTS}) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        UniqueAllocatedSid group;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, group.put());
        BOOL member = FALSE;
        ASSERT_TRUE(CheckTokenMembership(nullptr, group.get(), &member));
        EXPECT_EQ(USER_NATIVE(isMemberOfGroup0)(e_.env(), nullptr, static_cast<jint>(rid)),
                  member ? JNI_TRUE : JNI_FALSE)
            << rid;
    }

    HANDLE raw = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw);
    const UniqueKernelHandle token(raw);
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size)) type = {};
    EXPECT_EQ(USER_NATIVE(getElevationType0)(e_.env(), nullptr), static_cast<jint>(type));

    wchar_t name[256], domain[256];
    DWORD nameChars = 256, domainChars = 256;
    SID_NAME_USE use;
    const std::vector<unsigned char> binary = sidOf(sid.c_str());
    ASSERT_TRUE(LookupAccountSidW(nullptr, const_cast<unsigned char*>(binary.data()), name, &nameChars, domain,
                                  &domainChars, &use));
    EXPECT_EQ(text(USER_NATIVE(getAccountName0)(e_.env(), nullptr, s(sid.c_str()), JNI_FALSE)),
              std::wstring(domain) + L"\\" + name);
    EXPECT_EQ(text(USER_NATIVE(getAccountName0)(e_.env(), nullptr, s(sid.c_str()), JNI_TRUE)), name);
}

TEST_F(UserNatives, AccountNamesOfWellKnownBuiltinAndBadSids) {
    PSID unused = nullptr;
    ConvertStringSidToSidW(L"S-1-5-x", &unused);  // (what Windows says of a malformed SID text)
    const std::wstring malformed = L" " + std::to_wstring(static_cast<int>(GetLastError()));
    const struct {
        const wchar_t* sid;
        jboolean nameOnly;
        std::wstring expected;
    } cases[] = {
        {L"S-1-5-18", JNI_TRUE, L"NT AUTHORITY\\System"},  // answered without a lookup, even with nameOnly
        {L"S-1-5-19", JNI_FALSE, L"NT AUTHORITY\\LocalService"},
        {L"S-1-5-20", JNI_FALSE, L"NT AUTHORITY\\NetworkService"},
        {L"S-1-5-32-544", JNI_FALSE, L".\\Administrators"},
        {L"S-1-5-32-544", JNI_TRUE, L"Administrators"},
        {L"S-1-5-x", JNI_FALSE, malformed},
        {nullptr, JNI_FALSE, L" 87"},  // a null SID is refused as an invalid parameter
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(USER_NATIVE(getAccountName0)(e_.env(), nullptr, s(c.sid), c.nameOnly)), c.expected)
            << (c.sid ? c.sid : L"null");
    {
        const ReplaceFunction missing("ConvertStringSidToSidW", nullptr);
        EXPECT_EQ(text(USER_NATIVE(getAccountName0)(e_.env(), nullptr, s(L"S-1-5-32-544"), JNI_FALSE)), L"");
    }
    const HideModule noAdvapi(L"advapi32.dll");
    EXPECT_EQ(text(USER_NATIVE(getAccountName0)(e_.env(), nullptr, s(L"S-1-5-18"), JNI_FALSE)), L"");
}

// ---- Token stand-ins

std::vector<std::vector<unsigned char>> tokenSids;
std::vector<DWORD> tokenAttributes;
DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
bool readFails = false, hugeSize = false;
BOOL WINAPI fakeTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID buffer, DWORD size, PDWORD needed) {
    if (kind == TokenElevationType) {
        *static_cast<DWORD*>(buffer) = TokenElevationTypeLimited;
        return TRUE;
    }
    const DWORD bytes = sizeof(TOKEN_GROUPS) + tokenSids.size() * sizeof(SID_AND_ATTRIBUTES);
    *needed = hugeSize ? 0x7FFFFFFF : bytes;
    if (!buffer) return SetLastError(sizeQueryError), FALSE;
    if (readFails || size < bytes) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
    auto* groups = static_cast<TOKEN_GROUPS*>(buffer);
    groups->GroupCount = static_cast<DWORD>(tokenSids.size());
    for (std::size_t i = 0; i < tokenSids.size(); ++i) groups->Groups[i] = {tokenSids[i].data(), tokenAttributes[i]};
    return TRUE;
}
// A Windows function of these parameters that fails with ERROR_ACCESS_DENIED.
template <typename... Args>
BOOL WINAPI refused(Args...) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI failingOpenThreadToken(HANDLE, DWORD, BOOL, PHANDLE) { return SetLastError(ERROR_NO_TOKEN), FALSE; }
BOOL WINAPI failingOpenProcessToken(HANDLE, DWORD, PHANDLE) { return SetLastError(ERROR_ACCESS_DENIED), FALSE; }

// Membership counts enabled groups that are not deny-only; a check that
// cannot be made says true, a group list that cannot be read says false.
TEST_F(UserNatives, MembershipByTokenGroups) {
    const ReplaceFunction information("GetTokenInformation", &fakeTokenInformation);
    const std::vector<unsigned char> admins = sidOf(L"S-1-5-32-544"), users = sidOf(L"S-1-5-32-545");
    const struct {
        const char* what;
        std::vector<std::vector<unsigned char>> sids;
        std::vector<DWORD> attributes;
        DWORD sizeError;
        bool readFails, hugeSize;
        jboolean expected;
    } cases[] = {
        {"enabled", {users, admins}, {0x7, 0x7}, ERROR_INSUFFICIENT_BUFFER, false, false, JNI_TRUE},
        {"deny-only, as in a filtered token", {admins}, {0x10}, ERROR_INSUFFICIENT_BUFFER, false, false, JNI_FALSE},
        {"not enabled", {admins}, {0x3}, ERROR_INSUFFICIENT_BUFFER, false, false, JNI_FALSE},
        {"not in the token", {users}, {0x7}, ERROR_INSUFFICIENT_BUFFER, false, false, JNI_FALSE},
        {"size query refused", {admins}, {0x7}, ERROR_ACCESS_DENIED, false, false, JNI_TRUE},
        {"read refused", {admins}, {0x7}, ERROR_INSUFFICIENT_BUFFER, true, false, JNI_FALSE},
        // A size beyond any token's is refused, not allocated: the groups stay unread.
        {"2 GB asked for", {admins}, {0x7}, ERROR_INSUFFICIENT_BUFFER, false, true, JNI_FALSE},
    };
    for (const auto& c : cases) {
        tokenSids = c.sids, tokenAttributes = c.attributes, sizeQueryError = c.sizeError, readFails = c.readFails;
        hugeSize = c.hugeSize;
        EXPECT_EQ(USER_NATIVE(isMemberOfGroup0)(e_.env(), nullptr, DOMAIN_ALIAS_RID_ADMINS), c.expected) << c.what;
    }
    tokenSids = {users}, tokenAttributes = {0x7}, sizeQueryError = ERROR_INSUFFICIENT_BUFFER, readFails = false;
    hugeSize = false;
    {
        const ReplaceFunction missing("EqualSid", nullptr);
        EXPECT_TRUE(USER_NATIVE(isMemberOfGroup0)(e_.env(), nullptr, DOMAIN_ALIAS_RID_ADMINS));
    }
    {
        const ReplaceFunction allocate(
            "AllocateAndInitializeSid",
            &refused<PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, PSID*>);
        EXPECT_TRUE(USER_NATIVE(isMemberOfGroup0)(e_.env(), nullptr, DOMAIN_ALIAS_RID_ADMINS));
    }
    const ReplaceFunction thread("OpenThreadToken", &failingOpenThreadToken);
    const ReplaceFunction process("OpenProcessToken", &failingOpenProcessToken);
    EXPECT_TRUE(USER_NATIVE(isMemberOfGroup0)(e_.env(), nullptr, DOMAIN_ALIAS_RID_ADMINS));
}

TEST_F(UserNatives, SidAndElevationFailureValues) {
    {
        const ReplaceFunction information("GetTokenInformation", &fakeTokenInformation);
        EXPECT_EQ(USER_NATIVE(getElevationType0)(e_.env(), nullptr), static_cast<jint>(TokenElevationTypeLimited));
        sizeQueryError = ERROR_ACCESS_DENIED;
        EXPECT_EQ(USER_NATIVE(getUserSid0)(e_.env(), nullptr), nullptr);
        sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
    }
    {
        const ReplaceFunction missing("ConvertSidToStringSidW", nullptr);
        EXPECT_EQ(USER_NATIVE(getUserSid0)(e_.env(), nullptr), nullptr);
    }
    {
        const ReplaceFunction missing("OpenThreadToken", nullptr);
        EXPECT_EQ(USER_NATIVE(getUserSid0)(e_.env(), nullptr), nullptr);
        EXPECT_EQ(USER_NATIVE(getElevationType0)(e_.env(), nullptr), 0);
    }
    const ReplaceFunction information("GetTokenInformation",
                                      &refused<HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD>);
    EXPECT_EQ(USER_NATIVE(getElevationType0)(e_.env(), nullptr), 0);
}

// ---- The shell's "runas"

std::vector<std::wstring> executed;
HINSTANCE executeResult;
HINSTANCE WINAPI recordExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                               INT show) {
    auto t = [](LPCWSTR s) { return s ? std::wstring(s) : std::wstring(L"<null>"); };
    executed = {owner ? L"owner" : L"no owner", t(verb), t(file), t(parameters), t(directory), std::to_wstring(show)};
    return executeResult;
}

TEST_F(UserNatives, ExecuteElevatedUsesTheRunAsVerb) {
    const ReplaceFunction execute("ShellExecuteW", &recordExecute);
    executeResult = reinterpret_cast<HINSTANCE>(42);
    EXPECT_TRUE(USER_NATIVE(executeElevated0)(e_.env(), nullptr, s(L"C:\\a b\\setup.exe"), s(L"/x"), nullptr, 3));
    EXPECT_EQ(executed,
              (std::vector<std::wstring>{L"no owner", L"runas", L"C:\\a b\\setup.exe", L"/x", L"<null>", L"3"}));
    for (INT_PTR shellError : {0, 5, 32}) {
        executeResult = reinterpret_cast<HINSTANCE>(shellError);
        EXPECT_FALSE(USER_NATIVE(executeElevated0)(e_.env(), nullptr, s(L"x.exe"), nullptr, nullptr, 1)) << shellError;
    }
}

// ---- Local users and groups (netapi32 stand-ins)

struct NetState {
    NET_API_STATUS groupAdd = 0, groupGetInfo = 0, userAdd = 0, userGetInfo = 0, addMembers = 0;
    DWORD parameterIndex = 0;
    std::vector<std::wstring> calls;
    int buffers = 0;  // allocated and not yet freed
};
NetState net;
const std::vector<unsigned char> userSid = sidOf(L"S-1-5-21-1-2-3-1001");
std::wstring t(LPCWSTR s) { return s ? std::wstring(s) : std::wstring(L"<null>"); }

NET_API_STATUS WINAPI fakeGroupAdd(LPCWSTR server, DWORD level, LPBYTE buffer, LPDWORD) {
    const auto* info = reinterpret_cast<LOCALGROUP_INFO_1*>(buffer);
    net.calls.push_back(L"group add " + t(server) + L" " + std::to_wstring(level) + L" " + t(info->lgrpi1_name) + L" " +
                        t(info->lgrpi1_comment));
    return net.groupAdd;
}
NET_API_STATUS WINAPI fakeGroupGetInfo(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE* buffer) {
    net.calls.push_back(L"group get " + t(group) + L" " + std::to_wstring(level));
    if (net.groupGetInfo) return net.groupGetInfo;
    *buffer = static_cast<LPBYTE>(::operator new(sizeof(LOCALGROUP_INFO_1)));
    return ++net.buffers, 0;
}
NET_API_STATUS WINAPI fakeBufferFree(LPVOID buffer) { return --net.buffers, ::operator delete(buffer), 0; }
NET_API_STATUS WINAPI fakeUserAdd(LPCWSTR server, DWORD level, LPBYTE buffer, LPDWORD index) {
    const auto* u = reinterpret_cast<USER_INFO_1*>(buffer);
    net.calls.push_back(L"user add " + t(server) + L" " + std::to_wstring(level) + L" " + t(u->usri1_name) + L" " +
                        t(u->usri1_password) + L" " + t(u->usri1_comment) + L" " + std::to_wstring(u->usri1_priv) +
                        L" " + std::to_wstring(u->usri1_flags) + L" " + t(u->usri1_home_dir) + L" " +
                        t(u->usri1_script_path));
    if (index) *index = net.parameterIndex;
    return net.userAdd;
}
NET_API_STATUS WINAPI fakeUserGetInfo(LPCWSTR, LPCWSTR user, DWORD level, LPBYTE* buffer) {
    net.calls.push_back(L"user get " + t(user) + L" " + std::to_wstring(level));
    if (net.userGetInfo) return net.userGetInfo;
    auto* info = static_cast<USER_INFO_23*>(::operator new(sizeof(USER_INFO_23)));
    *info = USER_INFO_23{};
    info->usri23_user_sid = const_cast<unsigned char*>(userSid.data());
    *buffer = reinterpret_cast<LPBYTE>(info);
    return ++net.buffers, 0;
}
NET_API_STATUS WINAPI fakeAddMembers(LPCWSTR, LPCWSTR group, DWORD level, LPBYTE buffer, DWORD count) {
    const bool sameSid = EqualSid(reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(buffer)->lgrmi0_sid,
                                  const_cast<unsigned char*>(userSid.data()));
    net.calls.push_back(L"members add " + t(group) + L" " + std::to_wstring(level) + L" " + std::to_wstring(count) +
                        (sameSid ? L" user sid" : L" other sid"));
    return net.addMembers;
}
// Only "tovrix-group" is known by name.
BOOL WINAPI fakeLookupName(LPCWSTR, LPCWSTR name, PSID sid, LPDWORD sidBytes, LPWSTR, LPDWORD, PSID_NAME_USE) {
    const std::vector<unsigned char> group = sidOf(L"S-1-5-21-1-2-3-1002");
    if (!name || std::wstring(name) != L"tovrix-group") return SetLastError(ERROR_NONE_MAPPED), FALSE;
    if (*sidBytes < group.size()) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    CopyMemory(sid, group.data(), group.size());
    return TRUE;
}

class NetNatives : public UserNatives {
protected:
    NetNatives()
        : groupAdd_("NetLocalGroupAdd", &fakeGroupAdd),
          groupGetInfo_("NetLocalGroupGetInfo", &fakeGroupGetInfo),
          bufferFree_("NetApiBufferFree", &fakeBufferFree),
          userAdd_("NetUserAdd", &fakeUserAdd),
          userGetInfo_("NetUserGetInfo", &fakeUserGetInfo),
          addMembers_("NetLocalGroupAddMembers", &fakeAddMembers),
          lookUp_("LookupAccountNameW", &fakeLookupName) {
        net = NetState{};
    }
    std::wstring addUser(const wchar_t* group, jboolean create, jboolean failIfExists) {
        return text(USER_NATIVE(addUser0)(e_.env(), nullptr, s(L"tovrix-user"), s(L"pw"), s(L"a user"), s(group),
                                          s(L"a group"), create, failIfExists));
    }
    ReplaceFunction groupAdd_, groupGetInfo_, bufferFree_, userAdd_, userGetInfo_, addMembers_, lookUp_;
};

TEST_F(NetNatives, AddUserResultTexts) {
    const std::wstring user = L"S-1-5-21-1-2-3-1001", group = L" S-1-5-21-1-2-3-1002";
    const struct {
        const char* what;
        void (*arrange)(NetState&);
        const wchar_t* group;
        jboolean create, failIfExists;
        std::wstring expected;
    } cases[] = {
        {"no group", [](NetState&) {}, nullptr, JNI_TRUE, JNI_FALSE, user},
        {"group created", [](NetState&) {}, L"tovrix-group", JNI_TRUE, JNI_FALSE, user + group + L" true"},
        {"alias exists", [](NetState& n) { n.groupAdd = 1379; }, L"tovrix-group", JNI_TRUE, JNI_FALSE,
         user + group + L" false"},
        {"group exists, refused", [](NetState& n) { n.groupAdd = 2223; }, L"tovrix-group", JNI_TRUE, JNI_TRUE,
         L"1 2223"},
        {"group add fails", [](NetState& n) { n.groupAdd = 5; }, L"tovrix-group", JNI_TRUE, JNI_FALSE, L"1 5"},
        {"existing group read", [](NetState&) {}, L"tovrix-group", JNI_FALSE, JNI_FALSE, user + group + L" false"},
        {"group read fails", [](NetState& n) { n.groupGetInfo = 2220; }, L"tovrix-group", JNI_FALSE, JNI_FALSE,
         L"6 2220"},
        {"user add fails", [](NetState& n) { n.userAdd = 2224, n.parameterIndex = 1; }, nullptr, JNI_FALSE, JNI_FALSE,
         L"2 2224 1"},
        {"user read fails", [](NetState& n) { n.userGetInfo = 2140; }, nullptr, JNI_FALSE, JNI_FALSE, L"3 2140"},
        {"already a member", [](NetState& n) { n.addMembers = 1378; }, L"tovrix-group", JNI_TRUE, JNI_FALSE,
         user + group + L" true"},
        {"member add fails", [](NetState& n) { n.addMembers = 1387; }, L"tovrix-group", JNI_TRUE, JNI_FALSE, L"4 1387"},
        {"group SID not found", [](NetState&) {}, L"other-group", JNI_TRUE, JNI_FALSE, user},
    };
    for (const auto& c : cases) {
        net = NetState{};
        c.arrange(net);
        EXPECT_EQ(addUser(c.group, c.create, c.failIfExists), c.expected) << c.what;
        EXPECT_EQ(net.buffers, 0) << c.what << ": every network-management buffer is freed";
    }
    {
        const ReplaceFunction sidText("ConvertSidToStringSidW", &refused<PSID, LPWSTR*>);
        net = NetState{};
        EXPECT_EQ(addUser(nullptr, JNI_FALSE, JNI_FALSE), L"5");
    }
    const ReplaceFunction missing("NetLocalGroupAddMembers", nullptr);
    EXPECT_EQ(addUser(nullptr, JNI_FALSE, JNI_FALSE), L"<null>");
}

TEST_F(NetNatives, AddUserHandsTheArgumentsOn) {
    addUser(L"tovrix-group", JNI_TRUE, JNI_FALSE);
    EXPECT_EQ(net.calls, (std::vector<std::wstring>{
                             L"group add <null> 1 tovrix-group a group",
                             L"user add <null> 1 tovrix-user pw a user 1 1 <null> <null>",  // USER_PRIV_USER, UF_SCRIPT
                             L"user get tovrix-user 23",
                             L"members add tovrix-group 0 1 user sid",
                         }));
}

std::vector<std::wstring> deleted;
NET_API_STATUS WINAPI recordDelete(LPCWSTR server, LPCWSTR name) {
    deleted = {t(server), t(name)};
    return 2220;
}

TEST_F(UserNatives, DeleteUserAndGroup) {
    // Wine's netapi32 knows the current user and the users its process added.
    EXPECT_EQ(USER_NATIVE(deleteUser0)(e_.env(), nullptr, nullptr, s(L"tovrix-nobody")), 2221);  // NERR_UserNotFound
    for (const char* function : {"NetUserDel", "NetLocalGroupDel"}) {
        SCOPED_TRACE(function);
        auto call = std::string(function) == "NetUserDel" ? USER_NATIVE(deleteUser0) : USER_NATIVE(deleteLocalGroup0);
        {
            const ReplaceFunction remove(function, &recordDelete);
            EXPECT_EQ(call(e_.env(), nullptr, s(L"\\\\host"), s(L"name")), 2220);
            EXPECT_EQ(deleted, (std::vector<std::wstring>{L"\\\\host", L"name"}));
        }
        const ReplaceFunction missing(function, nullptr);
        EXPECT_EQ(call(e_.env(), nullptr, nullptr, s(L"name")), -1);
    }
}

// ---- Profile directory (logon stand-in: the process's own token)

std::vector<std::wstring> logons;
DWORD logonError = 0;
BOOL WINAPI fakeLogon(LPCWSTR name, LPCWSTR domain, LPCWSTR password, DWORD type, DWORD provider, PHANDLE token) {
    logons = {t(name), t(domain), t(password), std::to_wstring(type), std::to_wstring(provider)};
    if (logonError) return SetLastError(logonError), FALSE;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token);
}

TEST_F(UserNatives, ProfileDirectoryOfTheLoggedOnToken) {
    const ReplaceFunction logon("LogonUserW", &fakeLogon);
    wchar_t expected[MAX_PATH];
    DWORD chars = MAX_PATH;
    HANDLE raw = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw);
    const UniqueKernelHandle token(raw);
    ASSERT_TRUE(GetUserProfileDirectoryW(token.get(), expected, &chars));
    auto profile = [&](const wchar_t* sid) {
        return text(USER_NATIVE(getUserProfileDirectory0)(e_.env(), nullptr, s(sid), s(L"secret")));
    };
    EXPECT_EQ(profile(ownSidText().c_str()), expected);
    EXPECT_EQ(logons[2], L"secret");
    EXPECT_EQ(logons[3] + L" " + logons[4], L"3 0");  // network logon, default provider
    EXPECT_EQ(profile(L"S-1-5-32-544"), expected);
    EXPECT_EQ(logons[0] + L" " + logons[1], L"Administrators .");  // built-in: the domain is "."

    PSID unused = nullptr;
    ConvertStringSidToSidW(L"bad", &unused);
    EXPECT_EQ(profile(L"bad"), L" could not convert sid " + std::to_wstring(static_cast<int>(GetLastError())));
    EXPECT_EQ(profile(nullptr), L" could not convert sid 87");
    for (const wchar_t* service : {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"})
        EXPECT_EQ(profile(service), L" no user account");
    logonError = ERROR_LOGON_FAILURE;
    EXPECT_EQ(profile(L"S-1-5-32-544"), L" could not get token 1326");
    logonError = 0;
    {
        const ReplaceFunction directory("GetUserProfileDirectoryW", &refused<HANDLE, LPWSTR, LPDWORD>);
        EXPECT_EQ(profile(L"S-1-5-32-544"), L" could not get user profile dir 5");
    }
    {
        const ReplaceFunction missing("LogonUserW", nullptr);
        EXPECT_EQ(profile(L"S-1-5-32-544"), L" could not get functions 127");
    }
    const HideModule noUserenv(L"Userenv.dll");
    EXPECT_EQ(profile(L"S-1-5-32-544"), L" could not load library 126");
}

// ---- Account rights (LSA stand-ins)

struct LsaState {
    NTSTATUS open = 0, change = 0;
    std::vector<std::wstring> calls;
};
LsaState lsa;
LSA_HANDLE const kPolicy = reinterpret_cast<LSA_HANDLE>(0x1234);
NTSTATUS NTAPI fakeOpen(PLSA_UNICODE_STRING system, PLSA_OBJECT_ATTRIBUTES, ACCESS_MASK access, PLSA_HANDLE policy) {
    lsa.calls.push_back(L"open " + std::wstring(system ? L"remote" : L"local") + L" " + std::to_wstring(access));
    if (!lsa.open) *policy = kPolicy;
    return lsa.open;
}
std::wstring change(const wchar_t* what, PSID sid, PLSA_UNICODE_STRING right) {
    UniqueLocalMemory<wchar_t> sidText;
    ConvertSidToStringSidW(sid, sidText.put());
    return std::wstring(what) + L" " + sidText.get() + L" " + std::wstring(right->Buffer, right->Length / 2) + L" " +
           std::to_wstring(right->Length) + L"/" + std::to_wstring(right->MaximumLength);
}
NTSTATUS NTAPI fakeAdd(LSA_HANDLE, PSID sid, PLSA_UNICODE_STRING rights, ULONG count) {
    lsa.calls.push_back(change(L"add", sid, rights) + L" x" + std::to_wstring(count));
    return lsa.change;
}
NTSTATUS NTAPI fakeRemove(LSA_HANDLE, PSID sid, BOOLEAN all, PLSA_UNICODE_STRING rights, ULONG count) {
    lsa.calls.push_back(change(all ? L"remove all" : L"remove", sid, rights) + L" x" + std::to_wstring(count));
    return lsa.change;
}
NTSTATUS NTAPI fakeClose(LSA_HANDLE policy) {
    lsa.calls.push_back(policy == kPolicy ? L"close" : L"close other");
    return 0;
}

TEST_F(UserNatives, AccountRightsThroughThePolicy) {
    const ReplaceFunction open("LsaOpenPolicy", &fakeOpen), add("LsaAddAccountRights", &fakeAdd),
        remove("LsaRemoveAccountRights", &fakeRemove), close("LsaClose", &fakeClose),
        lookUp("LookupAccountNameW", &fakeLookupName);
    const std::wstring longRight(32767, L'x');
    const struct {
        const char* what;
        const wchar_t* account;
        const wchar_t* right;
        jboolean add;
        NTSTATUS open, change;
        jboolean expected;
        std::vector<std::wstring> calls;
    } cases[] = {
        {"grant to a SID",
         L"S-1-5-21-1-2-3-1001",
         L"SeServiceLogonRight",
         JNI_TRUE,
         0,
         0,
         JNI_TRUE,
         {L"open local 2064", L"add S-1-5-21-1-2-3-1001 SeServiceLogonRight 38/40 x1", L"close"}},
        {"grant to a name",
         L"tovrix-group",
         L"SeBatchLogonRight",
         JNI_TRUE,
         0,
         0,
         JNI_TRUE,
         {L"open local 2064", L"add S-1-5-21-1-2-3-1002 SeBatchLogonRight 34/36 x1", L"close"}},
        {"remove one right",
         L"S-1-5-21-1-2-3-1001",
         L"SeServiceLogonRight",
         JNI_FALSE,
         0,
         0,
         JNI_TRUE,
         {L"open local 2064", L"remove S-1-5-21-1-2-3-1001 SeServiceLogonRight 38/40 x1", L"close"}},
        {"remove every right",
         L"S-1-5-21-1-2-3-1001",
         nullptr,
         JNI_FALSE,
         0,
         0,
         JNI_TRUE,
         {L"open local 2064", L"remove all S-1-5-21-1-2-3-1001  0/2 x1", L"close"}},
        {"change refused",
         L"S-1-5-21-1-2-3-1001",
         L"SeServiceLogonRight",
         JNI_TRUE,
         0,
         static_cast<NTSTATUS>(0xC0000034),
         JNI_FALSE,
         {L"open local 2064", L"add S-1-5-21-1-2-3-1001 SeServiceLogonRight 38/40 x1", L"close"}},
        {"policy not opened",
         L"S-1-5-21-1-2-3-1001",
         L"SeServiceLogonRight",
         JNI_TRUE,
         static_cast<NTSTATUS>(0xC0000022),
         0,
         JNI_FALSE,
         {L"open local 2064"}},
        {"unknown account name", L"nobody", L"SeServiceLogonRight", JNI_TRUE, 0, 0, JNI_FALSE, {}},
        {"null account", nullptr, L"SeServiceLogonRight", JNI_TRUE, 0, 0, JNI_FALSE, {}},
        {"right too long for a counted string",
         L"S-1-5-21-1-2-3-1001",
         longRight.c_str(),
         JNI_TRUE,
         0,
         0,
         JNI_FALSE,
         {}},
    };
    for (const auto& c : cases) {
        lsa = LsaState{c.open, c.change, {}};
        EXPECT_EQ(USER_NATIVE(setLsaAccountRight0)(e_.env(), nullptr, s(c.account), s(c.right), c.add), c.expected)
            << c.what;
        EXPECT_EQ(lsa.calls, c.calls) << c.what;
    }
    const ReplaceFunction missing("LsaClose", nullptr);
    lsa = LsaState{};
    EXPECT_FALSE(
        USER_NATIVE(setLsaAccountRight0)(e_.env(), nullptr, s(L"S-1-5-18"), s(L"SeServiceLogonRight"), JNI_TRUE));
    EXPECT_TRUE(lsa.calls.empty());
}

}  // namespace
