// The handle natives' decisions that need no Windows: reading the system
// handle table and the counted strings the object manager answers with,
// bounded by the bytes that were actually returned, and which handles are
// listed.  The table and the strings are laid out by the pointer width of
// the process that asked (4 or 8 bytes), so a 64-bit build reads the 64-bit
// layout; both are plain bytes here and build on any host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace handles {

// One entry of the system handle table (information class 16).
struct HandleEntry {
    std::uint32_t pid = 0;
    std::uint8_t objectType = 0;
    std::uint8_t flags = 0;
    std::uint16_t handle = 0;
    std::uint32_t grantedAccess = 0;
    bool operator==(const HandleEntry& other) const {
        return pid == other.pid && objectType == other.objectType && flags == other.flags && handle == other.handle &&
               grantedAccess == other.grantedAccess;
    }
};

// Bytes of the count before the first entry and of one entry, by pointer
// width: 4 and 16 for 32-bit processes; 8 and 24 for 64-bit ones (the entry's
// object address is a pointer, aligned to its size).
std::size_t tableHeaderBytes(std::size_t pointerBytes);
std::size_t tableEntryBytes(std::size_t pointerBytes);

// The entries of a handle table as returned in `data` (`size` bytes valid).
// The count comes from the table, but only entries that lie wholly inside
// the valid bytes are read: a count larger than the data cuts the list, it is
// never read past.  None when `size` cannot hold the count or the pointer
// width is neither 4 nor 8.
std::optional<std::vector<HandleEntry>> parseHandleTable(const unsigned char* data, std::size_t size,
                                                         std::size_t pointerBytes);

// The buffer for the table starts at this size and doubles while the table
// does not fit, up to the limit; a table that needs more is not read.
constexpr std::size_t kFirstTableBytes = 65536;
constexpr std::size_t kTableLimitBytes = std::size_t{128} << 20;
// The next size after `current`, or none past the limit.
std::optional<std::size_t> nextTableBytes(std::size_t current);

// A counted string (Length, MaximumLength, then a pointer to the characters)
// at the start of an answer of `size` bytes that was written at address
// `base`.  The characters are taken only when the pointer and Length lie
// inside the answer: none otherwise, also for a Length that is odd.  A null
// pointer with Length 0 is the empty string.
std::optional<std::u16string> readCountedString(const unsigned char* data, std::size_t size, std::uintptr_t base,
                                                std::size_t pointerBytes);

// The access mask that marks handles whose name is not asked for (a name
// query on some of them never returns), and whether a handle is listed: its
// name was read and is not empty, and its type name is exactly "File".
constexpr std::uint32_t kUnqueriedAccess = 0x0012019F;
bool isFileType(std::u16string_view typeName);
bool isListedHandle(std::u16string_view typeName, std::u16string_view name);

// Object names answered with at most this many bytes are accepted: a
// counted string holds at most 65,535 bytes of characters.
constexpr std::size_t kNameAnswerLimitBytes = 65536 + 64;

// The byte length of a counted string of `chars` characters, or none when it
// would not fit 16 bits.
std::optional<std::uint16_t> countedBytes(std::size_t chars);
// The buffer size for a symbolic link's target that was reported as
// `reportedBytes`: two more bytes for a NUL, or none when that does not fit
// 16 bits.
std::optional<std::uint16_t> linkTargetBufferBytes(std::uint32_t reportedBytes);

}  // namespace handles
