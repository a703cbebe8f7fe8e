// The block framing of the communication channel over memory streams that
// hand out or take bytes in chunks of a chosen size and fail or end where a
// test says: round trips of every size class, peers that lie about a length
// or stop in the middle of a block, and writes that fail or stall.
#include "natives/pipe_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using namespace pipe_blocks;
using Bytes = std::vector<unsigned char>;

// Reads come from `data` at most `chunk` bytes at a time; at `failAt` a read
// fails, at the end of the data reads return 0.  Writes append to `written`
// at most `chunk` bytes at a time and fail once `failAt` bytes were taken
// (`stallAt` instead takes nothing from there on).
class MemoryStream : public ByteStream {
public:
    explicit MemoryStream(Bytes data = {}, std::size_t chunk = SIZE_MAX) : data_(std::move(data)), chunk_(chunk) {}

    std::optional<std::size_t> read(unsigned char* buffer, std::size_t size) override {
        ++reads;
        if (position_ >= failAt) return std::nullopt;
        std::size_t n = std::min({size, chunk_, data_.size() - position_, failAt - position_});
        std::copy(data_.begin() + static_cast<std::ptrdiff_t>(position_),
                  data_.begin() + static_cast<std::ptrdiff_t>(position_ + n), buffer);
        position_ += n;
        return n;
    }
    std::optional<std::size_t> write(const unsigned char* data, std::size_t size) override {
        if (written.size() >= failAt) return std::nullopt;
        if (written.size() >= stallAt) return 0;
        std::size_t n = std::min({size, chunk_, failAt - written.size(), stallAt - written.size()});
        written.insert(written.end(), data, data + n);
        return n;
    }

    std::size_t failAt = SIZE_MAX;
    std::size_t stallAt = SIZE_MAX;
    Bytes written;
    int reads = 0;

private:
    Bytes data_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        const std::size_t at = all.size();
        all.resize(at + part.size());
        std::copy(part.begin(), part.end(), all.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return all;
}

Bytes block(std::uint32_t announced, const Bytes& payload) {
    const auto header = encodeLength(announced);
    return concat({Bytes(header.begin(), header.end()), payload});
}

TEST(PipeBlocks, LengthIsFourBytesLittleEndian) {
    EXPECT_EQ(block(0, {}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(block(0x12345678, {}), (Bytes{0x78, 0x56, 0x34, 0x12}));
    const unsigned char top[] = {0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(decodeLength(top), kMaxPayloadBytes);
}

// Every size class survives a write and a read, whatever the chunking of the
// stream: empty, a few bytes, beyond the first buffer and beyond a pipe's
// 65536-byte buffer, several megabytes.
TEST(PipeBlocks, RoundTripsAnySizeInAnyChunking) {
    for (std::size_t size : {0u, 1u, 5u, 65536u, 100000u, 3u * 1024 * 1024 + 7}) {
        for (std::size_t chunk : {1u, 3u, 4096u, 65536u, 1u << 30}) {
            if (chunk == 1 && size > 100000) continue;  // a byte at a time adds nothing but time
            const Bytes payload = pattern(size, static_cast<std::uint32_t>(size));
            MemoryStream out(Bytes{}, chunk);
            ASSERT_TRUE(writeBlock(out, payload.data(), payload.size())) << size << " in " << chunk;
            ASSERT_EQ(out.written, block(static_cast<std::uint32_t>(size), payload)) << size << " in " << chunk;

            MemoryStream in(out.written, chunk);
            const ReadResult read = readBlock(in);
            ASSERT_EQ(read.status, ReadStatus::ok) << size << " in " << chunk;
            EXPECT_EQ(read.announced, size);
            EXPECT_EQ(read.payload, payload) << size << " in " << chunk;
            EXPECT_LE(read.largestBuffer, size) << "a buffer larger than the block";
        }
    }
}

TEST(PipeBlocks, ConsecutiveBlocksAreReadOneAtATime) {
    MemoryStream in(concat({block(3, {1, 2, 3}), block(0, {}), block(2, {9, 8})}), 2);
    EXPECT_EQ(readBlock(in).payload, (Bytes{1, 2, 3}));
    const ReadResult empty = readBlock(in);
    EXPECT_EQ(empty.status, ReadStatus::ok);
    EXPECT_TRUE(empty.payload.empty());
    EXPECT_EQ(readBlock(in).payload, (Bytes{9, 8}));
    EXPECT_EQ(readBlock(in).status, ReadStatus::noHeader);
}

// What a peer can do wrong, and what the reader makes of it.  A lying length
// costs at most the first buffer plus what the peer really sent.
TEST(PipeBlocks, DamagedStreamsEndTheReadWithTheirStatus) {
    struct Case {
        const char* what;
        Bytes stream;
        std::size_t failAt;
        std::uint32_t limit;
        ReadStatus status;
        std::uint32_t announced;
        std::size_t largestBufferAtMost;
    };
    const Bytes ten = pattern(10, 1);
    const std::vector<Case> cases = {
        {"nothing at all", {}, SIZE_MAX, kMaxPayloadBytes, ReadStatus::noHeader, 0, 0},
        {"half a header, then the end", {5, 0}, SIZE_MAX, kMaxPayloadBytes, ReadStatus::noHeader, 0, 0},
        {"half a header, then a failure", {5, 0, 0, 0}, 2, kMaxPayloadBytes, ReadStatus::noHeader, 0, 0},
        {"negative length", block(0x80000000u, ten), SIZE_MAX, kMaxPayloadBytes, ReadStatus::lengthRefused, 0x80000000u,
         0},
        {"length -1", block(0xFFFFFFFFu, ten), SIZE_MAX, kMaxPayloadBytes, ReadStatus::lengthRefused, 0xFFFFFFFFu, 0},
        {"above the caller's limit", block(1001, pattern(1001, 2)), SIZE_MAX, 1000, ReadStatus::lengthRefused, 1001, 0},
        {"at the caller's limit", block(1000, pattern(1000, 2)), SIZE_MAX, 1000, ReadStatus::ok, 1000, 1000},
        {"2 GB announced, 10 bytes sent", block(kMaxPayloadBytes, ten), SIZE_MAX, kMaxPayloadBytes,
         ReadStatus::truncated, kMaxPayloadBytes, kFirstBufferBytes},
        {"1 MB announced, 100000 sent", block(1 << 20, pattern(100000, 3)), SIZE_MAX, kMaxPayloadBytes,
         ReadStatus::truncated, 1 << 20, 2 * kFirstBufferBytes},
        {"5 announced, 4 sent, then a failure", block(5, {1, 2, 3, 4, 5}), 8, kMaxPayloadBytes, ReadStatus::truncated,
         5, 5},
    };
    for (const Case& c : cases) {
        for (std::size_t chunk : {1u, 7u, 1u << 30}) {
            MemoryStream in(c.stream, chunk);
            in.failAt = c.failAt;
            const ReadResult read = readBlock(in, c.limit);
            EXPECT_EQ(read.status, c.status) << c.what << " in " << chunk;
            EXPECT_EQ(read.announced, c.announced) << c.what;
            EXPECT_LE(read.largestBuffer, c.largestBufferAtMost) << c.what;
            if (c.status != ReadStatus::ok) {
                EXPECT_TRUE(read.payload.empty()) << c.what;
            }
        }
    }
}

// A stream that answers "0 bytes" forever (a file at its end, a peer that
// wrote an empty message) ends the read instead of spinning.
TEST(PipeBlocks, ReadStopsAtTheFirstReadThatGivesNothing) {
    MemoryStream in(block(100, pattern(50, 4)), 1u << 30);
    EXPECT_EQ(readBlock(in).status, ReadStatus::truncated);
    EXPECT_LE(in.reads, 4);
}

TEST(PipeBlocks, FailedOrStalledWritesAreReportedAndStop) {
    const Bytes payload = pattern(1000, 5);
    struct Case {
        const char* what;
        std::size_t failAt;
        std::size_t stallAt;
        std::size_t writtenAtMost;
    };
    const std::vector<Case> cases = {
        {"failure in the header", 2, SIZE_MAX, 2},
        {"failure in the payload", 500, SIZE_MAX, 500},
        {"stall in the header", SIZE_MAX, 3, 3},
        {"stall in the payload", SIZE_MAX, 700, 700},
    };
    for (const Case& c : cases) {
        MemoryStream out(Bytes{}, 64);
        out.failAt = c.failAt;
        out.stallAt = c.stallAt;
        EXPECT_FALSE(writeBlock(out, payload.data(), payload.size())) << c.what;
        EXPECT_LE(out.written.size(), c.writtenAtMost) << c.what;
    }
}

TEST(PipeBlocks, PayloadBeyondWhatJavaCanHoldIsNotWritten) {
    MemoryStream out;
    const unsigned char byte = 0;
    EXPECT_FALSE(writeBlock(out, &byte, std::size_t{kMaxPayloadBytes} + 1));
    EXPECT_TRUE(out.written.empty());
}

}  // namespace
