#include "launcher/path_ops.h"

#include <gtest/gtest.h>

namespace {

TEST(PathOps, CollapseBackslashes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"C:\\a\\\\b\\\\\\c", "C:\\a\\b\\c"},
        {"\\\\server\\share\\\\x", "\\\\server\\share\\x"},  // leading "\\" of a network path stays
        {"\\\\\\x", "\\\\x"},                                // the first two stay, the third goes
        {"ab", "ab"},
        {"", ""},
        {"C:\\dir\\", "C:\\dir\\"},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        collapseBackslashes(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
    wstring wide = W("C:\\x\\\\y");
    collapseBackslashes(wide);
    EXPECT_EQ(wide, W("C:\\x\\y"));
}

TEST(PathOps, IsRelative) {
    struct Case {
        std::string path;
        bool relative;
    } cases[] = {
        {"C:\\dir", false},  {"\\\\srv\\share", false}, {"\"C:\\dir\"", false},
        {"dir\\file", true}, {"\\dir", true},           {"C:", true},
        {"\"C:", true},      {"C:dir", true},           {"..\\x", true},
        {"", true},          {"\"\\\\srv\"", false},    {"c:/dir", true},
    };
    for (const Case& c : cases) EXPECT_EQ(isRelativePath(c.path), c.relative) << c.path;
}

TEST(PathOps, ResolveAgainstDirectory) {
    const std::string dir = "C:\\Apps\\Setup\\";
    EXPECT_EQ(resolveAgainst(dir, std::string("jre")), "C:\\Apps\\Setup\\jre");
    // A single leading backslash counts as relative; the doubled backslash collapses.
    EXPECT_EQ(resolveAgainst(dir, std::string("\\lib")), "C:\\Apps\\Setup\\lib");
    EXPECT_EQ(resolveAgainst(dir, std::string("D:\\x\\\\y")), "D:\\x\\y");
    EXPECT_EQ(resolveAgainst(dir, std::string("\\\\srv\\s")), "\\\\srv\\s");
}

TEST(PathOps, DriveRoots) {
    for (const char* root : {"C:\\", "c:\\.", "D:\\.\\."}) EXPECT_TRUE(isDriveRoot(std::string(root))) << root;
    for (const char* other : {"C:", "C:\\x", "C:\\..", "C:\\.\\", "\\\\"})
        EXPECT_FALSE(isDriveRoot(std::string(other))) << other;
}

TEST(PathOps, LowerCaseTouchesOnlyAsciiLetters) {
    EXPECT_EQ(lowerAscii(wstring(W("C:\\\u00C4RGER\\Java.EXE"))), W("c:\\\u00C4rger\\java.exe"));
}

TEST(PathOps, ExecutableNames) {
    EXPECT_TRUE(isExecutableName("a.exe"));
    EXPECT_TRUE(isExecutableName("C:\\X\\SETUP.EXE"));
    EXPECT_FALSE(isExecutableName(".exe"));
    EXPECT_FALSE(isExecutableName("setup.ex"));
    EXPECT_FALSE(isExecutableName("setup.exe.txt"));
}

TEST(PathOps, DirectoryOf) {
    EXPECT_EQ(directoryOf(std::string("C:\\a\\b.exe")), "C:\\a\\");
    EXPECT_EQ(directoryOf(std::string("b.exe")), "");
}

TEST(PathOps, InterpreterAnswer) {
    EXPECT_EQ(shortNameFromInterpreter("C:\\PROGRA~1\\SETUP.EXE\r\n", 0), "C:\\PROGRA~1\\SETUP.EXE");
    EXPECT_EQ(shortNameFromInterpreter("C:\\X.EXE\n", 0), "C:\\X.EXE");
    EXPECT_EQ(shortNameFromInterpreter("C:\\X.EXE", 0), "");      // no line end: no answer
    EXPECT_EQ(shortNameFromInterpreter("C:\\X.EXE\r\n", 1), "");  // failed
    EXPECT_EQ(shortNameFromInterpreter("ab\r\n", 0), "");         // five bytes or fewer
}

}  // namespace
