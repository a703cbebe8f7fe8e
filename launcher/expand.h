// Variable expansion with the launcher's own values: the executable and
// extraction directories, the JVM home, the temporary base and the process
// environment.
#pragma once

#include <string>

#include "launcher/text.h"

// UTF-16 text in place, at most 6,000 characters.  With `eightBitSafe` the
// directories come in their 8-bit forms (widened), so the result survives
// conversion to the 8-bit file code page.
void expandVariables(wstring& text, bool eightBitSafe);
// 8-bit text in place, with the 8-bit forms of every value.
void expandVariables(std::string& text);
