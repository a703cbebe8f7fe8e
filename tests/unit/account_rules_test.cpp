// The account rules' edges that the natives' tests through the JNI double do
// not reach (those cover every text and outcome with Windows' statuses).
#include "natives/account_rules.h"

#include <gtest/gtest.h>

using namespace account;

namespace {

TEST(AccountRules, ErrorNumbersPrintAsSigned32BitValues) {
    EXPECT_EQ(errorText(1337), W(" 1337"));
    EXPECT_EQ(errorText(0x80070005u), W(" -2147024891"));
    EXPECT_EQ(addUserFailureText(AddUserFailure::createUser, 0xC0000022u, 4), W("2 -1073741790 4"));
}

TEST(AccountRules, GroupStatusesAndTokenGroupAttributes) {
    struct Case {
        std::uint32_t status;
        bool failIfExists;
        GroupAdded expected;
    };
    const Case cases[] = {
        {0, true, GroupAdded::created},   {1379, false, GroupAdded::existed}, {2223, false, GroupAdded::existed},
        {1379, true, GroupAdded::failed}, {2223, true, GroupAdded::failed},   {1378, false, GroupAdded::failed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(groupAddOutcome(c.status, c.failIfExists), c.expected) << c.status << " " << c.failIfExists;
    EXPECT_TRUE(countsForMembership(0xC0000007u));  // logon id and resource bits do not matter
    EXPECT_FALSE(countsForMembership(0x14));        // enabled but deny-only
}

TEST(AccountRules, CountedLengthsFitSixteenBits) {
    EXPECT_EQ(countedLength(0)->maximumLength, 2);
    EXPECT_EQ(countedLength(32766)->length, 65532);
    EXPECT_EQ(countedLength(32766)->maximumLength, 65534);
    EXPECT_FALSE(countedLength(32767));  // 65,534 bytes and two more do not fit
}

}  // namespace
