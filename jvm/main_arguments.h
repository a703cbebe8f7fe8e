// The argument vector the launcher hands to the Java launcher class's main.
#pragma once

#include <vector>

#include "launcher/text.h"

struct MainArgumentInputs {
    bool windowedKind = false;                 // configuration 107 equals 1
    wstring mainClass;                         // configuration 122
    bool mainClassInModule = false;            // configuration 133
    wstring errorLog;                          // resolved file name of 103, or "" when 102 is zero
    wstring outputLog;                         // resolved file name of 105, or "" when 104 is zero
    bool flag106 = false;                      // configuration 106
    std::vector<wstring> configuredArguments;  // words of configuration 124
    bool javaOptionWords = false;              // configuration 125: "-J" words are VM options
};

// The fixed leading arguments, word 0 of the command line, the configured
// arguments, then command-line words 1..n without "-J" words (when they are
// VM options) and without "-Dsun.locale.formatasdefault=" words.
std::vector<wstring> buildMainArguments(const MainArgumentInputs& inputs, const std::vector<wstring>& words);
