#include "natives/registry_data.h"

#include <algorithm>

namespace registry {

namespace {

char16_t charAt(const unsigned char* data, std::size_t index) {
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

void appendChars(Bytes& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
}

}  // namespace

std::optional<Root> rootForCode(int code) {
    switch (code) {
        case 1: return Root::classesRoot;
        case 2: return Root::currentUser;
        case 3: return Root::localMachine;
        case 4: return Root::users;
        case 5: return Root::currentConfig;
        default: return std::nullopt;
    }
}

std::optional<std::uint32_t> typeForCode(int code) {
    switch (code) {
        case 1: return kTypeString;
        case 2: return kTypeDword;
        case 3: return kTypeMultiString;
        case 4: return kTypeBinary;
        case 5: return kTypeExpandString;
        default: return std::nullopt;
    }
}

std::u16string decodeString(const unsigned char* data, std::size_t size) {
    std::size_t count = size / 2;
    if (count > 0 && charAt(data, count - 1) == u'\0') --count;
    std::u16string text(count, u'\0');
    for (std::size_t i = 0; i < count; ++i) text[i] = charAt(data, i);
    return text;
}

std::vector<std::u16string> decodeMultiString(const unsigned char* data, std::size_t size) {
    const std::size_t count = size / 2;
    std::vector<std::u16string> strings;
    std::size_t pos = 0;
    // The data's last character is the list's closing NUL unless it is text.
    while (pos + 1 < count || (pos + 1 == count && charAt(data, pos) != u'\0')) {
        std::u16string element;
        while (pos < count && charAt(data, pos) != u'\0') element.push_back(charAt(data, pos++));
        strings.push_back(std::move(element));
        ++pos;  // past the NUL (or the end of the data)
    }
    return strings;
}

std::optional<std::int32_t> decodeDword(const unsigned char* data, std::size_t size) {
    if (size < 4) return std::nullopt;
    const std::uint32_t bits = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                               (static_cast<std::uint32_t>(data[2]) << 16) |
                               (static_cast<std::uint32_t>(data[3]) << 24);
    return static_cast<std::int32_t>(bits);
}

Bytes encodeString(std::u16string_view text) {
    Bytes out;
    out.reserve((std::min(text.size(), kMaxStringChars) + 1) * 2);
    appendChars(out, text.substr(0, kMaxStringChars));
    appendChars(out, std::u16string_view(u"", 1));
    return out;
}

Bytes encodeDword(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return Bytes{static_cast<unsigned char>(bits & 0xFF), static_cast<unsigned char>((bits >> 8) & 0xFF),
                 static_cast<unsigned char>((bits >> 16) & 0xFF), static_cast<unsigned char>(bits >> 24)};
}

Bytes encodeBinary(const unsigned char* data, std::size_t size) {
    return Bytes(data, data + std::min(size, kValueBufferBytes));
}

bool MultiStringBuilder::add(std::u16string_view element) {
    if (element.empty() || element.find(u'\0') != std::u16string_view::npos) return false;
    if (text_.size() + element.size() + 2 > kValueBufferChars) return false;
    text_.append(element);
    text_.push_back(u'\0');
    return true;
}

Bytes MultiStringBuilder::finish() const {
    Bytes out;
    appendChars(out, text_);
    appendChars(out, std::u16string_view(u"", 1));
    return out;
}

}  // namespace registry
