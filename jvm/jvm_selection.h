// The Java runtime the launcher selected, once one has been loaded.
#pragma once

#include <string>

struct JvmSelection {
    std::string javaExecutable;  // 8-bit path of java.exe / javaw.exe
    std::string home;            // the executable's directory followed by "..", "" until loaded
    std::string version;         // as probed
};

inline JvmSelection& jvmSelection() {
    static JvmSelection selection;
    return selection;
}
