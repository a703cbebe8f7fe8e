// printf-style formatting with the Windows wide-character conventions, written
// out here so that the launcher does not depend on which C runtime convention a
// toolchain picks, and so that the portable core formats the same on Linux.
//
// Conversions: d i u x X c s S p f e g %, flags "-+ 0#", width and precision
// (also "*"), size prefixes h l ll I64 I32 I.  "%s" is a UTF-16 string, "%S" an
// 8-bit string (each byte widened to the code unit of the same value); a null
// string prints "(null)".
#pragma once

#include <cstdarg>

#include "launcher/text.h"

wstring formatWide(const wchar* format, ...);
wstring formatWideV(const wchar* format, va_list args);

// Calls with a format literal are checked against their arguments.
#include "launcher/format_check.h"
#define formatWide(...) (LAUNCHER_CHECK_FORMAT(__VA_ARGS__), ::formatWide(__VA_ARGS__))
