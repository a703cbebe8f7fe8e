// Composition of the texts the launcher shows: the "{0}" placeholder and the
// log path line, bounded to 6,000 code units.
#pragma once

#include "launcher/text.h"

// Replaces the first "{0}" with `argument` (later ones stay).
wstring substitutePlaceholder(const wstring& text, const wstring& argument);
// "%s\n\nLog: %s" when a log path exists, else the message alone.
wstring withLogPath(const wstring& message, const wstring& logPath);
// Cuts a text to the launcher's 6,000-code-unit bound.
wstring boundText(wstring text);
