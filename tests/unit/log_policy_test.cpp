#include "launcher/log_policy.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(LogPolicy, ElapsedPrefixIsNotZeroPadded) {
    EXPECT_EQ(elapsedPrefix(3045), W("[3:45] "));
    EXPECT_EQ(elapsedPrefix(61005), W("[61:5] "));
    EXPECT_EQ(elapsedPrefix(0), W("[0:0] "));
    EXPECT_EQ(elapsedPrefix(999), W("[0:999] "));
}

TEST(LogPolicy, FileNumberingSkipsExistingFiles) {
    std::set<wstring> existing{W("C:\\t\\tvx_nlog_1.log"), W("C:\\t\\tvx_nlog_2.log")};
    auto exists = [&](const wstring& p) { return existing.count(p) > 0; };
    EXPECT_EQ(chooseLogFileName(W("C:\\t\\"), exists), W("C:\\t\\tvx_nlog_3.log"));
    EXPECT_EQ(chooseLogFileName(W("C:\\t"), exists), W("C:\\t\\tvx_nlog_3.log"));
    EXPECT_EQ(chooseLogFileName(W("C:/t/"), exists), W("C:/t/tvx_nlog_1.log"));
}

TEST(LogPolicy, EmptyBaseUsesDriveRoot) {
    EXPECT_EQ(chooseLogFileName(W(""), [](const wstring&) { return false; }), W("c:\\tvx_nlog_1.log"));
}

TEST(LogPolicy, AllNumbersTakenReusesTheLast) {
    EXPECT_EQ(chooseLogFileName(W("D:\\"), [](const wstring&) { return true; }), W("D:\\tvx_nlog_1000.log"));
}

TEST(LogPolicy, KeepDecision) {
    struct Case {
        bool switchGiven;
        const char* kelpa;
        const char* tovrix;
        bool kept;
    } cases[] = {
        {false, nullptr, nullptr, false}, {true, nullptr, nullptr, true},  {false, "yes", nullptr, true},
        {false, nullptr, "yes", true},    {false, nullptr, "YES", false},  {false, "Yes", "no", false},
        {false, "", "", false},           {false, "yes ", nullptr, false}, {false, "no", "yes", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(logKeptByRequest(c.switchGiven, c.kelpa, c.tovrix), c.kept)
            << c.switchGiven << " " << (c.kelpa ? c.kelpa : "(unset)") << " " << (c.tovrix ? c.tovrix : "(unset)");
    }
}

TEST(LogPolicy, LogSwitchWords) {
    for (const wchar* word : {W("-create-tvx-log"), W("-create-klp-log"), W("/create-tvx-log"), W("/create-klp-log")})
        EXPECT_TRUE(isLogSwitch(word));
    for (const wchar* word : {W("-create-TVX-log"), W("create-tvx-log"), W("-create-tvx-log "), W("")})
        EXPECT_FALSE(isLogSwitch(word));
}

}  // namespace
