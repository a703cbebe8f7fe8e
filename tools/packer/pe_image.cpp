#include "tools/packer/pe_image.h"

#include <cstring>
#include <string>

#include "launcher/block_format.h"
#include "tools/packer/errors.h"

namespace packer {
namespace {

template <typename T>
T readAt(InputFile& file, std::int64_t offset, const char* field) {
    unsigned char bytes[sizeof(T)];
    if (offset < 0 || offset + static_cast<std::int64_t>(sizeof(T)) > file.size())
        throw PackError(file.path().string() + ": not a PE executable (" + field + " at offset " +
                        std::to_string(offset) + " lies outside the file)");
    file.seek(offset);
    if (!file.readExact(bytes, sizeof bytes))
        throw PackError(file.path().string() + ": file ended while reading " + field);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
    return static_cast<T>(value);
}

}  // namespace

ImageEnd locateImageEnd(InputFile& file) {
    const std::string name = file.path().string();
    char signature[4] = {};
    if (file.size() < 2 || (file.seek(0), !file.readExact(signature, 2)) || std::memcmp(signature, "MZ", 2) != 0)
        throw PackError(name + ": not a PE executable (no \"MZ\" signature)");

    ImageEnd image;
    image.peHeaderOffset = readAt<std::int32_t>(file, block::kPeHeaderOffsetField, "the PE header offset");
    const std::int64_t header = image.peHeaderOffset;
    if (header < 0 || header + 4 > file.size() || (file.seek(header), !file.readExact(signature, 4)) ||
        std::memcmp(signature, "PE\0\0", 4) != 0)
        throw PackError(name + ": not a PE executable (no \"PE\\0\\0\" signature at offset " + std::to_string(header) +
                        ")");

    image.sectionCount = readAt<std::int16_t>(file, header + block::kSectionCountField, "the section count");
    if (image.sectionCount <= 0)
        throw PackError(name + ": PE header declares " + std::to_string(image.sectionCount) + " sections");
    image.optionalHeaderSize =
        readAt<std::int16_t>(file, header + block::kOptionalHeaderSizeField, "the optional header size");
    if (image.optionalHeaderSize < 0) throw PackError(name + ": PE header declares a negative optional header size");

    // header + O + 40*S lands kLastSectionHeaderBias bytes into the last
    // section header, on its SizeOfRawData; PointerToRawData follows.
    const std::int64_t lastEntry = header + image.optionalHeaderSize + block::kSectionHeaderSize * image.sectionCount;
    image.lastRawDataSize = readAt<std::int32_t>(file, lastEntry, "the last section's raw data size");
    image.lastRawDataOffset = readAt<std::int32_t>(file, lastEntry + 4, "the last section's raw data offset");
    if (image.lastRawDataSize < 0 || image.lastRawDataOffset < 0)
        throw PackError(name + ": last section has a negative raw data size or offset");
    image.offset = std::int64_t{image.lastRawDataSize} + image.lastRawDataOffset;

    const std::int64_t sectionTableEnd = lastEntry - block::kLastSectionHeaderBias + block::kSectionHeaderSize;
    if (image.offset < sectionTableEnd)
        throw PackError(name + ": last section's raw data ends at " + std::to_string(image.offset) +
                        ", inside the headers");
    if (image.offset > file.size())
        throw PackError(name + ": last section's raw data ends at " + std::to_string(image.offset) +
                        ", past the end of the file (" + std::to_string(file.size()) + " bytes)");
    return image;
}

}  // namespace packer
