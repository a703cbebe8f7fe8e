#include "natives/account_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace account;

namespace {

TEST(AccountNames, ServiceSidsAreAnsweredWithoutALookup) {
    const std::vector<std::pair<wstring, std::optional<wstring>>> cases = {
        {W("S-1-5-18"), wstring(W("NT AUTHORITY\\System"))},
        {W("S-1-5-19"), wstring(W("NT AUTHORITY\\LocalService"))},
        {W("S-1-5-20"), wstring(W("NT AUTHORITY\\NetworkService"))},
        {W("S-1-5-21"), std::nullopt},
        {W("S-1-5-180"), std::nullopt},
        {W("s-1-5-18"), std::nullopt},
        {W(""), std::nullopt},
    };
    for (const auto& [sid, name] : cases) EXPECT_EQ(serviceAccountName(sid), name);
}

TEST(AccountNames, TextByBuiltinDomainAndNameOnly) {
    EXPECT_TRUE(isBuiltinSid(W("S-1-5-32-544")));
    EXPECT_FALSE(isBuiltinSid(W("S-1-5-32")));
    EXPECT_FALSE(isBuiltinSid(W("S-1-5-21-1-2-3-1000")));
    struct Case {
        const wchar* domain;
        bool builtin;
        bool nameOnly;
        const wchar* expected;
    };
    const Case cases[] = {
        {W("BUILTIN"), true, false, W(".\\Administrators")},
        {W("BUILTIN"), true, true, W("Administrators")},
        {W("HOST"), false, false, W("HOST\\Administrators")},
        {W("HOST"), false, true, W("Administrators")},
        {W(""), false, false, W(".\\Administrators")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(accountNameText(W("Administrators"), c.domain, c.builtin, c.nameOnly), c.expected) << c.nameOnly;
    EXPECT_EQ(logonDomain(W("BUILTIN"), true), W("."));
    EXPECT_EQ(logonDomain(W(""), false), W("."));
    EXPECT_EQ(logonDomain(W("HOST"), false), W("HOST"));
}

// Error texts begin with a blank, which tells them apart from names and paths.
TEST(AccountTexts, ErrorsBeginWithABlank) {
    EXPECT_EQ(errorText(1337), W(" 1337"));
    EXPECT_EQ(errorText(0x80070005u), W(" -2147024891"));
    const std::pair<ProfileFailure, const wchar*> cases[] = {
        {ProfileFailure::loadLibrary, W(" could not load library 126")},
        {ProfileFailure::functions, W(" could not get functions 126")},
        {ProfileFailure::convertSid, W(" could not convert sid 126")},
        {ProfileFailure::lookUp, W(" could not look up account name 126")},
        {ProfileFailure::logon, W(" could not get token 126")},
        {ProfileFailure::profile, W(" could not get user profile dir 126")},
    };
    for (const auto& [step, text] : cases) EXPECT_EQ(profileFailureText(step, 126), text);
    EXPECT_EQ(noUserAccountText(), W(" no user account"));
}

TEST(AddUserTexts, FailuresAndSuccess) {
    EXPECT_EQ(addUserFailureText(AddUserFailure::createGroup, 1379), W("1 1379"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::createUser, 2224, 3), W("2 2224 3"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::readUser, 2140), W("3 2140"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::addMember, 5), W("4 5"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::userSidText), W("5"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::readGroup, 2220), W("6 2220"));
    EXPECT_EQ(addUserSuccessText(W("S-1-5-21-9-1001"), std::nullopt, true), W("S-1-5-21-9-1001"));
    EXPECT_EQ(addUserSuccessText(W("S-1-5-21-9-1001"), wstring(W("S-1-5-21-9-1002")), true),
              W("S-1-5-21-9-1001 S-1-5-21-9-1002 true"));
    EXPECT_EQ(addUserSuccessText(W("S-1-5-21-9-1001"), wstring(W("S-1-5-32-545")), false),
              W("S-1-5-21-9-1001 S-1-5-32-545 false"));
}

TEST(AddUserStatuses, GroupAndMemberOutcomes) {
    struct Case {
        std::uint32_t status;
        bool failIfExists;
        GroupAdded expected;
    };
    const Case cases[] = {
        {0, false, GroupAdded::created},    {0, true, GroupAdded::created},    {1379, false, GroupAdded::existed},
        {2223, false, GroupAdded::existed}, {1379, true, GroupAdded::failed},  {2223, true, GroupAdded::failed},
        {5, false, GroupAdded::failed},     {1378, false, GroupAdded::failed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(groupAddOutcome(c.status, c.failIfExists), c.expected) << c.status << " " << c.failIfExists;
    EXPECT_TRUE(memberAdded(0));
    EXPECT_TRUE(memberAdded(1378));
    EXPECT_FALSE(memberAdded(1379));
    EXPECT_FALSE(memberAdded(2220));
}

TEST(TokenGroups, OnlyEnabledGroupsThatAreNotDenyOnlyCount) {
    EXPECT_TRUE(countsForMembership(0x4));
    EXPECT_TRUE(countsForMembership(0x7));          // mandatory, enabled by default, enabled
    EXPECT_FALSE(countsForMembership(0x10));        // deny-only (the administrators of a filtered token)
    EXPECT_FALSE(countsForMembership(0x14));        // enabled but deny-only
    EXPECT_FALSE(countsForMembership(0x3));         // not enabled
    EXPECT_TRUE(countsForMembership(0xC0000004u));  // logon id and resource bits do not matter
}

TEST(AccountRights, CountedLengthsFitSixteenBits) {
    EXPECT_EQ(countedLength(0)->length, 0);
    EXPECT_EQ(countedLength(0)->maximumLength, 2);
    EXPECT_EQ(countedLength(21)->length, 42);
    EXPECT_EQ(countedLength(21)->maximumLength, 44);
    EXPECT_EQ(countedLength(32766)->maximumLength, 65534);
    EXPECT_FALSE(countedLength(32767));  // 65,534 bytes and two more do not fit
    EXPECT_FALSE(countedLength(100000));
}

}  // namespace
