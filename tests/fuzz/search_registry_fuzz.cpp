// The runtime search rules and the registry value data rules.  Input: a
// selector byte, then
//   0: a search sequence; its lines also serve as preference files, java
//      executables, PATH values and located-JVM key names;
//   1: registry value data (REG_SZ, REG_MULTI_SZ, REG_DWORD) and key paths.
#include <cstdint>
#include <string>
#include <vector>

#include "jvm/search_rules.h"
#include "launcher/registry_path.h"
#include "natives/registry_data.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void searchRules(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const SearchEntry& entry : parseSearchSequence(text)) {
        FUZZ_CHECK(entry.argument.find(';') == std::string::npos);
        reconsideredInFallback(entry);
    }
    if (const std::optional<std::string> line = preferenceLine(text)) {
        FUZZ_CHECK(!line->empty() && line->size() <= kPreferenceLineLimit);
        FUZZ_CHECK(line->find('\n') == std::string::npos);
    }
    const auto lines = fuzz::split(data, size, '\n', 8);
    for (const std::string& path : lines) {
        windowedJavaExecutable(path);
        jvmHomeOf(path);
        javaBinDirectory(path);
        innerJreJavaExecutable(path);
        jvmDllCandidates(path, lines[0]);
        const std::string key = locatedJvmKeyName(path);
        FUZZ_CHECK(key.find('\\', std::string(kLocatedJvmsKey).size()) == std::string::npos);
        jvmCacheKeyName(path);
        pathFromLocatedKey(path);
        const std::size_t limit = path.size() % 97;
        const std::string value = nativeLibraryPath(lines[0], path, limit);
        FUZZ_CHECK(value.size() <= limit);
        pathWithAppended(lines[0], path);
        const Derivation derived = deriveJavaExecutable(path, !path.empty() && path[0] & 1,
                                                        [&](const std::string& f) { return f.size() & 1; });
        FUZZ_CHECK(derived.javaExecutable.compare(0, path.size(), path) == 0);
    }
}

std::u16string toText(const std::vector<unsigned char>& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    return text;
}

void registryRules(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = registry::decodeString(data, size);
    FUZZ_CHECK(text.size() <= size / 2);
    registry::decodeDword(data, size);
    // What the string rules write reads back as written (cut to the buffer).
    const registry::Bytes encoded = registry::encodeString(text);
    FUZZ_CHECK(encoded.size() <= registry::kValueBufferBytes);
    FUZZ_CHECK(registry::decodeString(encoded.data(), encoded.size()) == text.substr(0, registry::kMaxStringChars));

    // The elements read from any data, written back by the builder, read back
    // as the elements it took.
    registry::MultiStringBuilder builder;
    std::vector<std::u16string> taken;
    for (const std::u16string& element : registry::decodeMultiString(data, size))
        if (builder.add(element)) taken.push_back(element);
    const registry::Bytes multi = builder.finish();
    FUZZ_CHECK(multi.size() <= registry::kValueBufferBytes);
    FUZZ_CHECK(registry::decodeMultiString(multi.data(), multi.size()) == taken);
    registry::encodeBinary(data, size);
    if (size > 0) {
        registry::rootForCode(static_cast<signed char>(data[0]));
        registry::typeForCode(static_cast<signed char>(data[0]));
    }

    const std::u16string path = toText(std::vector<unsigned char>(data, data + size));
    registry::namesKeyBelowRoot(path.c_str());
    const registry::KeyPathParts parts = registry::splitKeyPath(path);
    FUZZ_CHECK(parts.parent.size() + parts.leaf.size() <= path.size());
    FUZZ_CHECK(parts.leaf.find(u'\\') == std::u16string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] % 2 == 0)
        searchRules(data + 1, size - 1);
    else
        registryRules(data + 1, size - 1);
    return 0;
}
