// File access for the packer: a positioned reader for stubs, sources and
// installers, and an output file that only appears under its final name once
// it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace packer {

// Size of the buffer every copy loop streams through.  Payload files can be
// hundreds of megabytes; memory use must not grow with them.
constexpr std::size_t kCopyBufferSize = 64 * 1024;

// A regular file opened for reading.  Every I/O failure throws PackError
// naming the file; reaching the end of the file is not an error by itself.
class InputFile {
public:
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Size when the file was opened.
    std::int64_t size() const { return size_; }
    std::int64_t position() const { return position_; }

    void seek(std::int64_t offset);
    // Reads up to n bytes; returns how many were read, 0 at the end of the file.
    std::size_t readSome(void* buffer, std::size_t n);
    // Reads exactly n bytes; false when the file ends first.
    bool readExact(void* buffer, std::size_t n);

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

// Checks before any output is created that path names a readable regular
// file; what names the manifest entry in the error.
void requireReadableFile(const std::filesystem::path& path, const std::string& what);

// The output of a build.  It is written to a temporary file in the target's
// directory and renamed over the target by commit(); destroyed without
// commit(), it removes the temporary file, so a failed build leaves neither a
// partial file nor a changed target behind.  A SIGINT, SIGTERM or SIGHUP
// during the build removes it too.
class AtomicOutputFile {
public:
    explicit AtomicOutputFile(const std::filesystem::path& target);
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    void write(const void* data, std::size_t n);
    // Overwrites bytes already written at offset; the next write() still
    // appends at the end.
    void patch(std::int64_t offset, const void* data, std::size_t n);
    std::int64_t position() const { return position_; }
    void commit();

private:
    void fail(const std::string& action) const;

    std::filesystem::path target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    std::int64_t position_ = 0;
    bool committed_ = false;
};

}  // namespace packer
