#include "tools/packer/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/block_format.h"
#include "tools/packer/errors.h"

namespace packer {
namespace {

// Optional header fields, relative to its start (24 bytes after "PE\0\0").
constexpr std::int64_t kOptionalHeaderStart = 24;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::int64_t kChecksumField = 64;
// NumberOfRvaAndSizes; the data directories follow it.
constexpr std::int64_t kDirectoryCountField32 = 92;
constexpr std::int64_t kDirectoryCountFieldPlus = 108;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::int64_t kDirectoryEntrySize = 8;
// A certificate entry starts with its length (uint32, header included), its
// revision (uint16, 0x0100 or 0x0200) and its type (uint16).
constexpr std::uint32_t kCertificateHeaderSize = 8;
constexpr std::uint16_t kCertificateRevision1 = 0x0100;
constexpr std::uint16_t kCertificateRevision2 = 0x0200;

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

std::optional<CertificateTable> findCertificateTable(InputFile& file, const ImageEnd& image) {
    const std::int64_t optional = std::int64_t{image.peHeaderOffset} + kOptionalHeaderStart;
    if (image.optionalHeaderSize < 2) return std::nullopt;
    const auto magic = readAt<std::uint16_t>(file, optional, "the optional header magic");
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return std::nullopt;
    const std::int64_t countField = magic == kPe32Magic ? kDirectoryCountField32 : kDirectoryCountFieldPlus;
    const std::int64_t entry = countField + 4 + kDirectoryEntrySize * kSecurityDirectory;
    if (image.optionalHeaderSize < entry + kDirectoryEntrySize) return std::nullopt;
    if (readAt<std::uint32_t>(file, optional + countField, "the data directory count") <= kSecurityDirectory)
        return std::nullopt;

    CertificateTable table;
    table.entryOffset = optional + entry;
    table.checksumOffset = optional + kChecksumField;
    table.offset = readAt<std::uint32_t>(file, table.entryOffset, "the security directory address");
    table.size = readAt<std::uint32_t>(file, table.entryOffset + 4, "the security directory size");
    if (table.offset == 0 && table.size == 0) return std::nullopt;
    return table;
}

void checkRemovableCertificateTable(InputFile& file, const ImageEnd& image, const CertificateTable& table) {
    const std::string where = file.path().string() + ": the stub is signed, but its certificate table (offset " +
                              std::to_string(table.offset) + ", " + std::to_string(table.size) + " bytes) ";
    if (table.offset < image.offset)
        throw PackError(where + "starts inside the image, which ends at " + std::to_string(image.offset));
    if (table.end() != file.size())
        throw PackError(where + "does not end where the file does (" + std::to_string(file.size()) +
                        " bytes); something was appended after signing");

    // Signing tools pad the file to a multiple of eight bytes before the table.
    std::vector<unsigned char> buffer(kCopyBufferSize);
    file.seek(image.offset);
    for (std::int64_t at = image.offset; at < table.offset;) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(table.offset - at, static_cast<std::int64_t>(buffer.size())));
        if (!file.readExact(buffer.data(), want))
            throw PackError(file.path().string() + ": file ended while reading the bytes before the certificate table");
        for (std::size_t i = 0; i < want; ++i)
            if (buffer[i] != 0)
                throw PackError(where + "is preceded by data after the last section (non-zero byte at offset " +
                                std::to_string(at + static_cast<std::int64_t>(i)) + "), not by padding");
        at += static_cast<std::int64_t>(want);
    }

    std::uint32_t length = 0;
    std::uint16_t revision = 0;
    if (table.size >= kCertificateHeaderSize) {
        length = readAt<std::uint32_t>(file, table.offset, "the first certificate's length");
        revision = readAt<std::uint16_t>(file, table.offset + 4, "the first certificate's revision");
    }
    if (length < kCertificateHeaderSize || length > table.size ||
        (revision != kCertificateRevision1 && revision != kCertificateRevision2)) {
        char details[64];
        std::snprintf(details, sizeof details, "(first entry: length %u, revision 0x%04x)",
                      static_cast<unsigned>(length), static_cast<unsigned>(revision));
        throw PackError(where + "holds no certificate entry " + details);
    }
}

std::uint32_t checksumWithoutSignature(InputFile& file, std::int64_t length, const CertificateTable& table) {
    // Sum of the little-endian 16-bit words with the carry folded back in
    // (an odd last byte counts as a word of its own), plus the length.
    std::vector<unsigned char> buffer(kCopyBufferSize);  // even: words never straddle two reads
    std::uint64_t sum = 0;
    file.seek(0);
    for (std::int64_t at = 0; at < length;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(length - at, static_cast<std::int64_t>(buffer.size())));
        if (!file.readExact(buffer.data(), want))
            throw PackError(file.path().string() + ": file ended while computing its checksum");
        for (auto [from, count] :
             {std::pair{table.checksumOffset, std::int64_t{4}}, std::pair{table.entryOffset, kDirectoryEntrySize}})
            for (std::int64_t i = std::max(from, at); i < std::min(from + count, at + std::int64_t(want)); ++i)
                buffer[static_cast<std::size_t>(i - at)] = 0;
        for (std::size_t i = 0; i < want; i += 2) {
            sum += buffer[i] | (i + 1 < want ? buffer[i + 1] << 8 : 0);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        at += static_cast<std::int64_t>(want);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + static_cast<std::uint64_t>(length));
}

}  // namespace packer
