#include "natives/pipe_blocks.h"

#include <algorithm>
#include <new>

namespace pipe_blocks {

namespace {

// Reads until `size` bytes are in `buffer`; the count that arrived before the
// stream failed, ended or returned nothing (a stream that keeps answering
// "0 bytes" never ends a blocking read, so one such answer ends the loop).
std::size_t readFully(ByteStream& stream, unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::optional<std::size_t> n = stream.read(buffer + done, size - done);
        if (!n || *n == 0) break;
        done += std::min(*n, size - done);
    }
    return done;
}

bool writeFully(ByteStream& stream, const unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::optional<std::size_t> n = stream.write(data + done, size - done);
        if (!n || *n == 0) return false;
        done += std::min(*n, size - done);
    }
    return true;
}

}  // namespace

std::array<unsigned char, kHeaderBytes> encodeLength(std::uint32_t length) {
    return {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
}

std::uint32_t decodeLength(const unsigned char* header) {
    return static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
           static_cast<std::uint32_t>(header[2]) << 16 | static_cast<std::uint32_t>(header[3]) << 24;
}

ReadResult readBlock(ByteStream& stream, std::uint32_t limit) {
    ReadResult result;
    std::array<unsigned char, kHeaderBytes> header{};
    if (readFully(stream, header.data(), header.size()) != header.size()) return result;
    result.announced = decodeLength(header.data());
    if (result.announced > std::min(limit, kMaxPayloadBytes)) {
        result.status = ReadStatus::lengthRefused;
        return result;
    }
    const std::size_t length = result.announced;
    std::vector<unsigned char> payload;
    std::size_t received = 0;
    while (received < length) {
        if (received == payload.size()) {
            // Full: grow to twice what arrived (at least the first size), never
            // beyond the announced length.
            const std::size_t wanted = std::min(length, std::max(kFirstBufferBytes, 2 * received));
            try {
                payload.resize(wanted);
            } catch (const std::bad_alloc&) {
                result.status = ReadStatus::outOfMemory;
                return result;
            }
            result.largestBuffer = std::max(result.largestBuffer, payload.size());
        }
        const std::size_t n = readFully(stream, payload.data() + received, payload.size() - received);
        received += n;
        if (received < payload.size()) {
            result.status = ReadStatus::truncated;
            return result;
        }
    }
    result.status = ReadStatus::ok;
    result.payload = std::move(payload);
    return result;
}

bool writeBlock(ByteStream& stream, const unsigned char* data, std::size_t size) {
    if (size > kMaxPayloadBytes) return false;
    const std::array<unsigned char, kHeaderBytes> header = encodeLength(static_cast<std::uint32_t>(size));
    return writeFully(stream, header.data(), header.size()) && writeFully(stream, data, size);
}

}  // namespace pipe_blocks
