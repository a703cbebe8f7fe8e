// Paths and values Windows writes into a caller's buffer, in the 8-bit (char,
// the file code page) or the UTF-16 (wchar_t) form, each fetched through the
// bounded rule of system_text.h: the whole text of fewer than `limit`
// characters, or "" when Windows gives no answer or a longer one.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>

#include "launcher/system_text.h"

namespace system_paths_detail {

template <typename Char>
using String = std::basic_string<Char>;

inline DWORD capacityOf(std::size_t size) { return static_cast<DWORD>(size); }

}  // namespace system_paths_detail

// GetLongPathName: the long form of an existing path.
template <typename Char>
std::basic_string<Char> longPathName(const std::basic_string<Char>& path, std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [&](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetLongPathNameA(path.c_str(), buffer, capacityOf(size));
            else
                return GetLongPathNameW(path.c_str(), buffer, capacityOf(size));
        },
        limit);
}

// GetShortPathName: the 8.3 form of an existing path.
template <typename Char>
std::basic_string<Char> shortPathName(const std::basic_string<Char>& path, std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [&](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetShortPathNameA(path.c_str(), buffer, capacityOf(size));
            else
                return GetShortPathNameW(path.c_str(), buffer, capacityOf(size));
        },
        limit);
}

// GetFullPathName: the path made full against the current directory.
template <typename Char>
std::basic_string<Char> fullPathName(const std::basic_string<Char>& path, std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [&](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetFullPathNameA(path.c_str(), capacityOf(size), buffer, nullptr);
            else
                return GetFullPathNameW(path.c_str(), capacityOf(size), buffer, nullptr);
        },
        limit);
}

// The value of an environment variable ("" when it is not set or empty).
template <typename Char>
std::basic_string<Char> environmentValue(const Char* name, std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [&](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetEnvironmentVariableA(name, buffer, capacityOf(size));
            else
                return GetEnvironmentVariableW(name, buffer, capacityOf(size));
        },
        limit);
}

// GetTempPath: the user's temporary directory, with its trailing backslash.
template <typename Char>
std::basic_string<Char> tempPath(std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetTempPathA(capacityOf(size), buffer);
            else
                return GetTempPathW(capacityOf(size), buffer);
        },
        limit);
}

// GetWindowsDirectory.
template <typename Char>
std::basic_string<Char> windowsDirectory(std::size_t limit = kTextLimit) {
    return systemTextOrEmpty<Char>(
        [](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetWindowsDirectoryA(buffer, static_cast<UINT>(size));
            else
                return GetWindowsDirectoryW(buffer, static_cast<UINT>(size));
        },
        limit);
}

// GetSystemDirectory.
template <typename Char>
std::basic_string<Char> systemDirectory(std::size_t limit = kTextLimit) {
    return systemTextOrEmpty<Char>(
        [](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetSystemDirectoryA(buffer, static_cast<UINT>(size));
            else
                return GetSystemDirectoryW(buffer, static_cast<UINT>(size));
        },
        limit);
}

// GetCurrentDirectory.
template <typename Char>
std::basic_string<Char> currentDirectory(std::size_t limit = kTextLimit) {
    using system_paths_detail::capacityOf;
    return systemTextOrEmpty<Char>(
        [](Char* buffer, std::size_t size) {
            if constexpr (std::is_same_v<Char, char>)
                return GetCurrentDirectoryA(capacityOf(size), buffer);
            else
                return GetCurrentDirectoryW(capacityOf(size), buffer);
        },
        limit);
}
