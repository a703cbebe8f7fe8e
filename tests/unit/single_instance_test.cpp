#include "frontend/single_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using single_instance::kBaseNameLimit;
using single_instance::kCounterLimit;
using single_instance::kNameBufferBytes;
using single_instance::numberedName;
using single_instance::semaphoreBaseName;
using single_instance::takeLowestFreeName;

TEST(SemaphoreName, PrefixThenThePathWithUnderscores) {
    const struct {
        const char* path;
        bool global;
        const char* name;
    } cases[] = {
        {"c:\\program files\\setup x.exe", false, "Local\\c:_program_files_setup_x.exe"},
        {"c:\\program files\\setup x.exe", true, "Global\\c:_program_files_setup_x.exe"},
        {"\\\\server\\share\\a  b.exe", false, "Local\\__server_share_a__b.exe"},
        // Only backslashes and blanks change; a tab, a slash or a colon stays.
        {"d:\\x\ty/z.exe", false, "Local\\d:_x\ty/z.exe"},
        {"", false, "Local\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(semaphoreBaseName(c.path, c.global), c.name) << c.path;
}

TEST(SemaphoreName, CounterFollowsWithoutSeparatorOrLeadingZeros) {
    const std::string base = semaphoreBaseName("c:\\a.exe", false);
    EXPECT_EQ(numberedName(base, 0), "Local\\c:_a.exe0");
    EXPECT_EQ(numberedName(base, 7), "Local\\c:_a.exe7");
    EXPECT_EQ(numberedName(base, kCounterLimit), "Local\\c:_a.exe100000");
}

TEST(SemaphoreName, NameThatFitsTheBufferIsKeptWhole) {
    // "Global\" is 7 bytes: a path of the limit minus 7 bytes just fits.
    const std::string path = "c:\\" + std::string(kBaseNameLimit - 7 - 3, 'p');
    const std::string name = semaphoreBaseName(path, true);
    EXPECT_EQ(name, "Global\\c:_" + std::string(kBaseNameLimit - 10, 'p'));
    EXPECT_EQ(name.size(), kBaseNameLimit);
}

TEST(SemaphoreName, LongPathIsShortenedWithItsHashAndStaysDistinct) {
    // Paths of the longest kind the launcher reads (6,000 bytes), which
    // differ only in their last character or only in letters the cut removes.
    const std::string common = "c:\\" + std::string(5990, 'd') + "\\";
    const std::string first = common + "a.exe";
    const std::string second = common + "b.exe";
    for (bool global : {false, true}) {
        const std::string a = semaphoreBaseName(first, global);
        const std::string b = semaphoreBaseName(second, global);
        EXPECT_EQ(a.size(), kBaseNameLimit);
        EXPECT_NE(a, b);
        EXPECT_EQ(a, semaphoreBaseName(first, global)) << "the same program gets the same name every time";
        EXPECT_EQ(a.find('\\'), std::string(global ? "Global" : "Local").size()) << "only the namespace backslash";
        EXPECT_EQ(a.compare(0, 16, global ? "Global\\c:_dddddd" : "Local\\c:_ddddddd"), 0);
        // The highest numbered name and its NUL still fit the 6,000-byte buffer.
        EXPECT_LE(numberedName(a, kCounterLimit).size() + 1, kNameBufferBytes);
    }
}

// Multi-instance numbering over a set of names that exist already.
TEST(SemaphoreName, LowestFreeNumberIsTaken) {
    const std::string base = "Local\\c:_a.exe";
    const struct {
        const char* name;
        unsigned existing;  // names 0 .. existing-1 exist
        const char* taken;
        unsigned tries;
    } cases[] = {
        {"none runs", 0, "Local\\c:_a.exe0", 1},
        {"two run", 2, "Local\\c:_a.exe2", 3},
        {"every number taken", kCounterLimit + 5, "Local\\c:_a.exe100000", kCounterLimit + 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> tried;
        const std::string taken = takeLowestFreeName(base, [&](const std::string& name) {
            tried.push_back(name);
            return tried.size() <= c.existing;
        });
        EXPECT_EQ(taken, c.taken) << c.name;
        EXPECT_EQ(tried.size(), c.tries) << c.name;
        EXPECT_EQ(tried.back(), taken) << c.name;
    }
}

}  // namespace
