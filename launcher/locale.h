// The Java-style locale of the user, chosen once while the configuration is read.
#pragma once

#include <string>

#include "launcher/command_line.h"

// The locale string ("en" by default, else such as "de" or "de_CH") for the
// user's interface language, or for the format locale when the command line
// asks for it with "-Dsun.locale.formatasdefault=true".  `words` may be null.
std::string determineLocaleCode(const ArgumentVector* words);
