#include "natives/shell_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace shell;

namespace {

TEST(TaskDialogRules, FlagsIdsAndDefaultButton) {
    EXPECT_EQ(taskDialogFlags(0, false), 0x802u);
    EXPECT_EQ(taskDialogFlags(0, true), 0x1802u);
    EXPECT_EQ(taskDialogFlags(0x8 | 0x10, true), 0x181Au);     // the Java side's flags are kept
    EXPECT_EQ(taskDialogFlags(-1, false), 0xFFFFFFFFu);
    EXPECT_EQ(buttonId(0), 101);
    EXPECT_EQ(buttonId(2), 103);
    EXPECT_EQ(defaultButtonId(0), 101);
    EXPECT_EQ(defaultButtonId(2), 103);
    EXPECT_EQ(defaultButtonId(-1), 100);
    EXPECT_EQ(defaultButtonId(INT_MAX), INT_MIN + 100);  // wraps instead of overflowing
}

TEST(TaskDialogRules, ResultOfThePressedButtonAndTheVerificationBox) {
    struct Case {
        int pressed;
        bool verified;
        int expected;
    };
    const Case cases[] = {
        {101, false, 1}, {103, false, 3},   {103, true, -3},   {2, false, 1000},  // IDCANCEL: close box, Escape
        {2, true, -1000}, {100, false, 1000}, {0, false, 1000}, {-1, false, 1000},  // not shown at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(taskDialogResult(c.pressed, c.verified), c.expected) << c.pressed << " " << c.verified;
}

TEST(TaskDialogRules, OwnerIconAndZOrderTicks) {
    EXPECT_EQ(ownerBits(0), 0u);
    EXPECT_EQ(ownerBits(0x00010203), 0x00010203u);
    EXPECT_EQ(ownerBits(-1), 0xFFFFFFFFu);                       // the sign-extended invalid handle
    EXPECT_EQ(ownerBits(0x1234567800000000LL), 0u);              // only the low 32 bits count
    EXPECT_EQ(iconResource(32515), 32515);
    EXPECT_EQ(iconResource(0x00017F03), 0x7F03);
    for (unsigned tick = 1; tick <= 5; ++tick) EXPECT_FALSE(placeWithoutActivating(tick)) << tick;
    for (unsigned tick = 6; tick <= 8; ++tick) EXPECT_TRUE(placeWithoutActivating(tick)) << tick;
}

TEST(PathBytes, TextEndsAtTheFirstNulOrTheArray) {
    struct Case {
        std::vector<unsigned char> bytes;
        wstring expected;
    };
    const std::vector<Case> cases = {
        {{'C', 0, ':', 0, 0, 0}, W("C:")},
        {{'C', 0, ':', 0, 0, 0, 'x', 0}, W("C:")},   // what follows the NUL is not read as text
        {{'C', 0, ':', 0}, W("C:")},                 // no NUL: the array's end ends the text
        {{'C', 0, ':'}, W("C")},                     // an odd last byte is no character
        {{0x2D, 0x4E, 0x87, 0x65, 0, 0}, W("\u4e2d\u6587")},
        {{}, W("")},
    };
    for (const Case& c : cases) EXPECT_EQ(utf16TextOfBytes(c.bytes.data(), c.bytes.size()), c.expected);
    const unsigned char narrow[] = {'a', 'b', 0, 'c'};
    EXPECT_EQ(narrowTextOfBytes(narrow, 4), "ab");
    EXPECT_EQ(narrowTextOfBytes(narrow, 2), "ab");
    EXPECT_EQ(narrowTextOfBytes(narrow, 0), "");
}

}  // namespace
