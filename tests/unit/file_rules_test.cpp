#include "natives/file_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using namespace files;

namespace {

// (Codes 1 to 11 are checked against Windows and Wine's known folders.)
TEST(FolderCodes, OtherCodesUpTo1000AreTheDesktop) {
    for (int code : {0, 12, -1, 1000, -2147483647 - 1}) {
        EXPECT_EQ(shellFolderId(code, false), 0) << code;
        EXPECT_EQ(shellFolderId(code, true), 0) << code;
    }
    // Where there is no all-users folder, the common flag changes nothing.
    for (int code : {5, 6, 11}) EXPECT_EQ(shellFolderId(code, true), shellFolderId(code, false)) << code;
    EXPECT_NE(shellFolderId(8, true), shellFolderId(8, false));
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

TEST(AccessEntries, TrusteeKinds) {
    struct Case {
        int kind;
        bool fromAccount;
        std::uint8_t authority;
        std::vector<std::uint32_t> subAuthorities;
    };
    const std::vector<Case> cases = {
        {3, true, 0, {}},         {1, false, 5, {11}},  // S-1-5-11
        {5, false, 5, {32, 547}},                       // S-1-5-32-547
        {0, false, 1, {0}},                             // S-1-1-0
        {2, false, 1, {0}},       {4, false, 1, {0}},  {-1, false, 1, {0}},
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

TEST(Utf16TextBeforeNul, EndsAtTheFirstNulOrTheData) {
    struct Case {
        std::vector<unsigned char> data;
        wstring text;
    };
    const std::vector<Case> cases = {
        {{'C', 0, ':', 0, 0, 0}, W("C:")},
        {{'C', 0, ':', 0}, W("C:")},             // no NUL: nothing is read past the data
        {{'C', 0, ':', 0, 'x'}, W("C:")},        // a half character is none
        {{'a', 0, 0, 0, 'b', 0, 0, 0}, W("a")},  // an inner NUL ends the text
        {{0x2D, 0x4E, 0x87, 0x65, 0, 0}, W("\u4e2d\u6587")},
        {{'C', 0, ':'}, W("C")},  // an odd last byte is no character
        {{}, W("")},
        {{0, 0}, W("")},
    };
    for (const Case& c : cases) EXPECT_EQ(utf16TextBeforeNul(c.data.data(), c.data.size()), c.text);
}

}  // namespace
