#include "natives/handle_table.h"

namespace handles {

namespace {

std::uint64_t readLittleEndian(const unsigned char* data, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i > 0; --i) value = (value << 8) | data[i - 1];
    return value;
}

bool validPointerWidth(std::size_t pointerBytes) { return pointerBytes == 4 || pointerBytes == 8; }

}  // namespace

std::size_t tableHeaderBytes(std::size_t pointerBytes) { return pointerBytes == 8 ? 8 : 4; }

std::size_t tableEntryBytes(std::size_t pointerBytes) { return pointerBytes == 8 ? 24 : 16; }

std::optional<std::vector<HandleEntry>> parseHandleTable(const unsigned char* data, std::size_t size,
                                                         std::size_t pointerBytes) {
    if (!data || !validPointerWidth(pointerBytes) || size < 4) return std::nullopt;
    const std::size_t header = tableHeaderBytes(pointerBytes);
    const std::size_t entryBytes = tableEntryBytes(pointerBytes);
    const std::uint64_t count = readLittleEndian(data, 4);
    const std::size_t fitting = size < header ? 0 : (size - header) / entryBytes;
    const std::size_t taken = count < fitting ? static_cast<std::size_t>(count) : fitting;
    std::vector<HandleEntry> entries;
    entries.reserve(taken);
    for (std::size_t i = 0; i < taken; ++i) {
        const unsigned char* entry = data + header + i * entryBytes;
        HandleEntry e;
        e.pid = static_cast<std::uint32_t>(readLittleEndian(entry, 4));
        e.objectType = entry[4];
        e.flags = entry[5];
        e.handle = static_cast<std::uint16_t>(readLittleEndian(entry + 6, 2));
        // entry + 8: the object's address, one pointer wide; not used.
        e.grantedAccess = static_cast<std::uint32_t>(readLittleEndian(entry + 8 + pointerBytes, 4));
        entries.push_back(e);
    }
    return entries;
}

std::optional<std::size_t> nextTableBytes(std::size_t current) {
    if (current == 0 || current > kTableLimitBytes / 2) return std::nullopt;
    return current * 2;
}

std::optional<std::u16string> readCountedString(const unsigned char* data, std::size_t size, std::uintptr_t base,
                                                std::size_t pointerBytes) {
    if (!data || !validPointerWidth(pointerBytes) || size < 2 * pointerBytes) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(readLittleEndian(data, 2));
    const std::uint64_t pointer = readLittleEndian(data + pointerBytes, pointerBytes);
    if (length % 2 != 0) return std::nullopt;
    if (length == 0) return std::u16string();
    if (pointer < base || pointer - base > size || size - (pointer - base) < length) return std::nullopt;
    const unsigned char* chars = data + (pointer - base);
    std::u16string text(length / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(readLittleEndian(chars + 2 * i, 2));
    return text;
}

bool isFileType(std::u16string_view typeName) { return typeName == u"File"; }

bool isListedHandle(std::u16string_view typeName, std::u16string_view name) {
    return !name.empty() && isFileType(typeName);
}

std::optional<std::uint16_t> countedBytes(std::size_t chars) {
    if (chars > 0xFFFF / 2) return std::nullopt;
    return static_cast<std::uint16_t>(chars * 2);
}

std::optional<std::uint16_t> linkTargetBufferBytes(std::uint32_t reportedBytes) {
    if (reportedBytes > 0xFFFF - 2) return std::nullopt;
    return static_cast<std::uint16_t>(reportedBytes + 2);
}

}  // namespace handles
