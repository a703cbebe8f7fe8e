// Version parsing, the range checks and the "-version" output reader.  Input:
// the output of "java -version" as a runtime printed it; its lines also serve
// as version strings, range limits and registry key names.
#include <cstdint>
#include <string>
#include <vector>

#include "jvm/version.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);

    const std::string line = versionLineOf(output, kVersionLineLimit);
    FUZZ_CHECK(line.size() <= kVersionLineLimit);
    const std::optional<std::string> version = parseVersionLine(line);
    if (version) FUZZ_CHECK(!version->empty() && version->size() < line.size());
    FUZZ_CHECK(firstLineOf(output, kVersionLineLimit).size() <= kVersionLineLimit);

    std::vector<std::string> lines = fuzz::split(data, size, '\n', 16);
    const std::string& minimum = lines[0];
    const std::string& maximum = lines.size() > 1 ? lines[1] : lines[0];
    const VersionRange range = makeVersionRange(minimum, maximum);
    for (const std::string& candidate : lines) {
        const VersionNumbers numbers = parseVersion(candidate);
        FUZZ_CHECK(numbers.size() <= candidate.size());
        checkVersionRange(candidate, range, false);
        checkVersionRange(candidate, range, true);
        keyNameInRange(candidate, range);
        isTrustedCachedVersion(candidate);
        // Greater-than is a strict order: never both ways, never to itself.
        FUZZ_CHECK(!versionGreater(candidate, candidate));
        FUZZ_CHECK(!(versionGreater(candidate, minimum) && versionGreater(minimum, candidate)));
    }
    const std::vector<std::string> order = vendorSubkeyOrder(lines, range);
    FUZZ_CHECK(order.size() <= lines.size());
    if (version) checkVersionRange(*version, range, false);
    return 0;
}
