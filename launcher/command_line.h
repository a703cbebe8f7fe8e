// Splitting of the launcher's command line into an argument vector.
#pragma once

#include <vector>

#include "launcher/text.h"

using ArgumentVector = std::vector<wstring>;

// Appends the arguments of a UTF-16 command line to `arguments`.  Only the space
// separates; double and single quotes group (the quotes are dropped, text
// directly before an opening quote is joined to the quoted text, an unclosed
// quote runs to the end); backslashes have no special meaning.
void splitCommandLine(const wstring& text, ArgumentVector& arguments);
