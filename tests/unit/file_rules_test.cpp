#include "natives/file_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using namespace files;

namespace {

TEST(FolderCodes, ShellFoldersByCodeAndCommonFlag) {
    struct Case {
        int code;
        int user;
        int common;
    };
    const std::vector<Case> cases = {
        {1, 16, 25}, {2, 11, 22}, {3, 2, 23},  {4, 7, 24},  {5, 9, 9},   {6, 20, 20},
        {7, 26, 35}, {8, 5, 46},  {9, 21, 45}, {10, 6, 31}, {11, 28, 28},
        // Every other code up to 1000 is the desktop.
        {0, 0, 0},   {12, 0, 0},  {-1, 0, 0},  {1000, 0, 0}, {-2147483647 - 1, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shellFolderId(c.code, false), c.user) << c.code;
        EXPECT_EQ(shellFolderId(c.code, true), c.common) << c.code;
    }
}

TEST(FolderCodes, KnownFoldersAbove1000) {
    EXPECT_EQ(knownFolder(1001), KnownFolder::downloads);
    EXPECT_EQ(knownFolder(1002), KnownFolder::userProgramFiles);
    EXPECT_EQ(knownFolder(1003), KnownFolder::userProgramFilesCommon);
    for (int code : {1004, 1500, 2147483647}) EXPECT_EQ(knownFolder(code), KnownFolder::profile) << code;
}

TEST(FileVersions, ComparedAsUnsignedPairs) {
    using V = FileVersionNumber;
    struct Case {
        std::optional<V> first, second;
        int result;
    };
    const std::vector<Case> cases = {
        {V{0x00010002, 0x00030004}, V{0x00010002, 0x00030004}, kVersionsEqual},
        {V{0x00010002, 0x00030004}, V{0x00010002, 0x00030005}, kSecondHigher},
        {V{0x00010003, 0x00000000}, V{0x00010002, 0xFFFFFFFF}, kFirstHigher},  // the high half decides first
        // Values with the top bit set are large, not negative.
        {V{0x00010002, 0x9C400000}, V{0x00010002, 0x00030004}, kFirstHigher},
        {V{0x80000000, 0}, V{0x7FFFFFFF, 0xFFFFFFFF}, kFirstHigher},
        {V{0, 0}, V{0, 0}, kVersionsEqual},
        {std::nullopt, V{1, 0}, kVersionUnknown},
        {V{1, 0}, std::nullopt, kVersionUnknown},
        {std::nullopt, std::nullopt, kVersionUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(compareFileVersions(c.first, c.second), c.result);
}

TEST(FileVersions, PathsBeyondTheBufferAreRefused) {
    EXPECT_TRUE(fitsVersionPath(0));
    EXPECT_TRUE(fitsVersionPath(32767));  // with its NUL, 32,768 characters
    EXPECT_FALSE(fitsVersionPath(32768));
}

TEST(AccessEntries, FlagsGiveGenericRights) {
    EXPECT_EQ(accessMask(false, false, false, false), 0u);
    EXPECT_EQ(accessMask(true, false, false, false), 0x80000000u);
    EXPECT_EQ(accessMask(false, true, false, false), 0x40000000u);
    EXPECT_EQ(accessMask(false, false, true, false), 0x20000000u);
    EXPECT_EQ(accessMask(false, false, false, true), 0x10000000u);
    EXPECT_EQ(accessMask(true, false, true, false), 0xA0000000u);
    EXPECT_EQ(accessMask(true, true, true, true), 0xF0000000u);
}

TEST(AccessEntries, TrusteeKinds) {
    struct Case {
        int kind;
        bool fromAccount;
        std::uint8_t authority;
        std::vector<std::uint32_t> subAuthorities;
    };
    const std::vector<Case> cases = {
        {3, true, 0, {}},
        {1, false, 5, {11}},        // S-1-5-11
        {5, false, 5, {32, 547}},   // S-1-5-32-547
        {0, false, 1, {0}},         // S-1-1-0
        {2, false, 1, {0}},
        {4, false, 1, {0}},
        {-1, false, 1, {0}},
    };
    for (const Case& c : cases) {
        const Trustee trustee = trusteeFor(c.kind);
        EXPECT_EQ(trustee.fromAccount, c.fromAccount) << c.kind;
        if (c.fromAccount) continue;
        EXPECT_EQ(trustee.authority, c.authority) << c.kind;
        ASSERT_EQ(trustee.subAuthorityCount, c.subAuthorities.size()) << c.kind;
        for (std::size_t i = 0; i < c.subAuthorities.size(); ++i)
            EXPECT_EQ(trustee.subAuthorities[i], c.subAuthorities[i]) << c.kind;
    }
}

TEST(RegistryPathText, EndsAtTheFirstNulOrTheData) {
    struct Case {
        std::vector<unsigned char> data;
        wstring text;
    };
    const std::vector<Case> cases = {
        {{'C', 0, ':', 0, 0, 0}, W("C:")},
        {{'C', 0, ':', 0}, W("C:")},                 // no NUL: nothing is read past the data
        {{'C', 0, ':', 0, 'x'}, W("C:")},             // a half character is none
        {{'a', 0, 0, 0, 'b', 0, 0, 0}, W("a")},      // an inner NUL ends the text
        {{0x2D, 0x4E, 0, 0}, wstring(1, wchar(0x4E2D))},
        {{}, W("")},
        {{0, 0}, W("")},
    };
    for (const Case& c : cases) EXPECT_EQ(textBeforeNul(c.data.data(), c.data.size()), c.text);
}

}  // namespace
