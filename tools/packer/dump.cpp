#include "tools/packer/dump.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launcher/block_format.h"
#include "launcher/config_ids.h"
#include "tools/packer/errors.h"
#include "tools/packer/file_io.h"
#include "tools/packer/pe_image.h"
#include "tools/packer/text.h"

namespace packer {
namespace {

std::string hex32(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08x", static_cast<unsigned>(value));
    return buffer;
}

// Little-endian reads from the current position; a short read is a
// truncated installer and throws PackError naming the field.
class BlockReader {
public:
    explicit BlockReader(InputFile& file) : file_(file) {}

    std::int64_t position() const { return file_.position(); }

    std::uint64_t readUnsigned(int bytes, const std::string& what) {
        unsigned char data[8];
        std::int64_t at = file_.position();
        if (!file_.readExact(data, static_cast<std::size_t>(bytes))) truncated(at, what);
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t{data[i]} << (8 * i);
        return value;
    }
    std::int32_t readInt(const std::string& what) { return static_cast<std::int32_t>(readUnsigned(4, what)); }
    std::int64_t readLong(const std::string& what) { return static_cast<std::int64_t>(readUnsigned(8, what)); }

    // An int32 length and that many bytes.
    std::string readCounted(const std::string& what) {
        std::int64_t at = file_.position();
        std::int32_t length = readInt(what + " length");
        if (length < 0)
            throw PackError(file_.path().string() + ": " + what + " at offset " + std::to_string(at) +
                            " has a negative length (" + std::to_string(length) + ")");
        if (file_.position() + length > file_.size()) truncated(at, what);
        std::string bytes(static_cast<std::size_t>(length), '\0');
        file_.readExact(bytes.data(), bytes.size());
        return bytes;
    }

    // A message text: n bytes of which the launcher uses n/2 UTF-16 code units.
    std::u16string readWide(const std::string& what) {
        std::string bytes = readCounted(what);
        std::u16string text(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        return text;
    }

    [[noreturn]] void truncated(std::int64_t at, const std::string& what) const {
        throw PackError(file_.path().string() + ": truncated installer: file ends (" + std::to_string(file_.size()) +
                        " bytes) inside " + what + " at offset " + std::to_string(at));
    }

private:
    InputFile& file_;
};

// CRC-32 of up to length bytes from offset; stops at the end of the file.
std::uint32_t crcOfRange(InputFile& file, std::int64_t offset, std::int64_t length) {
    uLong crc = crc32(0, Z_NULL, 0);
    std::vector<unsigned char> buffer(kCopyBufferSize);
    file.seek(offset);
    while (length > 0) {
        std::size_t got = file.readSome(buffer.data(), static_cast<std::size_t>(std::min<std::int64_t>(
                                                           length, static_cast<std::int64_t>(buffer.size()))));
        if (got == 0) break;
        crc = crc32_z(crc, buffer.data(), got);
        length -= static_cast<std::int64_t>(got);
    }
    return static_cast<std::uint32_t>(crc);
}

void dumpMessage(std::ostream& out, BlockReader& reader, const std::string& prefix, const std::string& where) {
    std::int32_t id = reader.readInt(where + " id");
    std::u16string text = reader.readWide("message[" + std::to_string(id) + "] (" + where + ")");
    out << prefix << "message[" << id << "] = \"" << escapeUtf16(text) << "\"\n";
}

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t semicolon; (semicolon = list.find(';', start)) != std::string::npos; start = semicolon + 1)
        names.push_back(list.substr(start, semicolon - start));
    names.push_back(list.substr(start));
    return names;
}

}  // namespace

void dumpInstaller(const std::filesystem::path& path, std::ostream& out) {
    InputFile file(path);
    const std::string name = path.string();
    const ImageEnd image = locateImageEnd(file);
    const std::int64_t blockStart = image.offset;
    out << "image_end: " << blockStart << "\n";
    // A signed installer ends with its certificate table; the block's data
    // must end before it.
    const std::optional<CertificateTable> signature = findCertificateTable(file, image);
    const bool signatureInFile = signature && signature->offset >= blockStart && signature->end() <= file.size();
    const std::int64_t contentEnd = signatureInFile ? signature->offset : file.size();

    if (blockStart == file.size()) throw PackError(name + ": no installer block: the file ends with its last section");
    BlockReader reader(file);
    file.seek(blockStart);
    std::uint32_t magic = static_cast<std::uint32_t>(reader.readUnsigned(4, "the block magic"));
    if (magic != block::kMagic) {
        out << "magic: " << hex32(magic) << " (not an installer block)\n";
        throw PackError(name + ": no installer block after the last section (magic " + hex32(magic) + ")");
    }
    out << "magic: " << hex32(magic) << "\n";
    std::int32_t flag = reader.readInt("the integrity flag");
    out << "integrity_flag: " << flag << "\n";
    std::uint32_t expected = static_cast<std::uint32_t>(reader.readUnsigned(4, "the CRC"));
    std::int64_t coveredLength = reader.readLong("the covered length");

    const std::int64_t coveredStart = blockStart + block::kCoveredStart;
    // A damaged length can be anything; keep the end arithmetic from overflowing.
    std::int64_t coveredEnd = 0;
    const bool coveredEndValid = !__builtin_add_overflow(coveredStart, coveredLength, &coveredEnd);
    std::uint32_t computed = crcOfRange(file, coveredStart, coveredLength);
    out << "crc: " << hex32(expected)
        << (computed == expected ? std::string(" (ok)") : " (MISMATCH, computed " + hex32(computed) + ")") << "\n";
    out << "covered_length: " << coveredLength << "\n";

    // Records in file order; a later record of the same id wins, as in the launcher.
    file.seek(coveredStart);
    std::map<std::int32_t, std::string> config;
    std::int32_t count = reader.readInt("the config record count");
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t id = reader.readInt("config record " + std::to_string(i) + " id");
        std::string text = reader.readCounted("config[" + std::to_string(id) + "]");
        out << "config[" << id << "] = \"" << escapeBytes(text) << "\"\n";
        config[id] = text;
    }
    count = reader.readInt("the message record count");
    for (std::int32_t i = 0; i < count; ++i) dumpMessage(out, reader, "", "message record " + std::to_string(i));
    count = reader.readInt("the locale block count");
    for (std::int32_t i = 0; i < count; ++i) {
        std::string where = "locale block " + std::to_string(i);
        std::string locale = reader.readCounted(where + " name");
        std::int32_t messages = reader.readInt(where + " message count");
        for (std::int32_t k = 0; k < messages; ++k)
            dumpMessage(out, reader,
                        "locale \"" + escapeBytes(locale) + "\": ", where + " message record " + std::to_string(k));
    }
    const std::int64_t payloadOffset = reader.position();
    out << "payload_offset: " << payloadOffset << "\n";

    // The payload walk of the launcher's extraction: names from id 2003 while
    // a name remains, is non-empty and fewer than id 2002 files are handled.
    const std::int32_t payloadCount = configInt(config[config::kPayloadCount]);
    const std::vector<std::string> names = splitNames(config[config::kPayloadNames]);
    std::int64_t position = payloadOffset;
    for (std::size_t index = 0;
         index < names.size() && !names[index].empty() && static_cast<std::int64_t>(index) < payloadCount; ++index) {
        const std::string where = "payload[" + std::to_string(index) + "] \"" + escapeBytes(names[index]) + "\"";
        std::int64_t size = reader.readLong(where + " size");
        out << where << ": offset " << position << " size " << size << "\n";
        const std::int64_t skip = std::max<std::int64_t>(size, 0);
        if (skip > file.size() - reader.position())
            throw PackError(name + ": truncated installer: " + where + " needs " + std::to_string(skip) + " bytes, " +
                            std::to_string(file.size() - reader.position()) + " remain");
        position = reader.position() + skip;
        file.seek(position);
    }
    out << "unextractedPosition: " << position << "\n";
    std::int64_t javaDataLength = 0;
    if (coveredEndValid && !__builtin_sub_overflow(coveredEnd, position, &javaDataLength))
        out << "java_data_length: " << javaDataLength << "\n";
    else
        out << "java_data_length: (covered length " << coveredLength << " is out of range)\n";
    out << "file_length: " << file.size() << "\n";
    if (signature)
        out << "certificate_table: offset " << signature->offset << " size " << signature->size
            << (signatureInFile ? "" : " (outside the appended data)") << "\n";
    if (!coveredEndValid || coveredEnd > contentEnd)
        throw PackError(
            name + ": truncated installer: the covered range ends at offset " + std::to_string(coveredEnd) +
            (contentEnd == file.size() ? ", past the end of the file" : ", past the start of the certificate table"));
}

}  // namespace packer
