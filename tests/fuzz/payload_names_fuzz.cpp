// The payload name list walk and the unsafe-name rules.  Input: four bytes of
// the file count (little-endian), then the ";"-separated name list.  Every
// name the rules accept is resolved the way Windows resolves a relative path
// (either separator, trailing dots and blanks dropped from each component) and
// must stay inside the extraction directory.
#include <cstdint>
#include <string>

#include "launcher/payload.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// How many levels below the extraction directory the name ends, or -1 when
// it climbs above it on the way.
int depthBelowTarget(const std::string& name) {
    int depth = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        std::string component = name.substr(start, end - start);
        const bool dotsOnly = component.find_first_not_of(". ") == std::string::npos;
        if (dotsOnly && component.find("..") != std::string::npos) {
            if (--depth < 0) return -1;
        } else if (!dotsOnly) {
            ++depth;
        }
        start = end + 1;
    }
    return depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const int count = static_cast<int>(static_cast<std::uint32_t>(data[0]) | data[1] << 8 | data[2] << 16 |
                                       static_cast<std::uint32_t>(data[3]) << 24);
    const std::string list(reinterpret_cast<const char*>(data + 4), size - 4);
    const auto names = payloadNamesToExtract(list, count);
    FUZZ_CHECK(static_cast<long long>(names.size()) <= (count < 0 ? 0 : count));
    std::size_t used = 0;
    for (const std::string& name : names) {
        FUZZ_CHECK(!name.empty() && name.find(';') == std::string::npos);
        used += name.size() + 1;
        if (isSafePayloadName(name)) {
            FUZZ_CHECK(name[0] != '\\' && name[0] != '/' && name.find(':') == std::string::npos);
            FUZZ_CHECK(depthBelowTarget(name) >= 0);
            const std::string directory = payloadDirectoryPart(name);
            FUZZ_CHECK(directory.size() < name.size());
        }
        isPackName(name);
    }
    FUZZ_CHECK(used <= list.size() + 1);
    return 0;
}
