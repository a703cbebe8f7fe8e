#include "jvm/version.h"

#include <gtest/gtest.h>

namespace {

TEST(Version, ParsesIntoNumberLists) {
    struct Case {
        std::string text;
        VersionNumbers numbers;
    } cases[] = {
        {"1.8.0_191-b12", {1, 8, 0, 191, 0}},
        {"11.0.2", {11, 0, 2}},
        {"17.0.9+9", {17, 0, 9, 9}},
        {"21", {21}},
        {"9-ea", {9, 0}},
        {"1..8__0", {1, 8, 0}},  // a run of separators counts as one
        {".1.8.", {1, 8}},       // no empty pieces at the ends either
        {"12abc.3x", {12, 3}},   // leading digits only
        {"beta", {0}},
        {"", {}},
        {"99999999999999999999999.1", {UINT64_MAX, 1}},  // saturates instead of wrapping
    };
    for (const Case& c : cases) EXPECT_EQ(parseVersion(c.text), c.numbers) << c.text;
}

TEST(Version, RangeCheck) {
    struct Case {
        std::string version, minimum, maximum;
        bool allowPreRelease;
        RangeCheck expected;
    } cases[] = {
        {"1.8.0_191", "1.8", "1.8", false, RangeCheck::Pass},  // a maximum of 1.8 admits 1.8.0_191
        {"9.0.4", "1.8", "1.8", false, RangeCheck::AboveMaximum},
        {"11.0.2", "1.8", "", false, RangeCheck::Pass},  // empty maximum: no limit
        {"1.7.0_80", "1.8", "", false, RangeCheck::BelowMinimum},
        {"1.8.0_99", "1.8.0_100", "", false, RangeCheck::BelowMinimum},
        {"1.8.0_100", "1.8.0_100", "", false, RangeCheck::Pass},    // equal passes
        {"1.8", "1.8.0_100", "", false, RangeCheck::BelowMinimum},  // missing pieces count as 0
        {"1.8", "1.8.0", "", false, RangeCheck::Pass},
        {"1.8.0_191", "", "", false, RangeCheck::Pass},  // empty minimum always passes
        {"", "1.8", "", false, RangeCheck::BelowMinimum},
        {"11.0.2", "1.8", "11", false, RangeCheck::Pass},
        {"11.0.2", "1.8", "11.0.1", false, RangeCheck::AboveMaximum},
        {"2.0", "1.8", "", false, RangeCheck::Pass},  // the first greater piece decides
        {"1.9.0", "1.8.5", "", false, RangeCheck::Pass},
        {"1.8.0", "1.8", "1.9.0", false, RangeCheck::Pass},
        // Pre-release markers anywhere, case-sensitive, unless allowed.
        {"11-ea", "1.8", "", false, RangeCheck::PreRelease},
        {"11-ea", "1.8", "", true, RangeCheck::Pass},
        {"1.9.0-beta2", "1.8", "", false, RangeCheck::PreRelease},
        {"17.0.1-rc", "1.8", "", false, RangeCheck::PreRelease},
        {"17.0.1-RC", "1.8", "", false, RangeCheck::Pass},
        {"1.8.0_191-b12", "1.8", "", false, RangeCheck::Pass},
        {"1.6.0-ea", "1.8", "", true, RangeCheck::BelowMinimum},
    };
    for (const Case& c : cases) {
        const VersionRange range = makeVersionRange(c.minimum, c.maximum);
        EXPECT_EQ(checkVersionRange(c.version, range, c.allowPreRelease), c.expected)
            << c.version << " in [" << c.minimum << ", " << c.maximum << "] pre-release " << c.allowPreRelease;
    }
}

TEST(Version, CoarseKeyNameCheck) {
    struct Case {
        std::string key, minimum, maximum;
        bool passes;
    } cases[] = {
        {"1.8", "1.8.0_100", "", true},  // stops with a pass when the key runs out of pieces
        {"1.7", "1.8.0_100", "", false}, {"1.8.0_99", "1.8.0_100", "", false}, {"11", "1.8", "", true},
        {"9.0.4", "1.8", "1.8", false},  {"1.8", "1.6", "1.8.0_20", true},     {"1", "1.8", "1.8", true},
        {"", "1.8", "", true},          // no pieces at all: passes at once
        {"1.8-beta", "1.8", "", true},  // no pre-release rule here
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyNameInRange(c.key, makeVersionRange(c.minimum, c.maximum)), c.passes)
            << c.key << " in [" << c.minimum << ", " << c.maximum << "]";
}

TEST(Version, GreaterThan) {
    struct Case {
        std::string a, b;
        bool greater;
    } cases[] = {
        {"11.0.2", "1.8.0_191", true},
        {"1.8.0_191", "11.0.2", false},
        {"1.8.0_191", "1.8.0_191", false},  // ties are not greater
        {"1.8.0", "1.8", true},             // an extra piece beats its prefix
        {"1.8", "1.8.0", false},
        {"1.8.0_191", "", true},
        {"", "1.8", false},
        {"", "", false},
        {"1.8.0_191-b12", "1.8.0_191", true},
        {"1.8.0_20", "1.8.0_100", false},  // pieces compare as numbers
        {"21", "17.0.9", true},
    };
    for (const Case& c : cases) EXPECT_EQ(versionGreater(c.a, c.b), c.greater) << c.a << " > " << c.b;
}

TEST(Version, FirstLineOfVersionOutput) {
    struct Case {
        std::string line;
        std::optional<std::string> version;
    } cases[] = {
        {"java version \"1.8.0_191\"\r\n", "1.8.0_191"},
        {"openjdk version \"11.0.2\" 2019-01-15\r\n", "11.0.2"},
        {"openjdk version \"21.0.8\" 2025-07-15 LTS\n", "21.0.8"},
        {"java version \"1.8.0_191\r\n", "1.8.0_191"},  // no closing quote: less the last two characters
        {"java version \"1.8.0_191ab", "1.8.0_191"},    // the rule counts characters, not line ends
        {"java version \"\"\r\n", std::nullopt},        // empty version
        {"java version \"\r\n", std::nullopt},
        {"java version \"1\r\n", "1"},
        {"java  version \"1.8\"", std::nullopt},  // exactly one blank
        {"java version 1.8", std::nullopt},       // the quote belongs to the prefix
        {"Java version \"1.8\"", std::nullopt},
        {"OpenJDK 64-Bit Server VM warning: Attempt to get process group affinity failed\r\n", std::nullopt},
        {"Picked up _JAVA_OPTIONS: -Xmx1g\r\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseVersionLine(c.line), c.version) << c.line;
}

TEST(Version, FirstLineIsBoundedAndEndsAfterTheLineFeed) {
    EXPECT_EQ(firstLineOf("a\r\nb\r\n", kVersionLineLimit), "a\r\n");
    EXPECT_EQ(firstLineOf("no line end", kVersionLineLimit), "no line end");
    const std::string longLine = "java version \"" + std::string(200, '1') + "\"\r\n";
    const std::string head = firstLineOf(longLine, kVersionLineLimit);
    EXPECT_EQ(head.size(), kVersionLineLimit);
    // Cut before the closing quote: the last two characters go.
    EXPECT_EQ(parseVersionLine(head), std::string(kVersionLineLimit - 14 - 2, '1'));
}

TEST(Version, NoticesBeforeTheVersionLineArePassedOver) {
    const std::string wineWarnings =
        "OpenJDK 64-Bit Server VM warning: Attempt to query job object information failed\r\n"
        "OpenJDK 64-Bit Server VM warning: Attempt to get process group affinity failed\r\n"
        "openjdk version \"21.0.8\" 2025-07-15 LTS\r\nOpenJDK Runtime Environment\r\n";
    EXPECT_EQ(parseVersionLine(versionLineOf(wineWarnings, kVersionLineLimit)), std::string("21.0.8"));
    const std::string pickedUp =
        "Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8\nNOTE: Picked up JDK_JAVA_OPTIONS: -Xmx1g\n"
        "java version \"1.8.0_191\"\n";
    EXPECT_EQ(parseVersionLine(versionLineOf(pickedUp, kVersionLineLimit)), std::string("1.8.0_191"));
    // Any other first line is the version line, and fails as one.
    EXPECT_EQ(versionLineOf("Error: could not open jvm.cfg\r\njava version \"1.8\"\r\n", kVersionLineLimit),
              "Error: could not open jvm.cfg\r\n");
    EXPECT_EQ(versionLineOf("Picked up X\n", kVersionLineLimit), "");
}

TEST(Version, VendorSubkeysAreTriedFromTheGreatestByteString) {
    const VersionRange from18 = makeVersionRange("1.8", "");
    EXPECT_EQ(vendorSubkeyOrder({"1.8", "11", "9.0.4"}, from18), (std::vector<std::string>{"9.0.4", "11", "1.8"}));
    EXPECT_EQ(vendorSubkeyOrder({"11.0.2", "9.0.4", "1.8.0_191", "1.8"}, from18),
              (std::vector<std::string>{"9.0.4", "11.0.2", "1.8.0_191", "1.8"}));
    // Out-of-range names are dropped before sorting.
    EXPECT_EQ(vendorSubkeyOrder({"1.6", "1.7.0_80", "1.8", "17"}, makeVersionRange("1.8", "1.8")),
              (std::vector<std::string>{"1.8"}));
    EXPECT_TRUE(vendorSubkeyOrder({}, from18).empty());
}

TEST(Version, CachedVersionsThatAreNotTrusted) {
    for (const char* version : {"1.0.0", "1.5.", "1.6.", "1.7."}) EXPECT_FALSE(isTrustedCachedVersion(version));
    for (const char* version : {"1.7.0_80", "1.8.0_191", "11.0.2", "1.0.0_1"})
        EXPECT_TRUE(isTrustedCachedVersion(version));
}

}  // namespace
