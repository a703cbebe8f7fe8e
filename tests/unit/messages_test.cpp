#include "launcher/messages.h"

#include <gtest/gtest.h>

namespace {

TEST(Messages, OnlyTheFirstPlaceholderIsReplaced) {
    EXPECT_EQ(substitutePlaceholder(W("a {0} b {0}"), W("X")), W("a X b {0}"));
    EXPECT_EQ(substitutePlaceholder(W("no placeholder"), W("X")), W("no placeholder"));
    EXPECT_EQ(substitutePlaceholder(W("{0}"), W("")), W(""));
}

TEST(Messages, InternalErrorWithLogPath) {
    const wstring text = substitutePlaceholder(W("An internal error occurred (error code: {0})"), W("11"));
    EXPECT_EQ(withLogPath(text, W("C:\\temp\\tvx_nlog_1.log")),
              W("An internal error occurred (error code: 11)\n\nLog: C:\\temp\\tvx_nlog_1.log"));
    EXPECT_EQ(withLogPath(text, W("")), text);
}

TEST(Messages, TextsAreBoundedToTheLimit) {
    const wstring longArgument(kTextLimit, W('x'));
    EXPECT_EQ(substitutePlaceholder(W("before {0} after"), longArgument).size(), kTextLimit);
    EXPECT_EQ(withLogPath(wstring(kTextLimit - 3, W('m')), W("C:\\log")).size(), kTextLimit);
}

}  // namespace
