// The command-line splitter, the message composition and the wide formatter.
// Input: a selector byte, then
//   0: a UTF-16LE command line, split into words;
//   1: conversions for the formatter: each one is a literal run and a
//      directive (flags, width, precision, size prefix, conversion) with its
//      argument, all taken from the input and handed over with the type the
//      conversion reads, so every call is a well-formed one;
//   2: a message text and its "{0}" argument (UTF-16LE, split at a 0 byte).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jvm/vm_options.h"
#include "launcher/command_line.h"
#include "launcher/format.h"
#include "launcher/locale_table.h"
#include "launcher/log_policy.h"
#include "launcher/messages.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t number(int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(byte()) << (8 * i);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void splitWords(const std::uint8_t* data, std::size_t size) {
    const wstring line = fuzz::utf16(std::string(reinterpret_cast<const char*>(data), size));
    ArgumentVector words;
    splitCommandLine(line, words);
    std::size_t characters = 0;
    for (const wstring& word : words) characters += word.size();
    FUZZ_CHECK(characters <= line.size());
    formatLocaleRequested(words);
    joinIncludeWords(words);
    if (!words.empty()) isLogSwitch(words[0]);
}

// Calls the formatter with the star arguments the directive asks for, then
// the value (ignored by conversions that read none).
template <typename T>
wstring call(const wstring& format, const std::vector<int>& stars, T value) {
    switch (stars.size()) {
        case 0: return (formatWide)(format.c_str(), value);
        case 1: return (formatWide)(format.c_str(), stars[0], value);
        default: return (formatWide)(format.c_str(), stars[0], stars[1], value);
    }
}

// Fields of up to two digits, or a huge one (past the clamp) when `huge`:
// that costs 64K characters of output, so only the first directive of an
// input may ask for it.
wstring fieldPart(Bytes& in, std::vector<int>& stars, bool precision, bool huge) {
    const std::uint8_t mode = in.byte() % 4;
    wstring text = precision && mode != 0 ? W(".") : W("");
    const bool large = huge && in.byte() == 0xFF;
    if (mode == 1) {
        stars.push_back(large ? static_cast<int>(in.number(4)) : static_cast<signed char>(in.byte()) % 100);
        text += W("*");
    } else if (mode >= 2) {
        const unsigned digits = large ? 10 : 1 + in.byte() % 2;
        for (unsigned i = 0; i < digits; ++i) text.push_back(static_cast<wchar>('0' + in.byte() % 10));
    }
    return text;
}

void formatDirectives(const std::uint8_t* data, std::size_t size) {
    static const char* const kSizes[] = {"", "h", "hh", "l", "ll", "I64", "I32", "I", "z", "w"};
    static const char kConversions[] = "diuxXofeEgGcCsSp%qZ";  // q, Z: unknown; the end: none
    Bytes in(data, size);
    for (int round = 0; round < 4 && !in.empty(); ++round) {
        wstring format;
        for (unsigned n = in.byte() % 6; n > 0; --n) {
            const wchar c = static_cast<wchar>(in.number(2));
            format.push_back(c == '%' ? wchar('#') : c == 0 ? wchar(' ') : c);
        }
        format += W("%");
        const std::uint8_t flags = in.byte();
        for (int bit = 0; bit < 5; ++bit)
            if (flags & (1 << bit)) format.push_back(static_cast<wchar>("-+ 0#"[bit]));
        std::vector<int> stars;
        format += fieldPart(in, stars, false, round == 0);
        format += fieldPart(in, stars, true, round == 0);
        const std::size_t sizeIndex = in.byte() % (sizeof kSizes / sizeof kSizes[0]);
        for (const char* s = kSizes[sizeIndex]; *s; ++s) format.push_back(static_cast<wchar>(*s));
        const char conversion = kConversions[in.byte() % sizeof kConversions];
        if (conversion) format.push_back(static_cast<wchar>(conversion));
        const std::string size = kSizes[sizeIndex];

        wstring out;
        const std::uint64_t raw = in.number(8);
        switch (conversion) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                if (size == "l")
                    out = call(format, stars, static_cast<long>(raw));
                else if (size == "ll" || size == "I64")
                    out = call(format, stars, static_cast<long long>(raw));
                else if (size == "I" || size == "z")
                    out = call(format, stars, static_cast<std::intptr_t>(raw));
                else
                    out = call(format, stars, static_cast<int>(raw));
                break;
            case 'f':
            case 'e':
            case 'E':
            case 'g':
            case 'G': {
                double value;
                std::memcpy(&value, &raw, sizeof value);
                out = call(format, stars, value);
                break;
            }
            case 'c':
            case 'C': out = call(format, stars, static_cast<int>(raw)); break;
            case 's':
            case 'S': {
                const bool wide = conversion == 's' ? (size != "h" && size != "hh") : (size == "l" || size == "w");
                // The text; a precision may cut it.
                const std::size_t length = raw % 64;
                if (wide) {
                    std::vector<wchar> text(length + 1, 0);
                    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<wchar>(in.number(2) | 1);
                    out = call(format, stars, (raw & 0x100) ? static_cast<const wchar*>(nullptr) : text.data());
                } else {
                    std::vector<char> text(length + 1, 0);
                    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(in.byte() | 1);
                    out = call(format, stars, (raw & 0x100) ? static_cast<const char*>(nullptr) : text.data());
                }
                break;
            }
            case 'p': out = call(format, stars, reinterpret_cast<void*>(static_cast<std::uintptr_t>(raw))); break;
            default: out = call(format, stars, 0); break;  // reads no value
        }
        FUZZ_CHECK(out.size() <= format.size() + 2 * (1u << 16) + 400);
    }
}

void composeMessage(const std::uint8_t* data, std::size_t size) {
    const auto pieces = fuzz::split(data, size, '\0', 2);
    const wstring text = fuzz::utf16(pieces[0]);
    const wstring argument = pieces.size() > 1 ? fuzz::utf16(pieces[1]) : wstring();
    FUZZ_CHECK(substitutePlaceholder(text, argument).size() <= kTextLimit);
    FUZZ_CHECK(withLogPath(text, argument).size() <= kTextLimit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    switch (data[0] % 3) {
        case 0: splitWords(data + 1, size - 1); break;
        case 1: formatDirectives(data + 1, size - 1); break;
        default: composeMessage(data + 1, size - 1); break;
    }
    return 0;
}
