// Path operations over strings, shared by every part of the launcher.  Templates
// over the character type so the same code serves 8-bit and UTF-16 paths.
#pragma once

#include <string>

#include "launcher/text.h"

// Keeps the first two characters (a leading "\\" of a network path stays), then
// drops every backslash that directly follows a backslash.
template <typename Char>
void collapseBackslashes(std::basic_string<Char>& path) {
    if (path.size() <= 2) return;
    std::size_t out = 2;
    for (std::size_t i = 2; i < path.size(); ++i) {
        if (path[i] == Char('\\') && path[out - 1] == Char('\\')) continue;
        path[out++] = path[i];
    }
    path.resize(out);
}

// True for paths shorter than 3 characters (4 when quoted, the quote skipped);
// false only for "X:\..." and "\\...".
template <typename Char>
bool isRelativePath(const std::basic_string<Char>& path) {
    std::size_t start = 0;
    if (!path.empty() && path[0] == Char('"')) {
        if (path.size() < 4) return true;
        start = 1;
    } else if (path.size() < 3) {
        return true;
    }
    if (path[start + 1] == Char(':') && path[start + 2] == Char('\\')) return false;
    if (path[start] == Char('\\') && path[start + 1] == Char('\\')) return false;
    return true;
}

// Lower-cases A to Z only.
template <typename Char>
std::basic_string<Char> lowerAscii(std::basic_string<Char> text) {
    for (auto& c : text)
        if (c >= Char('A') && c <= Char('Z')) c = Char(c - Char('A') + Char('a'));
    return text;
}

// At least 5 characters and ending in ".exe", without regard to case.
bool isExecutableName(const std::string& path);

// A drive root: from the second character on exactly ":\", ":\." or ":\.\.".
template <typename Char>
bool isDriveRoot(const std::basic_string<Char>& path) {
    if (path.size() < 3) return false;
    std::basic_string<Char> rest = path.substr(1);
    auto equals = [&](const char* s) {
        std::size_t n = 0;
        while (s[n]) ++n;
        if (rest.size() != n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (rest[i] != Char(s[i])) return false;
        return true;
    };
    return equals(":\\") || equals(":\\.") || equals(":\\.\\.");
}

// The directory part of a path including its trailing backslash ("" when the
// path has no backslash).
template <typename Char>
std::basic_string<Char> directoryOf(const std::basic_string<Char>& path) {
    std::size_t slash = path.find_last_of(Char('\\'));
    if (slash == std::basic_string<Char>::npos) return {};
    return path.substr(0, slash + 1);
}

// `makeAbsolute` without the file system: a relative path is put after
// `directory` (which ends with a backslash), an absolute one stays; then
// doubled backslashes are collapsed.
template <typename Char>
std::basic_string<Char> resolveAgainst(const std::basic_string<Char>& directory, const std::basic_string<Char>& path) {
    std::basic_string<Char> out = isRelativePath(path) ? directory + path : path;
    collapseBackslashes(out);
    return out;
}

// The answer of the command interpreter's short-name query: the text up to the
// first line end when the exit code is 0, more than 5 bytes were read and a line
// end exists; otherwise "" (no answer).
std::string shortNameFromInterpreter(const std::string& output, unsigned long exitCode);
