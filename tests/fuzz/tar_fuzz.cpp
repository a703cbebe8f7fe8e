// The tar reader of a carried runtime: headers, octal sizes, long names and
// extended headers, unsafe names, the walk and its end conditions.  Input:
// one byte (bits 0-3: how many bytes a read delivers, bit 4: a file cannot be
// created, bit 5: a write fails), then the decompressed tar stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "frontend/tar_reader.h"
#include "launcher/payload.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

class MemoryTar : public TarSource {
public:
    MemoryTar(const std::uint8_t* data, std::size_t size, std::size_t step) : data_(data), size_(size), step_(step) {}
    bool atEnd() override { return end_; }
    long read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, step_, size_ - at_});
        std::memcpy(buffer, data_ + at_, n);
        at_ += n;
        if (n < size) end_ = true;
        return static_cast<long>(n);
    }
    bool skip(std::int64_t bytes) override {
        FUZZ_CHECK(bytes >= 0);
        at_ += static_cast<std::size_t>(std::min<std::int64_t>(bytes, static_cast<std::int64_t>(size_ - at_)));
        return true;
    }
    std::int64_t position() override { return static_cast<std::int64_t>(at_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t step_;
    std::size_t at_ = 0;
    bool end_ = false;
};

class MemoryTarget : public TarTarget {
public:
    MemoryTarget(bool refuseCreate, bool failWrite) : refuseCreate_(refuseCreate), failWrite_(failWrite) {}
    void makeDirectory(const std::string& name) override { FUZZ_CHECK(isSafePayloadName(name)); }
    bool createFile(const std::string& name) override {
        FUZZ_CHECK(isSafePayloadName(name) && name.size() < tar::kNameLimit && !open_);
        open_ = !refuseCreate_;
        return open_;
    }
    bool writeFile(const char*, std::size_t size) override {
        FUZZ_CHECK(open_ && size <= tar::kChunkSize);
        return !failWrite_;
    }
    bool closeFile() override {
        FUZZ_CHECK(open_);
        open_ = false;
        return true;
    }
    void progress(std::int64_t) override {}
    std::uint32_t milliseconds() override { return clock_ += 70; }
    bool open() const { return open_; }

private:
    bool refuseCreate_, failWrite_;
    bool open_ = false;
    std::uint32_t clock_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::size_t kSteps[] = {1, 7, 100, 499, 500, 512, 4096, 65536};
    const std::uint8_t choices = data[0];
    MemoryTar source(data + 1, size - 1, kSteps[choices & 7]);
    MemoryTarget target((choices & 0x10) != 0, (choices & 0x20) != 0);
    const UntarResult result = untar(source, target);
    FUZZ_CHECK(!target.open());
    if (result.status == UntarStatus::FileNotCreated) FUZZ_CHECK(!result.failedName.empty());

    // The header fields of the first block, read on their own.
    if (size - 1 >= tar::kHeaderReadSize) {
        const char* header = reinterpret_cast<const char*>(data + 1);
        tar::parseOctalSize(header + tar::kSizeOffset, tar::kSizeLength);
        tar::headerName(header);
    }
    tar::extendedHeaderPath(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    if (size >= 9) {
        std::int64_t position, total;
        std::memcpy(&position, data + 1, 8);
        std::memcpy(&total, data + size - 8, 8);
        if (const std::optional<int> bar = tar::unpackBarPosition(position, total))
            FUZZ_CHECK(*bar >= 100 && *bar <= 200);
    }
    return 0;
}
