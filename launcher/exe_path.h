// The executable's own path in its long UTF-16 form and in an 8-bit form that
// 8-bit file functions can always use, and the path operations built on them.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/text.h"

// The module file name of the executable as Windows reports it (at most
// 6,000 characters; "" when it cannot be read).
wstring moduleFileName();
const wstring& getExecutableLongPath();
const std::string& getExecutablePath();
// Directories of the executable, each ending with a backslash.
const std::string& executableDirectory();     // of the 8-bit path
const wstring& executableDirectoryWidened();  // the 8-bit directory widened byte by byte
const wstring& executableLongDirectory();     // of the long path

// The code page of the process's 8-bit file functions (ANSI or OEM).
UINT fileCodePage();
// UTF-16 to 8-bit in the file code page without best-fit mapping; `lost` is set
// when a character had to be replaced or the conversion failed ("" then).
std::string toFileCodePage(const wstring& text, bool& lost);
// 8-bit (file code page) to UTF-16.
wstring fromFileCodePage(const std::string& text);

// Relative paths resolve against the reference file's directory or, without
// one, the executable's directory; doubled backslashes are collapsed.
std::string makeAbsolute(const std::string& path, const std::string* referenceFile = nullptr);
wstring makeAbsolute(const wstring& path, bool widenedDirectory);
// makeAbsolute, then the system's full-path normalisation, lower-cased unless
// `keepCase`, then collapsed.
std::string makeAbsoluteFull(const std::string& path, bool keepCase);
wstring makeAbsoluteFull(const wstring& path, bool keepCase);
// Each non-empty entry of a ";" list made absolute; `onEntry` sees each one.
std::string makeAbsoluteList(const std::string& list, void (*onEntry)(const std::string&) = nullptr);

// 8-bit forms keep their bytes only when the UTF-16 round trip is lossless.
void collapseBackslashes8(std::string& path);
std::string lowerCasePath8(const std::string& path);

// A drive root is taken as existing without touching the drive; otherwise a
// directory search must find the entry.
bool fileExists(const std::string& path, FILETIME* lastWrite = nullptr);
bool fileExists(const wstring& path);

// The short 8.3 name the command interpreter reports for the long path ("" when
// it gives no answer).
std::string shortNameFromCommandInterpreter(const wstring& longPath);
