// The fixed table from Windows language identifiers to Java-style locale
// strings, and the choices made around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/text.h"

// The locale string for a language identifier: the row of the exact key, else
// the row of its primary language (id & 0x3FF), else "en".
std::string localeForLanguageId(std::uint16_t languageId);

// The "-Dsun.locale.formatasdefault=" words of a command line: exactly "=true"
// sets the flag, any other value clears it, the last such word wins.
bool formatLocaleRequested(const std::vector<wstring>& words);

// Language: the first two characters.  Country: characters four and five when
// the string is exactly five characters long, otherwise none ("").
void splitLocale(const std::string& locale, std::string& language, std::string& country);

// Number of rows in the table (215).
std::size_t localeTableSize();
