// Texts that Windows writes into a caller's buffer (paths, directories,
// environment values, module names), fetched by one rule instead of a fixed
// array and a hand-written length check at every call.
//
// The functions this serves report in one of two ways when the buffer is too
// small: the size they need (GetShortPathName, GetEnvironmentVariable,
// GetTempPath, GetCurrentDirectory and most others) or the buffer size itself
// with the text cut (GetModuleFileName).  Both read as "the answer is not
// shorter than the buffer": the buffer grows to what was asked for (at least
// double) and the call is repeated, up to `limit` characters.  A text that
// would not fit the limit is refused, never cut.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "launcher/text.h"

// `call(buffer, capacity)` fills the buffer and returns its length (without
// the terminator), 0 on failure, or a value of at least `capacity` when the
// buffer is too small.  The text, or none when the call failed or the text
// holds `limit` characters or more.
template <typename Char, typename Call>
std::optional<std::basic_string<Char>> fetchSystemText(Call call, std::size_t limit = kTextLimit) {
    std::size_t capacity = limit < 260 ? limit : 260;
    std::vector<Char> buffer;
    while (capacity > 0) {
        buffer.assign(capacity, Char(0));
        const std::size_t n = static_cast<std::size_t>(call(buffer.data(), capacity));
        if (n == 0) return std::nullopt;
        if (n < capacity) return std::basic_string<Char>(buffer.data(), n);
        if (capacity >= limit) return std::nullopt;
        std::size_t wanted = n + 1 > capacity * 2 ? n + 1 : capacity * 2;
        capacity = wanted < limit ? wanted : limit;
    }
    return std::nullopt;
}

// The same, with "" for a failed or refused call, for callers that treat an
// empty answer as no answer.
template <typename Char, typename Call>
std::basic_string<Char> systemTextOrEmpty(Call call, std::size_t limit = kTextLimit) {
    return fetchSystemText<Char>(call, limit).value_or(std::basic_string<Char>());
}
