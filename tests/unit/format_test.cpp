// The wide printf-style formatter: argument sizes, flags, the Windows "%s"/"%S"
// convention, and the log-line shapes the launcher relies on.
#include "launcher/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

// These cases drive the formatter itself through every form it accepts at run
// time, including ones the compile-time check of launcher call sites refuses
// (a null string for "%s", mismatched sizes); format_check_test.cpp tests the
// check.
#undef formatWide

namespace {

// The result as ASCII, code units above 0x7F written as \uXXXX, so that
// expectations read as plain text and failures print legibly on both targets.
std::string shown(const wstring& text) {
    std::string out;
    for (wchar c : text) {
        const unsigned unit = static_cast<unsigned>(c);
        if (unit >= 0x20 && unit < 0x7F) {
            out.push_back(static_cast<char>(unit));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
            out += escaped;
        }
    }
    return out;
}

struct FormatCase {
    const char* name;
    wstring (*format)();
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << "formatWide(" << c.name << ")"; }

#define CASE(expected, ...)                                            \
    FormatCase {                                                       \
#__VA_ARGS__, [] { return formatWide(__VA_ARGS__); }, expected \
    }

const FormatCase kCases[] = {
    // Strings: "%s" wide, "%S" narrow (bytes widened as they are), "(null)".
    CASE("wide and narrow", W("%s and %S"), W("wide"), "narrow"),
    CASE("\\u00e9t\\u00e9 \\u20ac", W("%S %s"), "\xE9t\xE9", W("\u20AC")),
    CASE("[(null)] [(null)]", W("[%s] [%S]"), static_cast<const wchar*>(nullptr), static_cast<const char*>(nullptr)),
    CASE("wide narrow", W("%ls %hs"), W("wide"), "narrow"),
    CASE("[  abc] [abc  ] [ab]", W("[%5s] [%-5S] [%.2s]"), W("abc"), "abc", W("abc")),
    CASE("[abc]", W("[%.*s]"), 3, W("abcdef")),
    CASE("x|  y|z", W("%c|%3C|%hc"), W('x'), 'y', 'z'),
    CASE("\\u00e9", W("%C"), '\xE9'),
    // Signed and unsigned integers of every size.
    CASE("-42 -2147483648 4294967295", W("%d %i %u"), -42, INT_MIN, 4294967295u),
    CASE("5000000000 -5000000000", W("%I64d %I64d"), 5000000000LL, -5000000000LL),
    CASE("-9223372036854775808 18446744073709551615", W("%lld %I64u"), LLONG_MIN, ULLONG_MAX),
    CASE("5000000000|7", W("%I64d|%d"), 5000000000LL, 7),
    CASE("-1|2", W("%I32d|%d"), -1, 2),
    CASE("-7|8", W("%ld|%lu"), -7L, 8UL),
    CASE("4464 -56 1", W("%hd %hhd %hu"), 70000, 200, 65537),
    CASE("-1|3", W("%Id|%zu"), static_cast<std::intptr_t>(-1), static_cast<std::size_t>(3)),
    CASE("deadbeef DEADBEEF 17", W("%x %X %o"), 0xDEADBEEFu, 0xDEADBEEFu, 15u),
    CASE("123456789ab", W("%I64x"), 0x123456789ABULL),
    // Flags, width and precision.
    CASE("[   42] [42   ] [-0042] [+5] [ 5]", W("[%5d] [%-5d] [%05d] [%+d] [% d]"), 42, 42, -42, 5, 5),
    CASE("[007] [     007] [] [0]", W("[%.3d] [%08.3d] [%.0d] [%d]"), 7, 7, 0, 0),
    CASE("0xff 0XFF 010 0 0", W("%#x %#X %#o %#x %#o"), 255u, 255u, 8u, 0u, 0u),
    CASE("[   7] [7   ]", W("[%*d] [%*d]"), 4, 7, -4, 7),
    CASE("[0x00ff]", W("[%#06x]"), 255u),
    // Floating point.
    CASE("[ 3.14] [3.14 ] [-0003.50] [+2.0]", W("[%5.2f] [%-5.2f] [%08.2f] [%+.1f]"), 3.14159, 3.14159, -3.5, 2.0),
    CASE("1.235e+04 1E-10 0.0001 1.000000E+300", W("%.3e %G %g %E"), 12345.678, 1e-10, 0.0001, 1e300),
    CASE("[  inf] [-INF]", W("[%5f] [%E]"), HUGE_VAL, -HUGE_VAL),
    // Percent signs, unknown conversions and unfinished ones.
    CASE("100% done", W("100%% done")),
    CASE("%y 5 %-5y", W("%y %d %-5y"), 5),
    CASE("abc%", W("abc%")),
    CASE("abc%-5", W("abc%-5")),
    CASE("7 %I", W("%d %I"), 7),
    // Shapes of the launcher's log lines: a CRC above 2^31 shows negative as %d.
    CASE("[3:14] ", W("[%d:%d] "), 3, 14),
    CASE("checksums: 3000000000 12 -1294967296 12", W("checksums: %u %u %d %d"), 3000000000u, 12u, 3000000000u, 12u),
};

#undef CASE

class FormatWide : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatWide, Formats) { EXPECT_EQ(shown(GetParam().format()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Conversions, FormatWide, ::testing::ValuesIn(kCases));

TEST(FormatWide, PointerIsZeroPaddedUpperCaseHex) {
    const std::string zeros(2 * sizeof(void*) - 6, '0');
    EXPECT_EQ(shown(formatWide(W("%p"), reinterpret_cast<void*>(0x12FF7C))), zeros + "12FF7C");
    EXPECT_EQ(shown(formatWide(W("%p"), static_cast<void*>(nullptr))), std::string(2 * sizeof(void*), '0'));
    // "I" follows the pointer size too.
    EXPECT_EQ(shown(formatWide(W("%Ix"), UINTPTR_MAX)), std::string(2 * sizeof(void*), 'f'));
}

TEST(FormatWide, PrecisionBoundsReadingOfUnterminatedText) {
    const wchar wide[3] = {'a', 'b', 'c'};
    const char narrow[2] = {'d', 'e'};
    EXPECT_EQ(shown(formatWide(W("%.3s%.2S"), wide, narrow)), "abcde");
}

TEST(FormatWide, ResultIsNotBoundedByTheTextLimit) {
    const wstring longText(3 * kTextLimit, wchar('q'));
    const wstring result = formatWide(W("<%s>"), longText.c_str());
    EXPECT_EQ(result.size(), longText.size() + 2);
    EXPECT_EQ(result.substr(1, longText.size()), longText);
}

TEST(FormatWide, AbsurdWidthIsClampedNotAllocated) {
    const wstring result = formatWide(W("%999999999d|%*d"), 1, INT_MIN, 2);
    EXPECT_LT(result.size(), 200000u);
    const std::size_t mark = result.find(W("1|2"));
    ASSERT_NE(mark, wstring::npos);
    EXPECT_EQ(result.find_first_not_of(wchar(' ')), mark);     // "1" right-justified
    EXPECT_EQ(result.find_last_not_of(wchar(' ')), mark + 2);  // INT_MIN width: left-justified
}

TEST(FormatWide, NullFormatGivesEmptyText) { EXPECT_TRUE(formatWide(nullptr).empty()); }

}  // namespace
