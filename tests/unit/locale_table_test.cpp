// The language-identifier table, the format-locale switch and the split into
// language and country.  Key order and uniqueness are checked at compile time
// in the table's own unit.
#include "launcher/locale_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

TEST(LocaleTable, HasAllRows) { EXPECT_EQ(localeTableSize(), 215u); }

struct LookupCase {
    std::uint16_t id;
    const char* locale;
    const char* language;
    const char* country;
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << "id 0x" << std::hex << c.id << " -> " << c.locale; }

class LocaleLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LocaleLookup, GivesLocaleLanguageAndCountry) {
    const LookupCase& c = GetParam();
    const std::string locale = localeForLanguageId(c.id);
    EXPECT_EQ(locale, c.locale);
    std::string language = "stale", country = "stale";
    splitLocale(locale, language, country);
    EXPECT_EQ(language, c.language);
    EXPECT_EQ(country, c.country);
}

INSTANTIATE_TEST_SUITE_P(Rows, LocaleLookup,
                         ::testing::Values(
                             // Exact full-identifier rows.
                             LookupCase{0x0407, "de_DE", "de", "DE"}, LookupCase{0x0C07, "de_AT", "de", "AT"},
                             LookupCase{0x0409, "en_US", "en", "US"}, LookupCase{0x040D, "iw_IL", "iw", "IL"},
                             LookupCase{0x0421, "in_ID", "in", "ID"}, LookupCase{0x041A, "hr_HR", "hr", "HR"},
                             LookupCase{0x0812, "ko_KR", "ko", "KR"},
                             LookupCase{0x500A, "es_PR", "es", "PR"},  // the highest key
                             // Rows whose string is not language_country.
                             LookupCase{0x0814, "no_NO_NY", "no", ""}, LookupCase{0x2409, "en", "en", ""},
                             LookupCase{0x0431, "ts", "ts", ""},
                             // A bare primary language as the identifier.
                             LookupCase{0x0001, "ar", "ar", ""},
                             // Unlisted sublanguages fall back to their primary language.
                             LookupCase{0x4407, "de", "de", ""}, LookupCase{0x3809, "en", "en", ""},
                             // Primary languages that are not in the table give "en".
                             LookupCase{0x0028, "en", "en", ""}, LookupCase{0x0055, "en", "en", ""},
                             LookupCase{0x0000, "en", "en", ""}, LookupCase{0xFFFF, "en", "en", ""}));

// Every identifier yields a well-formed locale: two lower-case letters, then
// optionally "_" and two upper-case letters (plus "_NY" for Norwegian Nynorsk).
TEST(LocaleTable, EveryIdentifierGivesWellFormedLocale) {
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        const std::string locale = localeForLanguageId(static_cast<std::uint16_t>(id));
        SCOPED_TRACE(::testing::Message() << "id 0x" << std::hex << id << " -> " << locale);
        ASSERT_TRUE(locale.size() == 2 || locale.size() == 5 || locale == "no_NO_NY");
        ASSERT_TRUE(std::islower(static_cast<unsigned char>(locale[0])));
        ASSERT_TRUE(std::islower(static_cast<unsigned char>(locale[1])));
        if (locale.size() >= 5) {
            ASSERT_EQ(locale[2], '_');
            ASSERT_TRUE(std::isupper(static_cast<unsigned char>(locale[3])));
            ASSERT_TRUE(std::isupper(static_cast<unsigned char>(locale[4])));
        }
    }
}

// Identifiers below 0x400 can only match primary-language rows; all 71 are
// found, and only "en" (0x09) is indistinguishable from the default.
TEST(LocaleTable, AllPrimaryLanguageRowsAreReachable) {
    int nonDefault = 0;
    for (std::uint16_t id = 0; id < 0x400; ++id) {
        if (localeForLanguageId(id) != "en") ++nonDefault;
    }
    EXPECT_EQ(nonDefault, 70);
}

TEST(SplitLocale, TooShortForAnyCountry) {
    std::string language = "stale", country = "stale";
    splitLocale("", language, country);
    EXPECT_EQ(language, "");
    EXPECT_EQ(country, "");
}

struct FormatFlagCase {
    std::vector<wstring> words;
    bool expected;
};

class FormatLocaleFlag : public ::testing::TestWithParam<FormatFlagCase> {};

TEST_P(FormatLocaleFlag, LastMatchingWordWins) {
    EXPECT_EQ(formatLocaleRequested(GetParam().words), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Words, FormatLocaleFlag,
    ::testing::Values(
        FormatFlagCase{{}, false}, FormatFlagCase{{W("-Dsun.locale.formatasdefault=true")}, true},
        FormatFlagCase{{W("-Dsun.locale.formatasdefault=true"), W("-q"), W("-Dsun.locale.formatasdefault=false")},
                       false},
        FormatFlagCase{{W("-Dsun.locale.formatasdefault=false"), W("-Dsun.locale.formatasdefault=true"), W("-q")},
                       true},
        FormatFlagCase{{W("-Dsun.locale.formatasdefault=true"), W("-Dsun.locale.formatasdefault=")}, false},
        // Only the exact word counts: case and trailing text matter, and a
        // word without the "=" is not the option at all.
        FormatFlagCase{{W("-Dsun.locale.formatasdefault=TRUE")}, false},
        FormatFlagCase{{W("-Dsun.locale.formatasdefault=true"), W("-Dsun.locale.formatasdefault")}, true}));

}  // namespace
