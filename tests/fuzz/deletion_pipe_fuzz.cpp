// The deletion list reader and the pipe block framing.  Input: a selector
// byte, then
//   0: a deletion list file (UTF-16LE lines);
//   1: the bytes a pipe peer sends: blocks are read until the stream ends,
//      with reads of a few sizes and a length limit taken from the selector.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frontend/deletion_list.h"
#include "natives/pipe_blocks.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

class MemoryStream : public pipe_blocks::ByteStream {
public:
    MemoryStream(const std::uint8_t* data, std::size_t size, std::size_t step)
        : data_(data), size_(size), step_(step) {}
    std::optional<std::size_t> read(unsigned char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, step_, size_ - at_});
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        return n;
    }
    std::optional<std::size_t> write(const unsigned char* data, std::size_t size) override {
        written.insert(written.end(), data, data + std::min(size, step_));
        return std::min(size, step_);
    }
    std::size_t remaining() const { return size_ - at_; }
    std::vector<unsigned char> written;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t step_;
    std::size_t at_ = 0;
};

void deletionList(const std::uint8_t* data, std::size_t size) {
    for (const wstring& line : deletion::readListLines(data, size)) {
        FUZZ_CHECK(line.size() <= deletion::kLineLimit);
        FUZZ_CHECK(line.empty() || (line.back() != W('\n') && line.back() != W('\r')));
    }
}

void pipeBlocks(std::uint8_t choices, const std::uint8_t* data, std::size_t size) {
    static const std::size_t kSteps[] = {1, 3, 4096, 1 << 20};
    static const std::uint32_t kLimits[] = {0, 16, 70000, pipe_blocks::kMaxPayloadBytes};
    MemoryStream stream(data, size, kSteps[choices & 3]);
    const std::uint32_t limit = kLimits[(choices >> 2) & 3];
    for (;;) {
        const std::size_t before = stream.remaining();
        const pipe_blocks::ReadResult block = pipe_blocks::readBlock(stream, limit);
        // The buffer never runs far ahead of the bytes that arrived.
        FUZZ_CHECK(block.largestBuffer <= std::max<std::size_t>(pipe_blocks::kFirstBufferBytes, 2 * before));
        if (block.status != pipe_blocks::ReadStatus::ok) break;
        FUZZ_CHECK(block.payload.size() == block.announced && block.announced <= limit);
        // Written back as a block, it reads back the same.
        MemoryStream echo(nullptr, 0, kSteps[choices & 3]);
        FUZZ_CHECK(pipe_blocks::writeBlock(echo, block.payload.data(), block.payload.size()));
        MemoryStream again(echo.written.data(), echo.written.size(), 1 << 20);
        FUZZ_CHECK(pipe_blocks::readBlock(again).payload == block.payload);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] % 2 == 0)
        deletionList(data + 1, size - 1);
    else
        pipeBlocks(static_cast<std::uint8_t>(data[0] >> 1), data + 1, size - 1);
    return 0;
}
