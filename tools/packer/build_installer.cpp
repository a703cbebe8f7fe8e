#include "tools/packer/build_installer.h"

#include <zlib.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "launcher/block_format.h"
#include "tools/packer/errors.h"
#include "tools/packer/file_io.h"
#include "tools/packer/pe_image.h"

namespace packer {
namespace {

// The header is written as magic, flag and twelve placeholder bytes, which are
// patched in one piece at the end.
static_assert(block::kCrcField == 8 && block::kCoveredLengthField == block::kCrcField + 4 &&
                  block::kHeaderSize == block::kCoveredLengthField + 8 && block::kCoveredStart == block::kHeaderSize,
              "header layout assumed by buildInstaller");

void appendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void appendInt32(std::string& out, std::int64_t value, const std::string& what) {
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw PackError(what + " (" + std::to_string(value) + ") does not fit a 32-bit field");
    appendLittleEndian(out, static_cast<std::uint64_t>(value), 4);
}

void appendInt64(std::string& out, std::int64_t value) {
    appendLittleEndian(out, static_cast<std::uint64_t>(value), 8);
}

void appendMessageRecords(std::string& out, const std::map<std::int32_t, std::u16string>& messages,
                          const std::string& where) {
    appendInt32(out, static_cast<std::int64_t>(messages.size()), where + " count");
    for (const auto& [id, text] : messages) {
        appendInt32(out, id, "message id");
        appendInt32(out, 2 * static_cast<std::int64_t>(text.size()), where + "[" + std::to_string(id) + "] length");
        for (char16_t unit : text) appendLittleEndian(out, unit, 2);
    }
}

// The covered range of the block: everything written through it goes into
// the CRC-32 and the covered length.
class CoveredWriter {
public:
    explicit CoveredWriter(AtomicOutputFile& out) : out_(out) {}

    void write(const void* data, std::size_t n) {
        out_.write(data, n);
        crc_ = crc32_z(crc_, static_cast<const Bytef*>(data), n);
        length_ += static_cast<std::int64_t>(n);
    }
    void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }

    std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
    std::int64_t length() const { return length_; }

private:
    AtomicOutputFile& out_;
    uLong crc_ = crc32(0, Z_NULL, 0);
    std::int64_t length_ = 0;
};

// Streams exactly count bytes of file to write(chunk, n); the file shrinking
// meanwhile is an error.
template <typename Write>
void streamFile(InputFile& file, std::int64_t count, std::vector<unsigned char>& buffer, Write write) {
    while (count > 0) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(buffer.size())));
        std::size_t got = file.readSome(buffer.data(), want);
        if (got == 0)
            throw PackError(file.path().string() + ": file ended early (" + std::to_string(count) +
                            " bytes missing); was it changed while packing?");
        write(buffer.data(), got);
        count -= static_cast<std::int64_t>(got);
    }
}

void writePayloadFile(CoveredWriter& covered, const PayloadEntry& entry, std::vector<unsigned char>& buffer) {
    auto scrambleAndWrite = [&](unsigned char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) data[i] ^= block::kPayloadKey;
        covered.write(data, n);
    };
    std::string sizeField;
    if (!entry.source) {
        appendInt64(sizeField, static_cast<std::int64_t>(entry.content.size()));
        covered.write(sizeField);
        std::string scrambled = entry.content;
        scrambleAndWrite(reinterpret_cast<unsigned char*>(scrambled.data()), scrambled.size());
        return;
    }
    InputFile file(*entry.source);
    appendInt64(sizeField, file.size());
    covered.write(sizeField);
    streamFile(file, file.size(), buffer, scrambleAndWrite);
}

}  // namespace

std::string encodeRecords(const InstallerPlan& plan) {
    std::string out;
    appendInt32(out, static_cast<std::int64_t>(plan.config.size()), "config count");
    for (const auto& [id, text] : plan.config) {
        appendInt32(out, id, "config id");
        appendInt32(out, static_cast<std::int64_t>(text.size()), "config[" + std::to_string(id) + "] length");
        out += text;
    }
    appendMessageRecords(out, plan.messages, "messages");
    appendInt32(out, static_cast<std::int64_t>(plan.locales.size()), "locale count");
    for (const LocaleBlock& locale : plan.locales) {
        appendInt32(out, static_cast<std::int64_t>(locale.name.size()), "locale name length");
        out += locale.name;
        appendMessageRecords(out, locale.messages, "locale \"" + locale.name + "\" messages");
    }
    return out;
}

BuildNotes buildInstaller(const std::filesystem::path& stubPath, const InstallerPlan& plan,
                          const std::filesystem::path& output) {
    InputFile stub(stubPath);
    const ImageEnd image = locateImageEnd(stub);
    const std::int64_t imageEnd = image.offset;
    BuildNotes notes;
    notes.removedSignature = findCertificateTable(stub, image);
    if (notes.removedSignature)
        checkRemovableCertificateTable(stub, image, *notes.removedSignature);
    else if (imageEnd != stub.size())
        throw PackError(stubPath.string() + ": stub has " + std::to_string(stub.size() - imageEnd) +
                        " bytes after its last section; a stripped stub is needed");

    // Fail on a missing source now, before an output file exists.
    for (std::size_t i = 0; i < plan.payload.size(); ++i)
        if (plan.payload[i].source)
            requireReadableFile(*plan.payload[i].source,
                                "payload[" + std::to_string(i) + "] \"" + plan.payload[i].name + "\"");
    if (plan.javaData) requireReadableFile(*plan.javaData, "java_data");
    const std::string records = encodeRecords(plan);

    AtomicOutputFile out(output);
    std::vector<unsigned char> buffer(kCopyBufferSize);

    stub.seek(0);
    streamFile(stub, imageEnd, buffer, [&](const unsigned char* data, std::size_t n) { out.write(data, n); });
    if (notes.removedSignature) {
        // The checksum a signing tool wrote covered the table too; the stub's
        // own is the one over its image without the signature.
        const unsigned char zeros[8] = {};
        out.patch(notes.removedSignature->entryOffset, zeros, sizeof zeros);
        std::string checksum;
        appendLittleEndian(checksum, checksumWithoutSignature(stub, imageEnd, *notes.removedSignature), 4);
        out.patch(notes.removedSignature->checksumOffset, checksum.data(), checksum.size());
    }

    // Header; the CRC and covered length are filled in once the range is written.
    std::string header;
    appendLittleEndian(header, block::kMagic, 4);
    appendInt32(header, plan.integrityFlag, "integrity flag");
    header.append(static_cast<std::size_t>(block::kHeaderSize - block::kCrcField), '\0');
    out.write(header.data(), header.size());

    CoveredWriter covered(out);
    covered.write(records);
    for (const PayloadEntry& entry : plan.payload) writePayloadFile(covered, entry, buffer);
    if (plan.javaData) {
        InputFile javaData(*plan.javaData);
        streamFile(javaData, javaData.size(), buffer,
                   [&](const unsigned char* data, std::size_t n) { covered.write(data, n); });
    }

    std::fill(buffer.begin(), buffer.end(), 0);
    for (std::uint64_t left = plan.trailingZeros; left > 0;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        out.write(buffer.data(), n);
        left -= n;
    }

    std::string crcAndLength;
    appendLittleEndian(crcAndLength, covered.crc(), 4);
    appendInt64(crcAndLength, covered.length());
    out.patch(imageEnd + block::kCrcField, crcAndLength.data(), crcAndLength.size());
    out.commit();
    return notes;
}

}  // namespace packer
