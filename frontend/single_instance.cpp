#include "frontend/single_instance.h"

#include <cstdint>

namespace single_instance {

namespace {

// FNV-1a, 64 bits: stable across builds and targets, which a name that other
// copies of the program rebuild must be.
std::uint64_t nameHash(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string hexDigits(std::uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

}  // namespace

std::string semaphoreBaseName(const std::string& normalisedPath, bool globalNamespace) {
    std::string name = globalNamespace ? "Global\\" : "Local\\";
    name.reserve(name.size() + normalisedPath.size());
    for (char c : normalisedPath) name.push_back(c == '\\' || c == ' ' ? '_' : c);
    if (name.size() <= kBaseNameLimit) return name;
    // Cutting alone would let two long paths with the same beginning share a
    // name, so that one program would take the other for a running copy of
    // itself; the hash of the whole name keeps them apart.
    const std::string tail = "_" + hexDigits(nameHash(name));
    name.resize(kBaseNameLimit - tail.size());
    return name + tail;
}

std::string numberedName(const std::string& baseName, unsigned counter) { return baseName + std::to_string(counter); }

std::string takeLowestFreeName(const std::string& baseName,
                               const std::function<bool(const std::string&)>& createReportsExisting) {
    unsigned counter = 0;
    std::string name = numberedName(baseName, counter);
    while (createReportsExisting(name) && counter < kCounterLimit) name = numberedName(baseName, ++counter);
    return name;
}

}  // namespace single_instance
