// Text conversions and signature parsing of the JNI test double.
#include <cstdio>
#include <cstring>

#include "tests/jni_double/environment_impl.h"

namespace jni_double {

namespace {

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHigh(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string quoted(const std::wstring& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            out += "\\\"";
        } else if (c == L'\\') {
            out += "\\\\";
        } else if (c == L'\n') {
            out += "\\n";
        } else if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\t') {
            out += "\\t";
        } else if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((static_cast<unsigned long>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c < 0x20 || isHigh(c) || isLow(c)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            appendUtf8(out, c);
        }
    }
    return out + "\"";
}

std::string quoted(const std::string& ascii) { return quoted(std::wstring(ascii.begin(), ascii.end())); }

std::string toUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((static_cast<unsigned long>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, isHigh(c) || isLow(c) ? 0xFFFD : c);
        }
    }
    return out;
}

std::wstring fromModifiedUtf8(const char* text) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    auto continuation = [&p](int n) {
        for (int i = 1; i <= n; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        return true;
    };
    while (*p) {
        if (*p < 0x80) {
            out += static_cast<wchar_t>(*p++);
        } else if ((*p & 0xE0) == 0xC0 && continuation(1)) {
            out += static_cast<wchar_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if ((*p & 0xF0) == 0xE0 && continuation(2)) {
            out += static_cast<wchar_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else if ((*p & 0xF8) == 0xF0 && continuation(3)) {  // standard UTF-8, taken leniently
            const unsigned long code =
                ((p[0] & 0x07UL) << 18) | ((p[1] & 0x3FUL) << 12) | ((p[2] & 0x3FUL) << 6) | (p[3] & 0x3FUL);
            out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            p += 4;
        } else {
            out += static_cast<wchar_t>(0xFFFD);
            ++p;
        }
    }
    return out;
}

std::string toModifiedUtf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == 0)
            out += "\xC0\x80";
        else
            appendUtf8(out, c);
    }
    return out;
}

bool parseSignature(const std::string& signature, std::vector<std::string>& parameters, std::string& result) {
    parameters.clear();
    if (signature.empty() || signature[0] != '(') return false;
    std::size_t i = 1;
    auto readType = [&signature, &i](std::string& type, bool allowVoid) {
        const std::size_t start = i;
        while (i < signature.size() && signature[i] == '[') ++i;
        if (i >= signature.size()) return false;
        const char c = signature[i];
        if (c == 'L') {
            const std::size_t end = signature.find(';', i);
            if (end == std::string::npos || end == i + 1) return false;
            i = end + 1;
        } else if (std::strchr("ZBCSIJFD", c) || (c == 'V' && allowVoid && start == i)) {
            ++i;
        } else {
            return false;
        }
        type = signature.substr(start, i - start);
        return true;
    };
    while (i < signature.size() && signature[i] != ')') {
        std::string type;
        if (!readType(type, false)) return false;
        parameters.push_back(type);
    }
    if (i >= signature.size()) return false;
    ++i;
    return readType(result, true) && i == signature.size();
}

}  // namespace jni_double
