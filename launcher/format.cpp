// printf-style formatting into a UTF-16 string, following the conventions of
// the Windows wide-character runtime: "%s" is a wide string and "%S" a narrow
// one, "%c" a wide character and "%C" a narrow one, "I64"/"I32"/"I" size
// prefixes, "%p" as zero-padded upper-case hex.  The same code runs on Linux,
// where the wide type is char16_t, so the output never depends on a C library.
#include "launcher/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Widths and numeric precisions beyond this are clamped.  Callers bound their
// texts far below it (kTextLimit); the clamp only keeps a stray "%999999999d"
// or a wild "*" argument from asking for gigabytes of padding.
constexpr int kFieldLimit = 1 << 16;

static_assert(kFieldLimit > static_cast<int>(kTextLimit), "field clamp must not cut texts");

enum class Size { Default, Char, Short, Long, LongLong, Int32, Pointer, SizeT, Wide };

// One parsed conversion: "%" flags width .precision size conversion.
struct Directive {
    bool left = false;   // '-'
    bool plus = false;   // '+'
    bool space = false;  // ' '
    bool zero = false;   // '0'
    bool alt = false;    // '#'
    int width = 0;
    int precision = -1;  // -1: none given
    Size size = Size::Default;
};

// The caller's arguments.  A va_list is an array type on some ABIs, so it is
// copied into a struct that can be passed around by reference.
struct Args {
    va_list list;
};

bool isDigit(wchar c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at `p`, saturating at kFieldLimit.
int readNumber(const wchar*& p) {
    int value = 0;
    while (isDigit(*p)) {
        if (value < kFieldLimit) value = value * 10 + static_cast<int>(*p - '0');
        ++p;
    }
    return value < kFieldLimit ? value : kFieldLimit;
}

int clampField(int value) { return value < kFieldLimit ? value : kFieldLimit; }

void appendAscii(wstring& out, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(static_cast<wchar>(static_cast<unsigned char>(text[i])));
    }
}

// Writes prefix (sign, "0x") and body into a field of directive.width characters:
// left-justified with spaces after, or right-justified with zeros between
// prefix and body when zeroPad, or with spaces before.
void emitField(wstring& out, const Directive& directive, const wstring& prefix, const wstring& body, bool zeroPad) {
    const std::size_t used = prefix.size() + body.size();
    const std::size_t width = static_cast<std::size_t>(directive.width);
    const std::size_t padding = width > used ? width - used : 0;
    if (directive.left) {
        out += prefix;
        out += body;
        out.append(padding, wchar(' '));
    } else if (zeroPad) {
        out += prefix;
        out.append(padding, wchar('0'));
        out += body;
    } else {
        out.append(padding, wchar(' '));
        out += prefix;
        out += body;
    }
}

// Reads a signed integer argument of the given size, widened to 64 bits.
long long readSigned(Args& args, Size size) {
    switch (size) {
        case Size::Char: return static_cast<signed char>(va_arg(args.list, int));
        case Size::Short: return static_cast<short>(va_arg(args.list, int));
        case Size::Long: return va_arg(args.list, long);
        case Size::LongLong: return va_arg(args.list, long long);
        case Size::Int32: return va_arg(args.list, std::int32_t);
        case Size::Pointer: return va_arg(args.list, std::intptr_t);
        case Size::SizeT: return va_arg(args.list, std::ptrdiff_t);
        default: return va_arg(args.list, int);
    }
}

// Reads an unsigned integer argument of the given size, widened to 64 bits.
unsigned long long readUnsigned(Args& args, Size size) {
    switch (size) {
        case Size::Char: return static_cast<unsigned char>(va_arg(args.list, unsigned int));
        case Size::Short: return static_cast<unsigned short>(va_arg(args.list, unsigned int));
        case Size::Long: return va_arg(args.list, unsigned long);
        case Size::LongLong: return va_arg(args.list, unsigned long long);
        case Size::Int32: return va_arg(args.list, std::uint32_t);
        case Size::Pointer: return va_arg(args.list, std::uintptr_t);
        case Size::SizeT: return va_arg(args.list, std::size_t);
        default: return va_arg(args.list, unsigned int);
    }
}

// Digits of `value` in base 8, 10 or 16, most significant first.
wstring digitsOf(unsigned long long value, unsigned base, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    wchar reversed[64];
    std::size_t n = 0;
    do {
        reversed[n++] = static_cast<wchar>(symbols[value % base]);
        value /= base;
    } while (value != 0);
    wstring digits;
    digits.reserve(n);
    while (n > 0) digits.push_back(reversed[--n]);
    return digits;
}

// d i u x X o.
void formatInteger(wstring& out, const Directive& directive, wchar conversion, Args& args) {
    wstring prefix;
    unsigned long long magnitude;
    unsigned base = 10;
    if (conversion == 'd' || conversion == 'i') {
        const long long value = readSigned(args, directive.size);
        if (value < 0) {
            prefix = W("-");
            magnitude = 0ULL - static_cast<unsigned long long>(value);
        } else {
            if (directive.plus)
                prefix = W("+");
            else if (directive.space)
                prefix = W(" ");
            magnitude = static_cast<unsigned long long>(value);
        }
    } else {
        magnitude = readUnsigned(args, directive.size);
        if (conversion == 'o') base = 8;
        if (conversion == 'x' || conversion == 'X') base = 16;
    }

    // An explicit precision of zero prints the value zero as no digits.
    wstring digits;
    if (!(magnitude == 0 && directive.precision == 0)) {
        digits = digitsOf(magnitude, base, conversion == 'X');
    }
    if (directive.precision > 0 && digits.size() < static_cast<std::size_t>(directive.precision)) {
        digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), wchar('0'));
    }
    if (directive.alt && base == 8 && (digits.empty() || digits[0] != '0')) {
        digits.insert(digits.begin(), wchar('0'));
    }
    if (directive.alt && base == 16 && magnitude != 0) {
        prefix = conversion == 'X' ? W("0X") : W("0x");
    }
    emitField(out, directive, prefix, digits, directive.zero && directive.precision < 0);
}

// f e g E G.  The C library does the digits; the sign, exponent width,
// infinities and padding are settled here so that every runtime agrees.
void formatFloat(wstring& out, const Directive& directive, wchar conversion, Args& args) {
    const double value = va_arg(args.list, double);
    const bool upper = conversion == 'E' || conversion == 'G';

    wstring prefix;
    if (std::signbit(value) && !std::isnan(value))
        prefix = W("-");
    else if (directive.plus)
        prefix = W("+");
    else if (directive.space)
        prefix = W(" ");

    if (!std::isfinite(value)) {
        const char* text = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
        wstring body;
        appendAscii(body, text, 3);
        emitField(out, directive, prefix, body, false);
        return;
    }

    // Rebuild a narrow conversion without sign flags or width, for |value|.
    char narrow[32];
    int length;
    const char conv = static_cast<char>(conversion);
    if (directive.precision >= 0) {
        length =
            std::snprintf(narrow, sizeof narrow, directive.alt ? "%%#.%d%c" : "%%.%d%c", directive.precision, conv);
    } else {
        length = std::snprintf(narrow, sizeof narrow, directive.alt ? "%%#%c" : "%%%c", conv);
    }
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof narrow) return;

    const double magnitude = std::fabs(value);
    const int needed = std::snprintf(nullptr, 0, narrow, magnitude);
    if (needed <= 0) return;
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    const int written = std::snprintf(&text[0], text.size(), narrow, magnitude);
    if (written <= 0) return;
    text.resize(std::min(static_cast<std::size_t>(written), text.size() - 1));

    // Some runtimes print exponents with three digits ("e+005"); use the C
    // standard's minimum of two ("e+05") everywhere.
    const std::size_t e = text.find_first_of("eE");
    if (e != std::string::npos && e + 2 < text.size()) {
        const std::size_t firstDigit = e + 2;  // after the exponent's sign
        while (text.size() - firstDigit > 2 && text[firstDigit] == '0') text.erase(firstDigit, 1);
    }

    wstring body;
    appendAscii(body, text.data(), text.size());
    emitField(out, directive, prefix, body, directive.zero);
}

// c C: a wide or narrow character, by conversion and size prefix.
void formatChar(wstring& out, const Directive& directive, bool wide, Args& args) {
    const int value = va_arg(args.list, int);
    const wchar c = wide ? static_cast<wchar>(static_cast<unsigned>(value) & 0xFFFFu)
                         : static_cast<wchar>(static_cast<unsigned char>(value));
    emitField(out, directive, wstring(), wstring(1, c), directive.zero);
}

// s S: a wide or narrow string; the precision bounds how much is read, so an
// unterminated buffer with an explicit precision is never overrun.
void formatString(wstring& out, const Directive& directive, bool wide, Args& args) {
    const std::size_t limit = directive.precision >= 0 ? static_cast<std::size_t>(directive.precision) : SIZE_MAX;
    wstring body;
    if (wide) {
        const wchar* text = va_arg(args.list, const wchar*);
        if (!text) text = W("(null)");
        for (std::size_t i = 0; i < limit && text[i]; ++i) body.push_back(text[i]);
    } else {
        const char* text = va_arg(args.list, const char*);
        if (!text) text = "(null)";
        for (std::size_t i = 0; i < limit && text[i]; ++i) {
            body.push_back(static_cast<wchar>(static_cast<unsigned char>(text[i])));
        }
    }
    emitField(out, directive, wstring(), body, directive.zero);
}

// p: the address as upper-case hex, two digits per byte of a pointer.
void formatPointer(wstring& out, const Directive& directive, Args& args) {
    const auto address = reinterpret_cast<std::uintptr_t>(va_arg(args.list, void*));
    wstring digits = digitsOf(address, 16, true);
    const std::size_t full = 2 * sizeof(void*);
    if (digits.size() < full) digits.insert(0, full - digits.size(), wchar('0'));
    emitField(out, directive, wstring(), digits, false);
}

// Parses the size prefix at `p`; leaves `p` on the conversion character.
Size readSize(const wchar*& p) {
    switch (*p) {
        case 'h':
            if (p[1] == 'h') {
                p += 2;
                return Size::Char;
            }
            ++p;
            return Size::Short;
        case 'l':
            if (p[1] == 'l') {
                p += 2;
                return Size::LongLong;
            }
            ++p;
            return Size::Long;
        case 'I':
            if (p[1] == '6' && p[2] == '4') {
                p += 3;
                return Size::LongLong;
            }
            if (p[1] == '3' && p[2] == '2') {
                p += 3;
                return Size::Int32;
            }
            ++p;
            return Size::Pointer;
        case 'z': ++p; return Size::SizeT;
        case 'w': ++p; return Size::Wide;
        default: return Size::Default;
    }
}

// Formats the conversion whose '%' is at `percent` and returns the position
// after it.  An unknown conversion is copied out as written and consumes no
// argument; a format that ends inside a conversion ends the output there.
const wchar* formatOne(wstring& out, const wchar* percent, Args& args) {
    const wchar* p = percent + 1;
    Directive directive;
    for (;; ++p) {
        if (*p == '-')
            directive.left = true;
        else if (*p == '+')
            directive.plus = true;
        else if (*p == ' ')
            directive.space = true;
        else if (*p == '0')
            directive.zero = true;
        else if (*p == '#')
            directive.alt = true;
        else
            break;
    }
    if (*p == '*') {
        const int width = va_arg(args.list, int);
        // A negative width from an argument means left-justified.
        if (width < 0) {
            directive.left = true;
            directive.width = width == INT_MIN ? kFieldLimit : clampField(-width);
        } else {
            directive.width = clampField(width);
        }
        ++p;
    } else {
        directive.width = readNumber(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            const int precision = va_arg(args.list, int);
            directive.precision = precision < 0 ? -1 : precision;  // negative: as if none
            ++p;
        } else {
            directive.precision = readNumber(p);
        }
    }
    directive.size = readSize(p);

    // String precisions only bound what is read; numeric ones add digits.
    const wchar conversion = *p;
    const bool numeric = conversion != 's' && conversion != 'S';
    if (numeric && directive.precision > kFieldLimit) directive.precision = kFieldLimit;

    const bool narrowSize = directive.size == Size::Short || directive.size == Size::Char;
    const bool wideSize = directive.size == Size::Long || directive.size == Size::Wide;
    switch (conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o': formatInteger(out, directive, conversion, args); break;
        case 'f':
        case 'e':
        case 'g':
        case 'E':
        case 'G': formatFloat(out, directive, conversion, args); break;
        case 'c': formatChar(out, directive, !narrowSize, args); break;
        case 'C': formatChar(out, directive, wideSize, args); break;
        case 's': formatString(out, directive, !narrowSize, args); break;
        case 'S': formatString(out, directive, wideSize, args); break;
        case 'p': formatPointer(out, directive, args); break;
        case '%': out.push_back(wchar('%')); break;
        case 0:
            // The format ends inside a conversion: copy what is there.
            out.append(percent, p);
            return p;
        default: out.append(percent, p + 1); break;
    }
    return p + 1;
}

}  // namespace

wstring formatWideV(const wchar* format, va_list args) {
    wstring out;
    if (!format) return out;
    Args copy;
    va_copy(copy.list, args);
    const wchar* p = format;
    while (*p) {
        if (*p != '%') {
            const wchar* run = p;
            while (*p && *p != '%') ++p;
            out.append(run, p);
        } else {
            p = formatOne(out, p, copy);
        }
    }
    va_end(copy.list);
    return out;
}

wstring(formatWide)(const wchar* format, ...) {
    va_list args;
    va_start(args, format);
    wstring out = formatWideV(format, args);
    va_end(args);
    return out;
}
