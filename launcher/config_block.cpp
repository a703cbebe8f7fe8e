#include "launcher/config_block.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "launcher/block_format.h"
#include "launcher/log.h"

const wchar* readFailureText(ReadFailure failure) {
    switch (failure) {
        case ReadFailure::Int: return W("Internal Error: readInt");
        case ReadFailure::Short: return W("Internal Error: readShort");
        case ReadFailure::Long: return W("Internal Error: readLong");
        case ReadFailure::String: return W("Internal Error: readString");
        case ReadFailure::WString: return W("Internal Error: readWString");
        case ReadFailure::None: break;
    }
    return W("");
}

bool BlockReader::readExact(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error) {
    got = 0;
    error = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        std::uint32_t chunk = 0;
        if (!source_.read(bytes + got, size - got, chunk, error)) return false;
        if (chunk == 0) return false;
        got += chunk;
    }
    return true;
}

bool BlockReader::readInt(std::int32_t& value) {
    unsigned char bytes[4];
    std::uint32_t got, error;
    if (!readExact(bytes, 4, got, error)) {
        logMessage(W("error %d %d\n"), static_cast<int>(error), static_cast<int>(got));
        failure_ = ReadFailure::Int;
        return false;
    }
    value = static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                      static_cast<std::uint32_t>(bytes[3]) << 24);
    return true;
}

bool BlockReader::readShort(std::int16_t& value) {
    unsigned char bytes[2];
    std::uint32_t got, error;
    if (!readExact(bytes, 2, got, error)) {
        logMessage(W("error %d\n"), static_cast<int>(error));
        failure_ = ReadFailure::Short;
        return false;
    }
    value = static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

bool BlockReader::readLong(std::int64_t& value) {
    unsigned char bytes[8];
    std::uint32_t got, error;
    if (!readExact(bytes, 8, got, error)) {
        logMessage(W("error %d\n"), static_cast<int>(error));
        failure_ = ReadFailure::Long;
        return false;
    }
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | bytes[i];
    value = static_cast<std::int64_t>(v);
    return true;
}

namespace {

// Reads a length-prefixed byte string.  The buffer grows as bytes arrive, so a
// damaged length field cannot make the launcher allocate gigabytes up front.
bool readCounted(BlockReader& reader, std::vector<char>& bytes, ReadFailure& failure, ReadFailure onFailure) {
    std::int32_t length = 0;
    if (!reader.readInt(length)) {
        failure = ReadFailure::Int;
        return false;
    }
    bytes.clear();
    if (length < 0) {
        failure = onFailure;
        return false;
    }
    constexpr std::uint32_t kStep = 64 * 1024;
    std::uint32_t remaining = static_cast<std::uint32_t>(length);
    while (remaining > 0) {
        const std::uint32_t want = remaining < kStep ? remaining : kStep;
        const std::size_t at = bytes.size();
        bytes.resize(at + want);
        std::uint32_t got = 0, error = 0;
        std::uint32_t total = 0;
        while (total < want) {
            if (!reader.source().read(bytes.data() + at + total, want - total, got, error) || got == 0) {
                failure = onFailure;
                return false;
            }
            total += got;
        }
        remaining -= want;
    }
    return true;
}

}  // namespace

bool BlockReader::readString(std::string& value) {
    std::vector<char> bytes;
    if (!readCounted(*this, bytes, failure_, ReadFailure::String)) return false;
    value.assign(bytes.begin(), bytes.end());
    return true;
}

bool BlockReader::readWString(wstring& value) {
    std::vector<char> bytes;
    if (!readCounted(*this, bytes, failure_, ReadFailure::WString)) return false;
    value.clear();
    value.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        value.push_back(
            static_cast<wchar>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return true;
}

bool locateOverlay(BlockReader& reader) {
    ByteSource& source = reader.source();
    std::int32_t header = 0, rawSize = 0, rawOffset = 0;
    std::int16_t sections = 0, optionalSize = 0;

    if (!source.seek(block::kPeHeaderOffsetField) || !reader.readInt(header)) return false;
    if (!source.seek(header + block::kSectionCountField) || !reader.readShort(sections)) return false;
    logMessage(W("number of sections: %d"), sections);
    if (!source.seek(header + block::kOptionalHeaderSizeField) || !reader.readShort(optionalSize)) return false;
    logMessage(W("size of optional headers: %d"), optionalSize);

    const std::int64_t table = static_cast<std::int64_t>(header) + optionalSize + block::kSectionHeaderSize * sections;
    logMessage(W("resSectionTableStart: %d"), static_cast<int>(table - block::kLastSectionHeaderBias));
    if (!source.seek(table) || !reader.readInt(rawSize) || !reader.readInt(rawOffset)) return false;
    logMessage(W("rawDataSize: %d, rawDataOffset: %d"), rawSize, rawOffset);
    return source.seek(static_cast<std::int64_t>(rawSize) + rawOffset);
}

bool localeBlockApplies(const std::string& name, const std::string& localeCode) {
    return localeCode.compare(0, name.size(), name) == 0;
}

namespace {

bool readMessages(BlockReader& reader, std::map<std::int32_t, wstring>* target) {
    std::int32_t count = 0;
    if (!reader.readInt(count)) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int32_t id = 0;
        wstring text;
        if (!reader.readInt(id) || !reader.readWString(text)) return false;
        if (target) (*target)[id] = std::move(text);
    }
    return true;
}

}  // namespace

LoadResult readConfigurationBlock(BlockReader& reader, ConfigStore& store,
                                  const std::function<std::string()>& localeCode) {
    LoadResult result;
    std::int32_t magic = 0, flag = 0, crc = 0;
    std::int64_t covered = 0;
    if (!locateOverlay(reader)) {
        result.failure = reader.failure();
        return result;
    }
    // A stub without appended data ends right after its last section: no
    // magic there either.
    if (!reader.readInt(magic) || static_cast<std::uint32_t>(magic) != block::kMagic) {
        result.badMagic = true;
        return result;
    }
    std::int32_t count = 0;
    bool ok = reader.readInt(flag) && reader.readInt(crc) && reader.readLong(covered) && reader.readInt(count);
    for (std::int32_t i = 0; ok && i < count; ++i) {
        std::int32_t id = 0;
        std::string value;
        ok = reader.readInt(id) && reader.readString(value);
        if (ok) store.values[id] = std::move(value);
    }
    ok = ok && readMessages(reader, &store.messages);

    std::int32_t blocks = 0;
    if (ok) {
        const std::string locale = localeCode();
        store.language = locale.substr(0, 2);
        store.country = locale.size() == 5 ? locale.substr(3, 2) : std::string();
        ok = reader.readInt(blocks);
        for (std::int32_t i = 0; ok && i < blocks; ++i) {
            std::string name;
            ok = reader.readString(name) &&
                 readMessages(reader, localeBlockApplies(name, locale) ? &store.messages : nullptr);
        }
    }
    if (!ok) {
        result.failure = reader.failure();
        return result;
    }
    store.payloadOffset = reader.source().position();
    return result;
}

IntegrityResult checkIntegrity(BlockReader& reader, bool checkEnabled, const std::function<void(int)>& progress) {
    IntegrityResult result;
    ByteSource& source = reader.source();
    std::int32_t magic = 0;
    if (!locateOverlay(reader)) {
        result.failure = reader.failure();
        return result;
    }
    logMessage(W("starting at %d"), static_cast<int>(source.position()));
    if (!reader.readInt(magic)) {
        result.failure = reader.failure();
        return result;
    }
    if (static_cast<std::uint32_t>(magic) != block::kMagic) return result;

    result.magicMatched = true;
    result.expected = 0;
    std::int32_t flag = 0;
    if (!checkEnabled) return result;
    if (!reader.readInt(flag)) {
        result.failure = reader.failure();
        return result;
    }
    if (flag == 0) return result;

    std::int32_t stored = 0;
    std::int64_t length = 0;
    if (!reader.readInt(stored) || !reader.readLong(length)) {
        result.failure = reader.failure();
        return result;
    }
    result.expected = static_cast<std::uint32_t>(stored);
    result.checked = true;
    logMessage(W("verifying integrity length %I64d"), length);

    std::vector<unsigned char> chunk(kIntegrityChunk);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::int64_t covered = 0;
    int lastPercent = 0;
    while (covered < length) {
        const std::int64_t left = length - covered;
        const std::uint32_t want = left < kIntegrityChunk ? static_cast<std::uint32_t>(left) : kIntegrityChunk;
        std::uint32_t got = 0, error = 0;
        if (!source.read(chunk.data(), want, got, error) || got == 0) {
            logMessage(W("check ReadFile failed %d %d %I64d"), static_cast<int>(got), static_cast<int>(error), covered);
            result.readFailed = true;
            return result;
        }
        crc = crc32(crc, chunk.data(), got);
        covered += got;
        if (progress) {
            const int percent = static_cast<int>(covered * 100 / length);
            if (percent > lastPercent) {
                lastPercent = percent;
                progress(percent);
            }
        }
    }
    result.computed = static_cast<std::uint32_t>(crc);
    logMessage(W("checksums: %u %u %d %d"), result.computed, result.expected, static_cast<int>(result.computed),
               static_cast<int>(result.expected));
    return result;
}
