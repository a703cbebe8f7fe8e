// Character types shared by the launcher's portable core and its Windows layer.
//
// Windows hands the launcher UTF-16 text as wchar_t; the portable core is also
// built natively on Linux (for sanitizers and fuzzers), where wchar_t is 32 bits
// wide, so there the same code uses char16_t.  `wchar` and `wstring` name the
// UTF-16 code unit and string on both; W("...") makes a literal of that type.
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
using wchar = wchar_t;
#define W(s) L##s
#else
using wchar = char16_t;
#define W(s) u##s
#endif

using wstring = std::basic_string<wchar>;

// Texts and paths are handled in buffers of this many characters throughout.
constexpr std::size_t kTextLimit = 6000;

// Widens 8-bit text byte by byte: each byte becomes the code unit of the same
// value (the launcher's runtime stays in its default "C" locale).
inline wstring widenBytes(const std::string& text) {
    wstring out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(static_cast<wchar>(c));
    return out;
}

// The UTF-16LE text at the start of `bytes`: up to its first NUL, or up to
// the end when there is none (an odd last byte is no character).  Nothing is
// read beyond `size`: the bytes come from outside (registry data, the Java
// side) and need not end in a NUL.
inline wstring utf16TextBeforeNul(const unsigned char* bytes, std::size_t size) {
    wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto c = static_cast<wchar>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

// Length of a NUL-terminated UTF-16 string.
inline std::size_t wideLength(const wchar* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}
