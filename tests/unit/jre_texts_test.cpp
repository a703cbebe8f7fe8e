#include "frontend/jre_texts.h"

#include <gtest/gtest.h>

namespace {

// The message is no printf format: only its first "%S" takes the width, "%%"
// is a percent sign, anything else stays as the translator wrote it.
TEST(JreTexts, QuestionMessageIsReadForItsPlaceholderOnly) {
    const struct {
        const wchar* message;
        const wchar* expected;
    } cases[] = {
        {W("%S-bit, 100%% sure"), W("32-bit, 100% sure")},
        {W("%S and %S"), W("32 and %S")},
        {W("%s %d %n %"), W("%s %d %n %")},
        {W(""), W("")},
    };
    for (const auto& c : cases) EXPECT_EQ(questionText(c.message, 32, "", "", W("a"), W("b")), c.expected);
}

TEST(JreTexts, QuestionTextStaysWithinTheTextLimit) {
    const wstring longMessage(7000, W('x'));
    EXPECT_EQ(questionText(longMessage, 32, "1.8", "", W("min"), W("max")).size(), kTextLimit);
}

TEST(JreTexts, WhichStatusFormatsCanTakeTheFourValues) {
    const struct {
        const wchar* format;
        bool usable;
    } cases[] = {
        {W("%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s"), true},
        {W("%f %e %g %E"), true},
        {W("%-08.3f|%+ #5G"), true},
        {W("done: %.0f%%"), true},
        {W("no values at all"), true},
        {W("%f %f %f %f %f"), false},  // a fifth value does not exist
        {W("%s of %f"), false},        // would read a string pointer
        {W("%d"), false},
        {W("%*f"), false},
        {W("%lf"), false},
        {W("%100f"), false},  // widths beyond two digits
        {W("%.100f"), false},
        {W("50%"), false},  // a lone percent sign at the end
        {W("%"), false},
    };
    for (const auto& c : cases) EXPECT_EQ(downloadStatusFormatUsable(c.format), c.usable) << c.format[0];
    EXPECT_TRUE(downloadStatusFormatUsable(kDefaultDownloadStatusFormat));
}

TEST(JreTexts, StatusLineValues) {
    const struct {
        std::uint64_t received, length;
        std::uint32_t elapsed;
        const wchar* expected;
    } cases[] = {
        // 12.5 MB of 40 MB at about 850.2 bytes per millisecond.
        {13110000, 41943040, 15420, W("12.50 MB of 40.00 MB (31.3%) at 850.2 kb/s")},
        // The first millisecond: no rate rather than a division by zero.
        {16384, 41943040, 0, W("0.02 MB of 40.00 MB (0.0%) at 0.0 kb/s")},
        {0, 0, 0, W("0.00 MB of 0.00 MB (100.0%) at 0.0 kb/s")},
        {4294967295u, 4294967295u, 1, W("4096.00 MB of 4096.00 MB (100.0%) at 4294967295.0 kb/s")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(downloadStatusText(kDefaultDownloadStatusFormat, c.received, c.length, c.elapsed), c.expected);
}

TEST(JreTexts, BarPositionIsTheIntegerPercentage) {
    EXPECT_EQ(downloadBarPosition(0, 1000), 0);
    EXPECT_EQ(downloadBarPosition(999, 1000), 99);
    EXPECT_EQ(downloadBarPosition(1000, 1000), 100);
    EXPECT_EQ(downloadBarPosition(4294967294u, 4294967295u), 99);
    EXPECT_EQ(downloadBarPosition(0, 0), 100);
}

}  // namespace
