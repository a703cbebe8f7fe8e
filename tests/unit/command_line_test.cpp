#include "launcher/command_line.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* name;
    const wchar* text;
    std::vector<wstring> expected;
};

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, SplitsAsTheLauncherDoes) {
    ArgumentVector arguments;
    splitCommandLine(GetParam().text, arguments);
    EXPECT_EQ(arguments, GetParam().expected);
}

const SplitCase kSplitCases[] = {
    {"plain_words", W("setup.exe -q -c"), {W("setup.exe"), W("-q"), W("-c")}},
    {"double_quoted_space", W("\"C:\\Program Files\\setup.exe\" -q"), {W("C:\\Program Files\\setup.exe"), W("-q")}},
    {"text_before_quote_joins", W("-Dx=\"a b\" next"), {W("-Dx=a b"), W("next")}},
    {"text_after_closing_quote_starts_new", W("\"a b\"c d"), {W("a b"), W("c"), W("d")}},
    {"apostrophe_runs_to_end", W("it's a test"), {W("its a test")}},
    {"apostrophe_pair", W("'a b' c"), {W("a b"), W("c")}},
    {"empty_quotes_give_empty_argument", W("a \"\" b"), {W("a"), W(""), W("b")}},
    {"two_spaces_no_empty_argument", W("a  b"), {W("a"), W("b")}},
    {"tab_does_not_separate", W("a\tb c"), {W("a\tb"), W("c")}},
    {"backslash_not_special", W("\"C:\\dir\\\\\" x"), {W("C:\\dir\\\\"), W("x")}},
    {"unclosed_double_quote", W("a \"b c"), {W("a"), W("b c")}},
    {"double_quote_inside_single", W("'say \"hi\"' x"), {W("say \"hi\""), W("x")}},
    {"single_inside_double", W("\"it's\" x"), {W("it's"), W("x")}},
    {"leading_and_trailing_spaces", W("  a b  "), {W("a"), W("b")}},
    {"empty_line", W(""), {}},
    {"only_spaces", W("   "), {}},
    {"quote_at_end", W("a \""), {W("a"), W("")}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitCommandLine, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SplitCommandLineAppend, AppendsToExistingVector) {
    ArgumentVector arguments{W("first")};
    splitCommandLine(W("second third"), arguments);
    EXPECT_EQ(arguments, (ArgumentVector{W("first"), W("second"), W("third")}));
}

}  // namespace
