// Builds installer images in memory for the unit tests: a minimal PE header
// with a section table, then a configuration block in the launcher's layout.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "launcher/block_format.h"
#include "launcher/config_block.h"
#include "launcher/text.h"

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    bool read(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error) override {
        error = 0;
        const std::int64_t left = static_cast<std::int64_t>(bytes_.size()) - position_;
        got = left <= 0 ? 0 : static_cast<std::uint32_t>(left < size ? left : size);
        if (got) std::memcpy(buffer, bytes_.data() + position_, got);
        position_ += got;
        return true;
    }
    bool seek(std::int64_t position) override {
        if (position < 0) return false;
        position_ = position;
        return true;
    }
    std::int64_t position() const override { return position_; }

private:
    std::vector<unsigned char> bytes_;
    std::int64_t position_ = 0;
};

class BlockBuilder {
public:
    std::vector<unsigned char> out;

    void u8(unsigned v) { out.push_back(static_cast<unsigned char>(v)); }
    void i16(int v) { u8(v & 0xFF), u8(v >> 8 & 0xFF); }
    void i32(std::int64_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<unsigned>(v >> (8 * i)) & 0xFF);
    }
    void i64(std::int64_t v) {
        for (int i = 0; i < 8; ++i) u8(static_cast<unsigned>(v >> (8 * i)) & 0xFF);
    }
    void put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
    }
    void text(const std::string& s) {
        i32(static_cast<std::int64_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    void wide(const wstring& s) {
        i32(static_cast<std::int64_t>(s.size() * 2));
        for (wchar c : s) i16(static_cast<int>(c));
    }

    // A PE image of `imageSize` bytes whose section table has two sections; the
    // last one in table order ends at the image end even though the first one
    // lies later in the file, so only the table order can find the block.
    void peImage(std::size_t imageSize = 1024) {
        out.assign(imageSize, 0);
        const std::size_t header = 0x80, optionalSize = 0xE0;
        out[0] = 'M', out[1] = 'Z';
        put32(60, header);
        out[header] = 'P', out[header + 1] = 'E';
        out[header + 6] = 2;  // two sections
        out[header + 20] = optionalSize & 0xFF;
        const std::size_t table = header + 24 + optionalSize;
        // Section 1: raw data 0x300..0x340 (stale, must not be used).
        put32(table + 16, 0x40), put32(table + 20, 0x300);
        // Section 2 (last in the table): raw data 0x200..imageSize.
        put32(table + 40 + 16, static_cast<std::uint32_t>(imageSize - 0x200));
        put32(table + 40 + 20, 0x200);
    }

    std::size_t blockStart = 0;
    std::size_t coveredStart = 0;

    void header(std::int32_t flag) {
        blockStart = out.size();
        i32(block::kMagic);
        i32(flag);
        i32(0);  // CRC, filled by finish()
        i64(0);  // covered length, filled by finish()
        coveredStart = out.size();
    }

    // Fills CRC and covered length over everything after the header.
    void finish() {
        const std::size_t length = out.size() - coveredStart;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + coveredStart, static_cast<uInt>(length));
        put32(blockStart + 8, static_cast<std::uint32_t>(crc));
        put32(blockStart + 12, static_cast<std::uint32_t>(length));
    }
};
