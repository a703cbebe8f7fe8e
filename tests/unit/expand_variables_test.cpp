#include "launcher/expand_variables.h"

#include <gtest/gtest.h>

namespace {

ExpansionValues<char> sampleValues() {
    ExpansionValues<char> v;
    v.executableDirectory = "C:\\Setup\\";
    v.extractionDirectory = "C:\\Temp\\klp1.tmp_dir9";
    v.jvmHome = "C:\\jre\\bin\\..";
    v.tempBase = "C:\\Temp\\";
    v.environment = {{"Path", "C:\\Windows"}, {"JAVA_HOME", "C:\\jdk"}, {"=C:", "C:\\"}};
    return v;
}

std::string expand(std::string text, const ExpansionValues<char>& v = sampleValues()) {
    expandVariables(text, v);
    return text;
}

TEST(ExpandVariables, EveryLauncherVariable) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"%KELPA_EXEDIR%x", "C:\\Setup\\x"},
        {"%TOVRIX_EXEDIR%", "C:\\Setup\\"},
        {"%KELPA_TEMPDIR%|%TOVRIX_TEMPDIR%", "C:\\Temp\\klp1.tmp_dir9|C:\\Temp\\klp1.tmp_dir9"},
        {"a%KELPA_PATHLIST_SEPARATOR%b%TOVRIX_PATHLIST_SEPARATOR%c", "a;b;c"},
        {"%KELPA_JVM_HOME%|%TOVRIX_JVM_HOME%", "C:\\jre\\bin\\..|C:\\jre\\bin\\.."},
        {"${KELPA_EXEDIR}${TOVRIX_EXEDIR}", "C:\\Setup\\C:\\Setup\\"},
        {"${KELPA_TEMPDIR}/${TOVRIX_TEMPDIR}", "C:\\Temp\\klp1.tmp_dir9/C:\\Temp\\klp1.tmp_dir9"},
        {"${KELPA_PATHLIST_SEPARATOR}${TOVRIX_PATHLIST_SEPARATOR}", ";;"},
        {"${KELPA_JVM_HOME}${TOVRIX_JVM_HOME}", "C:\\jre\\bin\\..C:\\jre\\bin\\.."},
        {"${launcher:sys.launcherDirectory}", "C:\\Setup\\"},
        {"${launcher:sys.launcherTempDirectory}\\user", "C:\\Temp\\klp1.tmp_dir9\\user"},
        {"${launcher:sys.pathlistSeparator}", ";"},
        {"${launcher:sys.jvmHome}\\lib", "C:\\jre\\bin\\..\\lib"},
        {"${launcher:sys.tempDir}", "C:\\Temp\\"},
        {"no variables here", "no variables here"},
        {"%KELPA_EXEDIR", "%KELPA_EXEDIR"},
    };
    for (const Case& c : cases) EXPECT_EQ(expand(c.in), c.out) << c.in;
}

TEST(ExpandVariables, EnvironmentNamesMatchTheirSpellingOrUpperCase) {
    EXPECT_EQ(expand("${Path}"), "C:\\Windows");
    EXPECT_EQ(expand("${PATH}"), "C:\\Windows");
    EXPECT_EQ(expand("${path}"), "${path}");  // neither the block's spelling nor upper case
    EXPECT_EQ(expand("${JAVA_HOME}\\bin"), "C:\\jdk\\bin");
    EXPECT_EQ(expand("${java_home}"), "${java_home}");
    EXPECT_EQ(expand("${UNDEFINED}"), "${UNDEFINED}");
}

TEST(ExpandVariables, ValuesAreExpandedOnlyByLaterVariables) {
    ExpansionValues<char> v = sampleValues();
    // The executable directory holds a later variable: expanded by it.
    v.executableDirectory = "${launcher:sys.tempDir}";
    EXPECT_EQ(expand("%KELPA_EXEDIR%", v), "C:\\Temp\\");
    // A value holding its own variable is not expanded again (no endless loop).
    v.extractionDirectory = "%KELPA_TEMPDIR%";
    EXPECT_EQ(expand("%KELPA_TEMPDIR%", v), "%KELPA_TEMPDIR%");
    // An earlier variable in a later value stays.
    v.jvmHome = "%KELPA_EXEDIR%";
    EXPECT_EQ(expand("${launcher:sys.jvmHome}", v), "%KELPA_EXEDIR%");
    // Environment values are expanded by environment variables after them.
    v.environment = {{"A", "${B}"}, {"B", "b"}};
    EXPECT_EQ(expand("${A}", v), "b");
}

TEST(ExpandVariables, EmptyJvmHomeBeforeAJvmIsLoaded) {
    ExpansionValues<char> v = sampleValues();
    v.jvmHome.clear();
    EXPECT_EQ(expand("${launcher:sys.jvmHome}\\bin", v), "\\bin");
}

TEST(ExpandVariables, ReplacementsThatWouldOverflowAreLeftOut) {
    ExpansionValues<char> v = sampleValues();
    v.executableDirectory = std::string(100, 'x');
    std::string text = "%KELPA_EXEDIR%%KELPA_EXEDIR%";
    EXPECT_FALSE(expandVariables(text, v, 150));
    EXPECT_EQ(text, std::string(100, 'x') + "%KELPA_EXEDIR%");
    EXPECT_LE(text.size(), 150u);
}

TEST(ExpandVariables, LogsEachReplacement) {
    std::vector<std::string> seen;
    std::string text = "${launcher:sys.pathlistSeparator}x";
    expandVariables<char>(text, sampleValues(), 6000,
                          [&](const std::string& var, const std::string& value, const std::string& in) {
                              seen.push_back(var + "|" + value + "|" + in);
                          });
    EXPECT_EQ(seen, std::vector<std::string>{"${launcher:sys.pathlistSeparator}|;|${launcher:sys.pathlistSeparator}x"});
}

TEST(ExpandVariables, WideTextsExpandTheSameWay) {
    ExpansionValues<wchar> v;
    v.executableDirectory = W("C:\\\u0416\\");
    wstring text = W("%TOVRIX_EXEDIR%app.jar");
    expandVariables(text, v);
    EXPECT_EQ(text, W("C:\\\u0416\\app.jar"));
}

TEST(EnvironmentBlock, ParsesEntriesAndSkipsThoseWithoutEquals) {
    const char block[] = "=C:=C:\\\0PATH=C:\\Windows\0NOEQUALS\0EMPTY=\0\0";
    auto entries = parseEnvironmentBlock<char>(block);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (std::pair<std::string, std::string>("=C:", "C:\\")));
    EXPECT_EQ(entries[1], (std::pair<std::string, std::string>("PATH", "C:\\Windows")));
    EXPECT_EQ(entries[2], (std::pair<std::string, std::string>("EMPTY", "")));
    EXPECT_TRUE(parseEnvironmentBlock<char>(nullptr).empty());
}

}  // namespace
