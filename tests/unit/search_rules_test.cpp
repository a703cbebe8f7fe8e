#include "jvm/search_rules.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(SearchRules, SearchSequenceEntries) {
    struct Case {
        std::string sequence;
        std::vector<std::pair<char, std::string>> entries;
    } cases[] = {
        {"Y;EJAVA_HOME;EJDK_HOME;", {{'Y', ""}, {'E', "JAVA_HOME"}, {'E', "JDK_HOME"}}},
        {";;AC:\\jre;;Bjre;", {{'A', "C:\\jre"}, {'B', "jre"}}},
        {"S", {{'S', ""}}},
        {"", {}},
        {";", {}},
        {"Rrel;A${launcher:sys.launcherTempDirectory}\\jre",
         {{'R', "rel"}, {'A', "${launcher:sys.launcherTempDirectory}\\jre"}}},
        {"Xwhatever;Y", {{'X', "whatever"}, {'Y', ""}}},  // unknown kinds are kept; the search ignores them
    };
    for (const Case& c : cases) {
        std::vector<std::pair<char, std::string>> got;
        for (const SearchEntry& e : parseSearchSequence(c.sequence)) got.emplace_back(e.kind, e.argument);
        EXPECT_EQ(got, c.entries) << c.sequence;
    }
}

TEST(SearchRules, WhichEntriesTheFallbackPassReconsiders) {
    struct Case {
        SearchEntry entry;
        bool again;
    } cases[] = {
        {{'B', "C:\\jre"}, true},  // B always, even absolute
        {{'B', "jre"}, true},
        {{'A', "jre"}, true},
        {{'R', "..\\jre"}, true},
        {{'A', "\\jre"}, true},     // a single leading backslash is relative
        {{'A', "C:\\jre"}, false},  // an absolute A entry never comes back
        {{'A', "C:jre"}, false},    // the second character ":" is enough
        {{'R', "\\\\server\\jre"}, false},
        {{'A', "j"}, true},  // one character is never absolute
        {{'E', "JAVA_HOME"}, false},
        {{'Y', ""}, false},
        {{'S', ""}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(reconsideredInFallback(c.entry), c.again) << c.entry.kind << c.entry.argument;
}

TEST(SearchRules, PreferenceFileFirstLine) {
    struct Case {
        std::string text;
        std::optional<std::string> line;
    } cases[] = {
        {"C:\\jre\r\nsecond\r\n", "C:\\jre"},
        {"C:\\jre", "C:\\jre"},
        {"C:\\jre\r\r\n", "C:\\jre"},
        {"C:\\jre\n", "C:\\jre"},
        {"", std::nullopt},
        {"\r\nC:\\jre\r\n", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(preferenceLine(c.text), c.line) << c.text;
    const std::string longLine(7000, 'x');
    EXPECT_EQ(preferenceLine(longLine)->size(), kPreferenceLineLimit);
}

TEST(SearchRules, ExecutableDerivation) {
    struct Case {
        std::set<std::string> files;
        bool jdkRequired;
        Derivation expected;
    } cases[] = {
        {{"D\\jre\\bin\\java.exe"}, false, {"D\\jre\\bin\\java.exe", true}},
        {{"D\\bin\\java.exe"}, false, {"D\\bin\\java.exe", true}},
        {{}, false, {"D\\bin\\java.exe", true}},  // existence is left to checkJavaExe
        {{"D\\lib\\tools.jar", "D\\jre\\bin\\java.exe"}, true, {"D\\jre\\bin\\java.exe", true}},
        {{"D\\lib\\tools.jar"}, true, {"D\\jre\\bin\\java.exe", true}},
        {{"D\\bin\\java.exe"}, true, {"D\\jre\\bin\\java.exe", false}},  // no tools.jar: not a JDK
    };
    for (const Case& c : cases) {
        const Derivation d =
            deriveJavaExecutable("D", c.jdkRequired, [&](const std::string& p) { return c.files.count(p) > 0; });
        EXPECT_EQ(d.javaExecutable, c.expected.javaExecutable);
        EXPECT_EQ(d.holds, c.expected.holds) << c.expected.javaExecutable;
    }
}

TEST(SearchRules, PathsAroundTheJavaExecutable) {
    const std::string exe = "c:\\jdk\\bin\\java.exe";
    EXPECT_EQ(windowedJavaExecutable(exe), "c:\\jdk\\bin\\javaw.exe");
    EXPECT_EQ(jvmHomeOf(exe), "c:\\jdk\\bin\\..");
    EXPECT_EQ(javaBinDirectory(exe), "c:\\jdk\\bin");
    EXPECT_EQ(javaBinDirectory("c:\\jdk\\bin\\javaw.exe"), "c:\\jdk\\bin");
    EXPECT_EQ(innerJreJavaExecutable(exe), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
    EXPECT_EQ(javaBinDirectory(innerJreJavaExecutable(exe)), "c:\\jdk\\bin\\..\\jre\\bin");
}

TEST(SearchRules, JvmDllVariantsInOrder) {
    EXPECT_EQ(jvmDllCandidates("B", ""),
              (std::vector<std::string>{"B\\hotspot\\jvm.dll", "B\\client\\jvm.dll", "B\\server\\jvm.dll",
                                        "B\\classic\\jvm.dll", "B\\jrockit\\jvm.dll"}));
    const auto configured = jvmDllCandidates("B", "server");
    ASSERT_EQ(configured.size(), 6u);
    EXPECT_EQ(configured[0], "B\\server\\jvm.dll");  // before hotspot
    EXPECT_EQ(configured[1], "B\\hotspot\\jvm.dll");
}

TEST(SearchRules, PathValues) {
    EXPECT_EQ(pathWithAppended("C:\\w;C:\\x", "C:\\jre\\bin"), "C:\\w;C:\\x;C:\\jre\\bin");
    EXPECT_EQ(pathWithAppended("", "C:\\jre\\bin"), "C:\\jre\\bin");

    struct Case {
        std::string list, path, value;
    } cases[] = {
        {"C:\\t\\user", "C:\\w", "C:\\t\\user;C:\\w"},
        {"C:\\a;C:\\b;", "C:\\w", "C:\\a;C:\\b;C:\\w"},
        {"", "C:\\w", "C:\\w"},
        {"C:\\a", "", "C:\\a;"},
    };
    for (const Case& c : cases) EXPECT_EQ(nativeLibraryPath(c.list, c.path), c.value) << c.list;
    // Over the limit only whole entries stay.
    EXPECT_EQ(nativeLibraryPath("C:\\a", "C:\\bbbb;C:\\cccc", 12), "C:\\a;C:\\bbbb");
    EXPECT_EQ(nativeLibraryPath("C:\\aaaaaaaaaaaaa", "C:\\b", 8), "");
    const std::string bigPath(60000, 'p');
    EXPECT_LE(nativeLibraryPath("C:\\lib", bigPath).size(), kNativePathLimit);
}

TEST(SearchRules, LocatedJvmKeyNames) {
    const std::string exe = "c:\\program files\\java\\jre1.8.0_191\\bin\\java.exe";
    EXPECT_EQ(jvmCacheKeyName(exe),
              "SOFTWARE\\quillmoor\\kelpa\\jvms\\c:/program files/java/jre1.8.0_191/bin/java.exe");
    EXPECT_EQ(locatedJvmKeyName(exe),
              "SOFTWARE\\quillmoor\\kelpa\\locatedjvms\\c:/program files/java/jre1.8.0_191/bin/java.exe");
    EXPECT_EQ(pathFromLocatedKey("c:/program files/java/jre1.8.0_191/bin/java.exe"), exe);
}

TEST(SearchRules, FailureMessageFollowsTheSource) {
    struct Case {
        JvmSource source;
        int bits;
        std::int32_t id;
        std::optional<std::string> argument;
    } cases[] = {
        {JvmSource::SystemPath, 32, 1016, "32"},       {JvmSource::Location, 32, 1019, "C:\\jre"},
        {JvmSource::Environment, 32, 1017, "C:\\jre"}, {JvmSource::Registry, 32, 1005, std::nullopt},
        {JvmSource::None, 32, 1005, std::nullopt},     {JvmSource::SystemPath, 64, 1016, "64"},
        {JvmSource::Location, 64, 1020, "C:\\jre"},    {JvmSource::Environment, 64, 1018, "C:\\jre"},
        {JvmSource::Registry, 64, 1005, std::nullopt},
    };
    for (const Case& c : cases) {
        const FailureMessage m = searchFailureMessage(c.source, "C:\\jre", c.bits);
        EXPECT_EQ(m.id, c.id) << static_cast<int>(c.source) << " " << c.bits;
        EXPECT_EQ(m.argument, c.argument) << static_cast<int>(c.source) << " " << c.bits;
    }
    EXPECT_EQ(noJvmMessage(32).id, 1016);
    EXPECT_EQ(noJvmMessage(32).argument, std::optional<std::string>("32"));
}

}  // namespace
