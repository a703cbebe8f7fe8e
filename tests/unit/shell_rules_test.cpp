// The shell rules' edges that the natives' tests through the JNI double do
// not reach (those cover the dialog's flags, ids and results).
#include "natives/shell_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace shell;

namespace {

TEST(ShellRules, JavaValuesOutOfTheirUsualRange) {
    EXPECT_EQ(defaultButtonId(-1), 100);
    EXPECT_EQ(defaultButtonId(INT_MAX), INT_MIN + 100);  // wraps instead of overflowing
    EXPECT_EQ(ownerBits(0x1234567800000000LL), 0u);      // only the low 32 bits count
    EXPECT_EQ(iconResource(0x00017F03), 0x7F03);
    EXPECT_EQ(taskDialogFlags(-1, false), 0xFFFFFFFFu);
}

TEST(ShellRules, NarrowPathTextEndsAtTheFirstNulOrTheArray) {
    const unsigned char narrow[] = {'a', 'b', 0, 'c'};
    EXPECT_EQ(narrowTextOfBytes(narrow, 4), "ab");
    EXPECT_EQ(narrowTextOfBytes(narrow, 1), "a");
}

}  // namespace
