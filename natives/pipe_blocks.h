// The data blocks of the communication channel: a 32-bit little-endian
// payload length N, then N payload bytes, no magic, checksum or padding.  One
// block is written by one writeBlock and read by one readBlock, over any byte
// stream (a named pipe in the product, memory in the tests and the fuzzer).
//
// The reader trusts no length it is told.  A length the Java side cannot hold
// (negative as a signed 32-bit number, or above the caller's limit) is refused
// before anything is allocated, and the payload buffer grows only as bytes
// actually arrive: a peer that announces two gigabytes and sends ten costs
// the reader a few kilobytes, not two gigabytes.  A stream that fails, ends or
// stops making progress in the middle of a block ends the read with a status
// that says where; the stream is then left in the middle of that block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace pipe_blocks {

// The bytes of the length field.
constexpr std::size_t kHeaderBytes = 4;
// The largest payload a block can carry: a Java byte[] holds at most this
// many bytes, and every larger 32-bit length reads as negative on the Java side.
constexpr std::uint32_t kMaxPayloadBytes = 0x7FFFFFFF;
// What the payload buffer starts with before more bytes have arrived.
constexpr std::size_t kFirstBufferBytes = 64 * 1024;

// A byte stream the block functions read from and write to.  read and write
// transfer at most `size` bytes and say how many they transferred: 0 means
// the stream had nothing (at its end) or took nothing, none that the call
// failed.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual std::optional<std::size_t> read(unsigned char* buffer, std::size_t size) = 0;
    virtual std::optional<std::size_t> write(const unsigned char* data, std::size_t size) = 0;
};

std::array<unsigned char, kHeaderBytes> encodeLength(std::uint32_t length);
std::uint32_t decodeLength(const unsigned char* header);

enum class ReadStatus {
    ok,
    noHeader,       // the stream failed or ended before the 4 length bytes were complete
    lengthRefused,  // the length is negative as a signed number, or above the limit
    truncated,      // the stream failed or ended before the whole payload arrived
    outOfMemory,    // the payload buffer could not grow to the bytes that arrived
};

struct ReadResult {
    ReadStatus status = ReadStatus::noHeader;
    std::uint32_t announced = 0;         // the length field as read (0 without a header)
    std::vector<unsigned char> payload;  // the whole payload when ok, else empty
    std::size_t largestBuffer = 0;       // the largest payload buffer this read held, in bytes
};

// Reads one block: the length, then exactly that many payload bytes, looping
// over short reads.  `limit` (at most kMaxPayloadBytes) is the largest length
// accepted.
ReadResult readBlock(ByteStream& stream, std::uint32_t limit = kMaxPayloadBytes);

// Writes one block of `size` payload bytes: the length, then the payload,
// looping over short writes.  False when `size` is above kMaxPayloadBytes (nothing
// is written then), or when a write fails or takes nothing (the stream is then
// left in the middle of the block).  An empty block is exactly the 4 bytes
// 00 00 00 00.
bool writeBlock(ByteStream& stream, const unsigned char* data, std::size_t size);

}  // namespace pipe_blocks
