// Helpers shared by the harnesses: splitting a fuzzer input into pieces and
// reading bytes as the launcher's text types, and the one check macro.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/text.h"

// A property that must hold whatever the input; a violation aborts, which
// libFuzzer reports as a finding with the input that caused it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzz {

// The input cut at every `separator` byte (the separators dropped), at most
// `limit` pieces (the last one keeps the rest).
inline std::vector<std::string> split(const std::uint8_t* data, std::size_t size, char separator,
                                      std::size_t limit = SIZE_MAX) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator && pieces.size() < limit)
            pieces.emplace_back();
        else
            pieces.back().push_back(static_cast<char>(data[i]));
    }
    return pieces;
}

// Bytes as UTF-16LE code units (an odd last byte is dropped).
inline wstring utf16(const std::string& bytes) {
    wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(
            static_cast<wchar>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

}  // namespace fuzz
