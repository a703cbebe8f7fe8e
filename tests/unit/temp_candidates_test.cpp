#include "launcher/temp_candidates.h"

#include <gtest/gtest.h>

namespace {

TEST(TempCandidates, OrderAndProbeSettings) {
    TempSources<char> s;
    s.windowsTemp = "C:\\Users\\u\\AppData\\Local\\Temp\\";
    s.userProfile = "C:\\Users\\u";
    s.homeDrive = "H:";
    s.homePath = "\\home";
    s.windowsDirectory = "C:\\Windows";
    struct Expected {
        const char* directory;
        bool createFirst, checkLongName, secondPass;
    } expected[] = {
        {"C:\\Users\\u\\AppData\\Local\\Temp\\", true, true, false},
        {"C:\\Users\\u\\AppData\\Local\\Temp", false, true, false},
        {"H:\\home", false, true, false},
        {"C:\\Windows\\temp", false, false, false},
        {"c:\\temp", false, false, false},
        {"c:\\tmp", false, false, false},
        {"C:\\Windows", false, false, false},
        {"c:\\tmp", true, false, false},
        {"C:\\Users\\u\\AppData\\Local\\Temp\\", true, false, true},
        {"C:\\Users\\u\\AppData\\Local\\Temp", false, false, true},
        {"H:\\home", false, false, true},
    };
    const auto candidates = tempBaseCandidates(s);
    ASSERT_EQ(candidates.size(), std::size(expected));
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        EXPECT_EQ(candidates[i].directory, expected[i].directory) << i;
        EXPECT_EQ(candidates[i].createFirst, expected[i].createFirst) << i;
        EXPECT_EQ(candidates[i].checkLongName, expected[i].checkLongName) << i;
        EXPECT_EQ(candidates[i].secondPass, expected[i].secondPass) << i;
    }
}

TEST(TempCandidates, UnsetSourcesGiveEmptyCandidates) {
    TempSources<char> s;
    s.windowsTemp = "C:\\T\\";
    s.homeDrive = "H:";  // HOMEPATH missing: both must be set
    s.windowsDirectory = "C:\\Windows";
    const auto candidates = tempBaseCandidates(s);
    EXPECT_EQ(candidates[1].directory, "");
    EXPECT_EQ(candidates[2].directory, "");
    EXPECT_EQ(candidates[10].directory, "");
}

}  // namespace
