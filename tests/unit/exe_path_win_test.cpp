#include "launcher/exe_path.h"

#include <gtest/gtest.h>

#include "launcher/path_ops.h"

namespace {

wstring tempDirectory() {
    wchar_t buffer[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, buffer);
    return wstring(buffer, n);
}

TEST(ExecutablePath, LongAndEightBitFormsNameThisProgram) {
    const wstring& longPath = getExecutableLongPath();
    EXPECT_EQ(lowerAscii(longPath.substr(longPath.size() - 14)), L"unit_tests.exe");
    EXPECT_TRUE(isExecutableName(getExecutablePath()));
    EXPECT_EQ(executableDirectory(), directoryOf(getExecutablePath()));
    EXPECT_EQ(executableDirectory().back(), '\\');
    EXPECT_TRUE(fileExists(getExecutablePath()));
}

TEST(ExecutablePath, RelativePathsResolveAgainstTheExecutableDirectory) {
    EXPECT_EQ(makeAbsolute(std::string("jre\\bin")), executableDirectory() + "jre\\bin");
    EXPECT_EQ(makeAbsolute(std::string("\\jre")), executableDirectory() + "jre");
    EXPECT_EQ(makeAbsolute(std::string("D:\\x\\\\y")), "D:\\x\\y");
    const std::string reference = "C:\\other\\file.txt";
    EXPECT_EQ(makeAbsolute(std::string("a.txt"), &reference), "C:\\other\\a.txt");
    EXPECT_EQ(makeAbsolute(wstring(L"lib"), false), executableLongDirectory() + L"lib");
}

TEST(ExecutablePath, FullFormIsNormalisedAndLowerCased) {
    EXPECT_EQ(makeAbsoluteFull(std::string("C:\\A\\.\\B\\..\\Java.EXE"), false), "c:\\a\\java.exe");
    EXPECT_EQ(makeAbsoluteFull(std::string("C:\\A\\.\\B\\..\\Java.EXE"), true), "C:\\A\\Java.EXE");
}

TEST(ExecutablePath, AbsoluteListCallsBackForEachEntry) {
    static std::vector<std::string> seen;
    seen.clear();
    const std::string list = makeAbsoluteList("a;;C:\\b;", [](const std::string& e) { seen.push_back(e); });
    EXPECT_EQ(list, executableDirectory() + "a;C:\\b");
    EXPECT_EQ(seen, (std::vector<std::string>{executableDirectory() + "a", "C:\\b"}));
}

TEST(ExecutablePath, CodePageConversionReportsLoss) {
    bool lost = true;
    EXPECT_EQ(toFileCodePage(L"C:\\plain", lost), "C:\\plain");
    EXPECT_FALSE(lost);
    toFileCodePage(L"C:\\\x0416\x0443\x043A", lost);  // Cyrillic: not in code page 1252
    EXPECT_TRUE(lost);
}

TEST(ExecutablePath, FileExistence) {
    EXPECT_TRUE(fileExists(std::string("Q:\\")));  // a drive root is not touched
    EXPECT_TRUE(fileExists(wstring(L"Q:\\.")));
    EXPECT_TRUE(fileExists(tempDirectory() + L"."));
    EXPECT_FALSE(fileExists(tempDirectory() + L"no-such-file-8d1f"));
    FILETIME written = {};
    EXPECT_TRUE(fileExists(getExecutablePath(), &written));
    EXPECT_NE(written.dwHighDateTime | written.dwLowDateTime, 0u);
}

TEST(ExecutablePath, CommandInterpreterReportsTheShortName) {
    const std::string answer = shortNameFromCommandInterpreter(getExecutableLongPath());
    if (answer.empty()) GTEST_SKIP() << "the command interpreter gave no answer here";
    EXPECT_TRUE(isExecutableName(answer)) << answer;
    EXPECT_TRUE(fileExists(answer)) << answer;
}

}  // namespace
