// The candidates of the temporary base search, in the order they are probed.
// Which directory each one names comes from the environment; this unit only
// fixes the order and how each is probed, so it can be tested without Windows.
#pragma once

#include <string>
#include <vector>

template <typename Char>
struct TempCandidate {
    std::basic_string<Char> directory;  // empty when its source is not set
    bool createFirst;
    bool checkLongName;
    bool secondPass;     // reached only when the first pass found nothing
    const char* source;  // for the log
};

template <typename Char>
struct TempSources {
    std::basic_string<Char> windowsTemp;  // the Windows temporary path, trailing backslash kept
    std::basic_string<Char> userProfile;  // empty when USERPROFILE is not set
    std::basic_string<Char> homeDrive;    // empty when not set
    std::basic_string<Char> homePath;     // empty when not set
    std::basic_string<Char> windowsDirectory;
};

template <typename Char>
std::vector<TempCandidate<Char>> tempBaseCandidates(const TempSources<Char>& s) {
    using String = std::basic_string<Char>;
    auto text = [](const char* t) {
        String out;
        while (*t) out.push_back(static_cast<Char>(*t++));
        return out;
    };
    const String profileTemp = s.userProfile.empty() ? String() : s.userProfile + text("\\AppData\\Local\\Temp");
    const String home = (s.homeDrive.empty() || s.homePath.empty()) ? String() : s.homeDrive + s.homePath;
    const String windowsTemp = s.windowsDirectory.empty() ? String() : s.windowsDirectory + text("\\temp");
    return {
        {s.windowsTemp, true, true, false, "TEMP"},
        {profileTemp, false, true, false, "USERPROFILE"},
        {home, false, true, false, "HOMEDRIVE/HOMEPATH"},
        {windowsTemp, false, false, false, "windows\\temp"},
        {text("c:\\temp"), false, false, false, "c:\\temp"},
        {text("c:\\tmp"), false, false, false, "c:\\tmp"},
        {s.windowsDirectory, false, false, false, "windows"},
        {text("c:\\tmp"), true, false, false, "c:\\tmp (created)"},
        {s.windowsTemp, true, false, true, "TEMP"},
        {profileTemp, false, false, true, "USERPROFILE"},
        {home, false, false, true, "HOMEDRIVE/HOMEPATH"},
    };
}
