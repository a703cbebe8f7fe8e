// The compile-time check of wide printf-style formats: what it accepts and
// what it refuses.  The checks run when this file compiles; the test only
// makes them visible in the test list.
#include "launcher/format_check.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

template <typename... Ts>
constexpr bool accepts(const wchar* format, const Ts&... args) {
    return format_check::matches(format, decltype(format_check::argumentTypes(format, args...)){});
}

constexpr const wchar* kWide = W("wide");
constexpr const char* kNarrow = "narrow";
constexpr int kInt = 1;
constexpr std::int64_t kLong64 = 3;
constexpr double kDouble = 0.5;
constexpr void* kPointer = nullptr;
enum Code { kCode = 7 };

// Every form the launcher's log lines use.
static_assert(accepts(W("no arguments")));
static_assert(accepts(W("100%% done")));
static_assert(accepts(W("%s and %S"), kWide, kNarrow));
static_assert(accepts(W("%d %u %x %X %c %i"), kInt, kInt, kInt, kInt, kInt, kInt));
static_assert(accepts(W("error %d"), kCode));
#ifdef _WIN32
static_assert(accepts(W("error %d"), 2ul), "a DWORD is 32 bits on Windows");
#endif
static_assert(accepts(W("%I64d and %lld"), kLong64, kLong64));
static_assert(accepts(W("%p"), kPointer));
static_assert(accepts(W("%.2f of %.1f%%"), kDouble, kDouble));
static_assert(accepts(W("%-10s|%*d|%.*s"), kWide, kInt, kInt, kInt, kWide));
static_assert(accepts(W("%hs and %ls"), kNarrow, kWide));
static_assert(accepts(W("[%d:%d] "), kInt, kInt));
static_assert(accepts(W("%Iu"), std::uintptr_t(0)), "pointer-sized integers");

// What it refuses.
static_assert(!accepts(W("%s"), kNarrow), "an 8-bit string for %s");
static_assert(!accepts(W("%S"), kWide), "a UTF-16 string for %S");
static_assert(!accepts(W("%d"), kLong64), "a 64-bit integer without I64");
static_assert(!accepts(W("%I64d"), kInt), "a 32-bit integer for I64");
static_assert(!accepts(W("%d %d"), kInt), "too few arguments");
static_assert(!accepts(W("%d"), kInt, kInt), "too many arguments");
static_assert(!format_check::matches(W("%s"), format_check::Types<const wchar*, wstring>{}),
              "a string object instead of its characters");
static_assert(!accepts(W("%p"), kInt), "an integer for a pointer");
static_assert(!accepts(W("%f"), kInt), "an integer for a floating-point number");
static_assert(!accepts(W("%k"), kInt), "an unknown conversion");
static_assert(!accepts(W("%*d"), kInt), "a star without its width argument");

}  // namespace

TEST(FormatCheck, RunsWhenThisFileCompiles) {
    EXPECT_TRUE(accepts(W("%s %d"), kWide, kCode));
    EXPECT_FALSE(accepts(W("%s"), kNarrow));
}
