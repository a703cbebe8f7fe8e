// Text conversions between the manifest's UTF-8, the block's 8-bit and
// UTF-16LE texts, and the escaped form the dump prints.  Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace packer {

// UTF-8 to 8-bit text, one byte per character.  Throws PackError, prefixed
// with field, for malformed UTF-8 or a character above U+00FF.
std::string utf8ToLatin1(std::string_view utf8, const std::string& field);

// UTF-8 to UTF-16 (surrogate pairs above U+FFFF).  Throws PackError, prefixed
// with field, for malformed UTF-8.
std::u16string utf8ToUtf16(std::string_view utf8, const std::string& field);

// Quoted-string body for the dump: 8-bit text with \n, \t, \\, \" and every
// byte outside printable ASCII as \xNN.
std::string escapeBytes(std::string_view bytes);

// Quoted-string body for the dump: UTF-16 text as UTF-8, with control
// characters escaped as in escapeBytes and unpaired surrogates as \uNNNN.
std::string escapeUtf16(std::u16string_view text);

// A configuration value read as an integer, the way the launcher reads it:
// at most the first 5,999 bytes, optional leading white space and sign, then
// decimal digits up to the first other character; 0 without digits.  Values
// beyond the int32 range are clamped.
std::int32_t configInt(std::string_view text);

}  // namespace packer
