// The registry natives' decisions that need no Windows: the Java side's root,
// view and type codes, the 100,000-byte value buffer with its cutting and
// refusing rules, and REG_SZ and REG_MULTI_SZ data in both directions (key
// paths are launcher/registry_path.h).  Text is UTF-16 as char16_t (wchar_t
// on Windows has the same layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

// Registry value types, numbered as Windows numbers them.
constexpr std::uint32_t kTypeString = 1;        // REG_SZ
constexpr std::uint32_t kTypeExpandString = 2;  // REG_EXPAND_SZ
constexpr std::uint32_t kTypeBinary = 3;        // REG_BINARY
constexpr std::uint32_t kTypeDword = 4;         // REG_DWORD
constexpr std::uint32_t kTypeMultiString = 7;   // REG_MULTI_SZ

// Every value is read and written through one buffer of this many bytes.
constexpr std::size_t kValueBufferBytes = 100000;
constexpr std::size_t kValueBufferChars = kValueBufferBytes / 2;
// A string written as REG_SZ or REG_EXPAND_SZ keeps at most this many
// characters, so that it and its NUL fill the buffer.
constexpr std::size_t kMaxStringChars = kValueBufferChars - 1;

using Bytes = std::vector<unsigned char>;

// The roots the Java side names by 1 to 5.
enum class Root { classesRoot, currentUser, localMachine, users, currentConfig };
// The root of a Java root code; any code outside 1 to 5 names none.
std::optional<Root> rootForCode(int code);

// The registry type that setValue0's type code writes: 1 REG_SZ,
// 2 REG_DWORD, 3 REG_MULTI_SZ, 4 REG_BINARY, 5 REG_EXPAND_SZ; others none.
std::optional<std::uint32_t> typeForCode(int code);

// REG_SZ / REG_EXPAND_SZ data as text: size / 2 characters, less one
// trailing NUL when there is one.  Inner NULs and a second trailing NUL stay.
std::u16string decodeString(const unsigned char* data, std::size_t size);

// REG_MULTI_SZ data as its strings: NUL-terminated strings are taken from the
// start while the position lies before the data's last character, so the
// list's closing NUL yields no element and an empty string between two NULs
// is one.  Data cut short keeps its text: a last string without its NUL ends
// at the end of the data, even when it is the last character.
std::vector<std::u16string> decodeMultiString(const unsigned char* data, std::size_t size);

// REG_DWORD data as a signed 32-bit integer (little-endian); none when the
// data is shorter than four bytes.
std::optional<std::int32_t> decodeDword(const unsigned char* data, std::size_t size);

// REG_SZ / REG_EXPAND_SZ data of a text: its first kMaxStringChars characters
// (inner NULs included) and a NUL.
Bytes encodeString(std::u16string_view text);

// REG_DWORD data of an integer.
Bytes encodeDword(std::int32_t value);

// REG_BINARY data: the first kValueBufferBytes bytes.
Bytes encodeBinary(const unsigned char* data, std::size_t size);

// Builds REG_MULTI_SZ data element by element within the value buffer.
class MultiStringBuilder {
public:
    // Appends an element and its NUL.  Refuses (false, nothing appended) an
    // empty element, which the data cannot hold, an element with a NUL inside,
    // which would read back as two, and an element that would leave no room
    // for its NUL and the closing NUL.
    bool add(std::u16string_view element);
    // The data: the elements with their NULs and the closing NUL; a list
    // without elements is a single NUL.
    Bytes finish() const;

private:
    std::u16string text_;
};

}  // namespace registry
