#include "jvm/main_arguments.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<wstring>;

TEST(MainArguments, LeadingArgumentsThenConfiguredThenCommandLine) {
    MainArgumentInputs in;
    in.windowedKind = true;
    in.mainClass = W("com.example.Main");
    in.errorLog = W("C:\\Setup\\error.log");
    in.flag106 = true;
    in.configuredArguments = {W("-a"), W("b c")};
    in.javaOptionWords = true;
    const Words words = {W("setup.exe"), W("-q"),    W("-J-Xmx512m"), W("-Dsun.locale.formatasdefault=true"),
                         W("-temp"),     W("C:\\t"), W("-Jx"),        W("-Dother=1")};
    EXPECT_EQ(buildMainArguments(in, words),
              (Words{W("true"), W("com.example.Main"), W("C:\\Setup\\error.log"), W(""), W("true"), W("setup.exe"),
                     W("-a"), W("b c"), W("-q"), W("-temp"), W("C:\\t"), W("-Dother=1")}));
}

TEST(MainArguments, JWordsStayWhenTheyAreNotVmOptions) {
    MainArgumentInputs in;
    in.mainClass = W("mod/pkg.Main");
    in.mainClassInModule = true;
    const Words words = {W("x.exe"), W("-J-Xmx1g"), W("-Dsun.locale.formatasdefault=false")};
    EXPECT_EQ(buildMainArguments(in, words),
              (Words{W("false"), W("/mod/pkg.Main"), W(""), W(""), W("false"), W("x.exe"), W("-J-Xmx1g")}));
}

TEST(MainArguments, EmptyCommandLine) { EXPECT_EQ(buildMainArguments(MainArgumentInputs(), Words()).size(), 6u); }

}  // namespace
