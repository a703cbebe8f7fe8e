#include "tools/packer/text.h"

#include <cstdio>
#include <limits>

#include "tools/packer/errors.h"

namespace packer {
namespace {

std::string hexCodePoint(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// Calls emit(code point) for each character of a UTF-8 text.  Rejects
// truncated and overlong sequences, surrogates and values above U+10FFFF.
template <typename Emit>
void decodeUtf8(std::string_view text, const std::string& field, Emit emit) {
    auto malformed = [&](std::size_t at) {
        throw PackError(field + ": malformed UTF-8 at byte " + std::to_string(at));
    };
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            extra = 0;
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            c = lead & 0x07;
        } else {
            malformed(i);
        }
        if (i + static_cast<std::size_t>(extra) >= text.size() && extra != 0) malformed(i);
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) malformed(i);
            c = (c << 6) | (next & 0x3F);
        }
        static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) malformed(i);
        emit(c, i);
        i += static_cast<std::size_t>(extra) + 1;
    }
}

void appendEscapedCodeUnit(std::string& out, char32_t c) {
    switch (c) {
        case '\n': out += "\\n"; return;
        case '\t': out += "\\t"; return;
        case '\\': out += "\\\\"; return;
        case '"': out += "\\\""; return;
        default: break;
    }
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
    out += buffer;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isPlainAscii(char32_t c) { return c >= 0x20 && c < 0x7F && c != '\\' && c != '"'; }

}  // namespace

std::string utf8ToLatin1(std::string_view utf8, const std::string& field) {
    std::string out;
    out.reserve(utf8.size());
    decodeUtf8(utf8, field, [&](char32_t c, std::size_t at) {
        if (c > 0xFF)
            throw PackError(field + ": character " + hexCodePoint(c) + " at byte " + std::to_string(at) +
                            " is outside Latin-1 (this text is stored as 8-bit text)");
        out += static_cast<char>(c);
    });
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8, const std::string& field) {
    std::u16string out;
    out.reserve(utf8.size());
    decodeUtf8(utf8, field, [&](char32_t c, std::size_t) {
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (c >> 10));
            out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        }
    });
    return out;
}

std::string escapeBytes(std::string_view bytes) {
    std::string out;
    for (char byte : bytes) {
        char32_t c = static_cast<unsigned char>(byte);
        if (isPlainAscii(c))
            out += byte;
        else
            appendEscapedCodeUnit(out, c);
    }
    return out;
}

std::string escapeUtf16(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
            continue;
        }
        if (isPlainAscii(c) || c >= 0xA0)
            appendUtf8(out, c);
        else
            appendEscapedCodeUnit(out, c);
    }
    return out;
}

std::int32_t configInt(std::string_view text) {
    // The launcher converts through a buffer of 6,000 bytes including the terminator.
    text = text.substr(0, 5999);
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value < kLimit ? value : kLimit - 1);
}

}  // namespace packer
