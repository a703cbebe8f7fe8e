// Compile-time check of the launcher's printf-style formats against their
// arguments.  The compiler checks narrow printf formats by itself, but not the
// wide-character convention the launch log and formatWide follow, so a "%s"
// given an 8-bit string or a forgotten argument would only show as garbage in
// a log.  Here the format literal is parsed by a constexpr function and every
// conversion compared with the type of its argument:
//
//   d i u x X o c C   an integer of at most 32 bits (64 with "ll" or "I64")
//   s                 a UTF-16 string (an 8-bit one with "h")
//   S                 an 8-bit string (a UTF-16 one with "l" or "w")
//   p                 a pointer or handle
//   f e g E G         a floating-point number
//   "*" width or precision: an integer
//
// The number of arguments must equal the number of conversions.  Formats must
// be literals (a constant expression), which also keeps text that is not a
// format from being used as one.
#pragma once

#include <cstddef>
#include <type_traits>

#include "launcher/text.h"

namespace format_check {

template <typename... Ts>
struct Types {};

// Only named inside decltype: the decayed types of a call's arguments.
template <typename... Ts>
Types<std::decay_t<Ts>...> argumentTypes(const Ts&...);

enum class Kind { Int, Int64, Pointer, WideString, NarrowString, Double, Other };

template <typename T>
constexpr Kind kindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, const wchar*> || std::is_same_v<U, wchar*>) {
        return Kind::WideString;
    } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
        return Kind::NarrowString;
    } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
        return Kind::Pointer;
    } else if constexpr (std::is_enum_v<U>) {
        return sizeof(U) <= 4 ? Kind::Int : Kind::Int64;
    } else if constexpr (std::is_integral_v<U>) {
        return sizeof(U) <= 4 ? Kind::Int : Kind::Int64;
    } else if constexpr (std::is_floating_point_v<U>) {
        return Kind::Double;
    } else {
        return Kind::Other;
    }
}

// The kinds a format asks for, in order, and how many.
struct Expected {
    Kind kinds[32] = {};
    int count = 0;
    bool valid = true;  // false: unknown conversion or more than 32 of them

    constexpr void add(Kind kind) {
        if (count == 32) {
            valid = false;
            return;
        }
        kinds[count++] = kind;
    }
};

template <typename Char>
constexpr Expected parse(const Char* format) {
    Expected expected;
    const Char* p = format;
    while (*p) {
        if (*p++ != Char('%')) continue;
        if (*p == Char('%')) {
            ++p;
            continue;
        }
        while (*p == Char('-') || *p == Char('+') || *p == Char(' ') || *p == Char('0') || *p == Char('#')) ++p;
        if (*p == Char('*')) {
            expected.add(Kind::Int);
            ++p;
        }
        while (*p >= Char('0') && *p <= Char('9')) ++p;
        if (*p == Char('.')) {
            ++p;
            if (*p == Char('*')) {
                expected.add(Kind::Int);
                ++p;
            }
            while (*p >= Char('0') && *p <= Char('9')) ++p;
        }
        // Size prefix.
        bool narrow = false, wide = false, wide64 = false, pointerSized = false;
        if (*p == Char('h')) {
            narrow = true;
            ++p;
            if (*p == Char('h')) ++p;
        } else if (*p == Char('l')) {
            wide = true;
            ++p;
            if (*p == Char('l')) {
                wide64 = true;
                ++p;
            }
        } else if (*p == Char('I')) {
            ++p;
            if (p[0] == Char('6') && p[1] == Char('4')) {
                wide64 = true;
                p += 2;
            } else if (p[0] == Char('3') && p[1] == Char('2')) {
                p += 2;
            } else {
                pointerSized = true;
            }
        } else if (*p == Char('z')) {
            pointerSized = true;
            ++p;
        } else if (*p == Char('w')) {
            wide = true;
            ++p;
        }
        const Kind integer = wide64 || (pointerSized && sizeof(void*) == 8) ? Kind::Int64 : Kind::Int;
        switch (static_cast<char>(*p)) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'c':
            case 'C': expected.add(integer); break;
            case 's': expected.add(narrow ? Kind::NarrowString : Kind::WideString); break;
            case 'S': expected.add(wide ? Kind::WideString : Kind::NarrowString); break;
            case 'p': expected.add(Kind::Pointer); break;
            case 'f':
            case 'e':
            case 'g':
            case 'E':
            case 'G': expected.add(Kind::Double); break;
            default: expected.valid = false; return expected;
        }
        ++p;
    }
    return expected;
}

// True when the format's conversions and the arguments after it agree.
template <typename Char, typename FormatType, typename... Ts>
constexpr bool matches(const Char* format, Types<FormatType, Ts...>) {
    const Expected expected = parse(format);
    if (!expected.valid || expected.count != static_cast<int>(sizeof...(Ts))) return false;
    const Kind actual[sizeof...(Ts) + 1] = {kindOf<Ts>()..., Kind::Other};
    for (int i = 0; i < expected.count; ++i)
        if (actual[i] != expected.kinds[i]) return false;
    return true;
}

template <bool ok>
struct Verdict {
    static_assert(ok, "the format's conversions do not match its arguments (see format_check.h)");
};

}  // namespace format_check

#define LAUNCHER_FORMAT_FIRST_(first, ...) first
#define LAUNCHER_FORMAT_FIRST(...) LAUNCHER_FORMAT_FIRST_(__VA_ARGS__, 0)

// Expands to an expression that fails to compile when the format (the first
// argument, a literal) does not match the arguments after it.
#define LAUNCHER_CHECK_FORMAT(...)                                                          \
    static_cast<void>(                                                                      \
        ::format_check::Verdict<::format_check::matches(LAUNCHER_FORMAT_FIRST(__VA_ARGS__), \
                                                        decltype(::format_check::argumentTypes(__VA_ARGS__)){})>{})
