// The user-account natives' decisions that need no Windows: the well-known
// service accounts, built-in SIDs, the texts getAccountName0,
// getUserProfileDirectory0 and addUser0 give the Java side, how a status of
// the network-management calls is judged, which token groups count for a
// membership check, and the counted string of an account right.  Text is
// UTF-16 (`wstring`, launcher/text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "launcher/text.h"

namespace account {

// ---- Accounts named by SID text

// "NT AUTHORITY\System", "NT AUTHORITY\LocalService" and
// "NT AUTHORITY\NetworkService" for "S-1-5-18", "S-1-5-19" and "S-1-5-20";
// none for every other text.  These three are answered without a lookup.
std::optional<wstring> serviceAccountName(const wstring& sid);
// Whether the SID text names a built-in account or group ("S-1-5-32-...").
bool isBuiltinSid(const wstring& sid);

// The text getAccountName0 gives for a looked-up account: the bare name with
// nameOnly; else ".\name" for a built-in SID or an empty domain, and
// "domain\name" otherwise.
wstring accountNameText(const wstring& name, const wstring& domain, bool builtin, bool nameOnly);
// The domain getUserProfileDirectory0 logs on with: "." for a built-in SID or
// an empty domain, else the domain.
wstring logonDomain(const wstring& domain, bool builtin);

// A failure as getAccountName0 reports it: a blank and the error number
// (" 1337"), which no account name begins with.  Numbers print as signed
// 32-bit values, the way "%d" prints a Windows error code.
wstring errorText(std::uint32_t error);

// The steps of getUserProfileDirectory0 that can fail, each with its text.
enum class ProfileFailure {
    loadLibrary,  // " could not load library %d"
    functions,    // " could not get functions %d"
    convertSid,   // " could not convert sid %d"
    lookUp,       // " could not look up account name %d"
    logon,        // " could not get token %d"
    profile,      // " could not get user profile dir %d"
};
wstring profileFailureText(ProfileFailure step, std::uint32_t error);
// The text for the three service SIDs, which have no user profile to log on to.
wstring noUserAccountText();

// ---- addUser0

// The steps of addUser0 whose failure ends it, numbered as the result text
// numbers them.
enum class AddUserFailure {
    createGroup = 1,  // "1 <status>"
    createUser = 2,   // "2 <status> <index of the offending parameter>"
    readUser = 3,     // "3 <status>"
    addMember = 4,    // "4 <status>"
    userSidText = 5,  // "5"
    readGroup = 6,    // "6 <status>"
};
wstring addUserFailureText(AddUserFailure step, std::uint32_t status = 0, std::uint32_t parameterIndex = 0);
// The result of a created user: its SID text, and when the group's SID was
// found, a blank, the group's SID text, a blank and "true" when this call
// created the group, else "false".
wstring addUserSuccessText(const wstring& userSid, const std::optional<wstring>& groupSid, bool groupCreated);

// Network-management statuses addUser0 tells apart.
constexpr std::uint32_t kStatusMemberInAlias = 1378;  // ERROR_MEMBER_IN_ALIAS
constexpr std::uint32_t kStatusAliasExists = 1379;    // ERROR_ALIAS_EXISTS
constexpr std::uint32_t kStatusGroupExists = 2223;    // NERR_GroupExists

// What a status of adding the local group means for addUser0: the group was
// created, it existed already (not an error unless the caller asked for
// that), or the step failed.
enum class GroupAdded { created, existed, failed };
GroupAdded groupAddOutcome(std::uint32_t status, bool failIfGroupExists);
// Adding the user to the group succeeded, or the user was a member already.
bool memberAdded(std::uint32_t status);

// ---- Token groups

// A token group counts for membership when it is enabled and not deny-only
// (attributes masked with SE_GROUP_ENABLED and SE_GROUP_USE_FOR_DENY_ONLY
// equal SE_GROUP_ENABLED).
constexpr std::uint32_t kGroupEnabled = 0x4;    // SE_GROUP_ENABLED
constexpr std::uint32_t kGroupDenyOnly = 0x10;  // SE_GROUP_USE_FOR_DENY_ONLY
bool countsForMembership(std::uint32_t attributes);

// ---- Account rights

// The byte lengths of a counted UTF-16 string of `characters` characters:
// Length without the NUL, MaximumLength two bytes more.  None when they do not
// fit the 16-bit fields, so a right text is never cut to a different right.
struct CountedLength {
    std::uint16_t length;
    std::uint16_t maximumLength;
};
std::optional<CountedLength> countedLength(std::size_t characters);

}  // namespace account
