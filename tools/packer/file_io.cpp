#include "tools/packer/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "tools/packer/errors.h"

namespace packer {
namespace {

std::string describe(const std::filesystem::path& path, const std::string& problem, int error) {
    return path.string() + ": " + problem + ": " + std::strerror(error);
}

// Path of the temporary output while a build runs, for the signal handler.
// A fixed array keeps the handler free of anything but unlink().
char g_pendingOutput[4096];
volatile std::sig_atomic_t g_havePendingOutput = 0;

extern "C" void removePendingOutputAndExit(int signal) {
    if (g_havePendingOutput) unlink(g_pendingOutput);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void watchPendingOutput(const std::string& path) {
    if (path.size() >= sizeof g_pendingOutput) return;
    std::memcpy(g_pendingOutput, path.c_str(), path.size() + 1);
    g_havePendingOutput = 1;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, removePendingOutputAndExit);
}

void forgetPendingOutput() {
    g_havePendingOutput = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
}

}  // namespace

InputFile::InputFile(const std::filesystem::path& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw PackError(describe(path, "cannot open", errno));
    struct stat info {};
    if (fstat(fileno(file_), &info) != 0) {
        int error = errno;
        std::fclose(file_);
        throw PackError(describe(path, "cannot read its size", error));
    }
    if (!S_ISREG(info.st_mode)) {
        std::fclose(file_);
        throw PackError(path.string() + ": not a regular file");
    }
    size_ = static_cast<std::int64_t>(info.st_size);
}

InputFile::~InputFile() { std::fclose(file_); }

void InputFile::seek(std::int64_t offset) {
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
        throw PackError(describe(path_, "cannot seek to " + std::to_string(offset), errno));
    position_ = offset;
}

std::size_t InputFile::readSome(void* buffer, std::size_t n) {
    std::size_t got = std::fread(buffer, 1, n, file_);
    if (got < n && std::ferror(file_))
        throw PackError(describe(path_, "read failed at offset " + std::to_string(position_ + got), errno));
    position_ += static_cast<std::int64_t>(got);
    return got;
}

bool InputFile::readExact(void* buffer, std::size_t n) { return readSome(buffer, n) == n; }

void requireReadableFile(const std::filesystem::path& path, const std::string& what) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw PackError(what + ": " + describe(path, "cannot open", errno));
    if (!S_ISREG(info.st_mode)) throw PackError(what + ": " + path.string() + ": not a regular file");
    if (access(path.c_str(), R_OK) != 0) throw PackError(what + ": " + describe(path, "cannot read", errno));
}

AtomicOutputFile::AtomicOutputFile(const std::filesystem::path& target) : target_(target) {
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) directory = ".";
    temporary_ = (directory / ("." + target.filename().string() + ".tvxpack-XXXXXX")).string();
    int descriptor = mkstemp(temporary_.data());
    if (descriptor < 0) throw PackError(describe(directory, "cannot create a temporary output file", errno));
    watchPendingOutput(temporary_);
    // mkstemp creates the file private to the owner; give it the mode a newly
    // created file would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    file_ = fdopen(descriptor, "wb");
    if (file_ == nullptr) {
        int error = errno;
        close(descriptor);
        unlink(temporary_.c_str());
        forgetPendingOutput();
        throw PackError(describe(temporary_, "cannot open", error));
    }
}

AtomicOutputFile::~AtomicOutputFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) {
        unlink(temporary_.c_str());
        forgetPendingOutput();
    }
}

void AtomicOutputFile::fail(const std::string& action) const { throw PackError(describe(temporary_, action, errno)); }

void AtomicOutputFile::write(const void* data, std::size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, file_) != n) fail("write failed");
    position_ += static_cast<std::int64_t>(n);
}

void AtomicOutputFile::patch(std::int64_t offset, const void* data, std::size_t n) {
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) fail("seek failed");
    if (std::fwrite(data, 1, n, file_) != n) fail("write failed");
    if (fseeko(file_, 0, SEEK_END) != 0) fail("seek failed");
}

void AtomicOutputFile::commit() {
    if (std::fflush(file_) != 0) fail("write failed");
    int result = std::fclose(file_);
    file_ = nullptr;
    if (result != 0) fail("write failed");
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw PackError(describe(target_, "cannot rename " + temporary_ + " to it", errno));
    committed_ = true;
    forgetPendingOutput();
}

}  // namespace packer
