// The packer's readers: the manifest and --dump of an arbitrary file.  Input:
// a selector byte, then the manifest's JSON (0) or the file to dump (1).  Both
// readers take a path, so the bytes go to an in-memory file named by its
// /proc/self/fd path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <streambuf>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "tools/packer/dump.h"
#include "tools/packer/errors.h"
#include "tools/packer/manifest.h"

namespace {

// An in-memory file, rewritten for every input.
class MemoryFile {
public:
    MemoryFile() : descriptor_(memfd_create("fuzz-input", 0)) { FUZZ_CHECK(descriptor_ >= 0); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }
    void set(const std::uint8_t* data, std::size_t size) {
        FUZZ_CHECK(ftruncate(descriptor_, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(descriptor_, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int descriptor_;
};

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static MemoryFile file;
    file.set(data + 1, size - 1);
    try {
        if (data[0] % 2 == 0) {
            const packer::InstallerPlan plan = packer::loadManifest(file.path());
            FUZZ_CHECK(plan.config.count(2002) == 1 && plan.config.count(2003) == 1);
        } else {
            NullBuffer sink;
            std::ostream out(&sink);
            packer::dumpInstaller(file.path(), out);
        }
    } catch (const packer::PackError&) {
        // Refused with a message: the sound answer to a bad file.
    }
    return 0;
}
