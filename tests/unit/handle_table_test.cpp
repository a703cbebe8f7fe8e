#include "natives/handle_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

using namespace handles;

namespace {

void put(std::vector<unsigned char>& out, std::size_t at, std::uint64_t value, std::size_t bytes) {
    if (out.size() < at + bytes) out.resize(at + bytes);
    for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A handle table as a process of the given pointer width gets it: the count,
// then the entries with a dummy object address between handle and access.
std::vector<unsigned char> table(std::uint32_t count, const std::vector<HandleEntry>& entries,
                                 std::size_t pointerBytes) {
    std::vector<unsigned char> out;
    const std::size_t header = pointerBytes == 8 ? 8 : 4, size = pointerBytes == 8 ? 24 : 16;
    out.resize(header);
    put(out, 0, count, 4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = header + i * size;
        put(out, at, entries[i].pid, 4);
        put(out, at + 4, entries[i].objectType, 1);
        put(out, at + 5, entries[i].flags, 1);
        put(out, at + 6, entries[i].handle, 2);
        put(out, at + 8, 0xDEADBEEFCAFEF00Dull, pointerBytes);
        put(out, at + 8 + pointerBytes, entries[i].grantedAccess, 4);
        out.resize(at + size);
    }
    return out;
}

// The bytes in an allocation of exactly their size, so the sanitizer catches
// a read past them.
std::unique_ptr<unsigned char[]> exact(const std::vector<unsigned char>& bytes) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

TEST(HandleTable, EntriesOfBothPointerWidths) {
    const std::vector<HandleEntry> entries = {
        {1234, 28, 0, 0x44, 0x0012019F}, {1234, 37, 2, 0xFFFC, 0x00100001}, {99, 28, 0, 8, 0x001F01FF}};
    for (std::size_t width : {4u, 8u}) {
        const auto bytes = table(3, entries, width);
        EXPECT_EQ(bytes.size(), tableHeaderBytes(width) + 3 * tableEntryBytes(width));
        const auto copy = exact(bytes);
        EXPECT_EQ(parseHandleTable(copy.get(), bytes.size(), width), entries) << width;
    }
}

TEST(HandleTable, ACountBeyondTheReturnedBytesIsNeverReadPast) {
    const std::vector<HandleEntry> entries = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
    struct Case {
        std::uint32_t count;
        std::size_t cut;  // bytes removed from the end
        std::size_t parsed;
    };
    for (std::size_t width : {4u, 8u}) {
        for (const Case& c :
             std::vector<Case>{{2, 0, 2}, {1000000, 0, 2}, {0xFFFFFFFFu, 1, 1}, {2, 0, 2}, {0, 0, 0}, {1, 0, 1}}) {
            auto bytes = table(c.count, entries, width);
            bytes.resize(bytes.size() - c.cut);
            const auto copy = exact(bytes);
            const auto parsed = parseHandleTable(copy.get(), bytes.size(), width);
            ASSERT_TRUE(parsed.has_value());
            EXPECT_EQ(parsed->size(), c.parsed) << "count " << c.count << " width " << width;
        }
    }
    const std::vector<unsigned char> tooShort = {1, 0, 0};
    EXPECT_FALSE(parseHandleTable(tooShort.data(), tooShort.size(), 8).has_value());
    const auto headerOnly = table(5, {}, 8);
    EXPECT_EQ(parseHandleTable(headerOnly.data(), 6, 8)->size(), 0u);  // less than the 64-bit header
    EXPECT_FALSE(parseHandleTable(headerOnly.data(), headerOnly.size(), 2).has_value());
}

TEST(HandleTable, BufferGrowsByDoublingUpToItsLimit) {
    std::size_t size = kFirstTableBytes;
    int steps = 0;
    while (auto next = nextTableBytes(size)) {
        EXPECT_EQ(*next, size * 2);
        size = *next;
        ++steps;
    }
    EXPECT_EQ(size, kTableLimitBytes);
    EXPECT_EQ(steps, 11);
    EXPECT_FALSE(nextTableBytes(0).has_value());
}

// A counted string answer as the object manager writes it at `base`: the
// header, then (at `textAt`) the characters.
std::vector<unsigned char> countedAnswer(std::uint16_t length, std::uint64_t pointer, std::size_t width,
                                         std::size_t textAt, const std::u16string& text, std::size_t total) {
    std::vector<unsigned char> out(total, 0);
    put(out, 0, length, 2);
    put(out, 2, length, 2);
    put(out, width, pointer, width);
    for (std::size_t i = 0; i < text.size(); ++i) put(out, textAt + 2 * i, text[i], 2);
    out.resize(total);
    return out;
}

TEST(CountedStrings, TakenOnlyWhenPointerAndLengthLieInsideTheAnswer) {
    const std::uintptr_t base = 0x10000;
    struct Case {
        const char* what;
        std::uint16_t length;
        std::uint64_t pointer;
        std::size_t total;
        std::optional<std::u16string> text;
    };
    for (std::size_t width : {4u, 8u}) {
        const std::size_t at = 2 * width;
        const std::vector<Case> cases = {
            {"inside", 8, base + at, 64, u"File"},
            {"ends exactly at the end", 8, base + at, at + 8, u"File"},
            {"one byte past the end", 8, base + at, at + 7, std::nullopt},
            {"pointer before the answer", 8, base - 2, 64, std::nullopt},
            {"pointer far beyond", 8, base + 0x100000, 64, std::nullopt},
            {"odd length", 7, base + at, 64, std::nullopt},
            {"empty with a null pointer", 0, 0, 64, u""},
            {"answer smaller than the header", 8, base + at, at - 1, std::nullopt},
        };
        for (const Case& c : cases) {
            const auto bytes = countedAnswer(c.length, c.pointer, width, at, u"File", c.total);
            const auto copy = exact(bytes);
            EXPECT_EQ(readCountedString(copy.get(), bytes.size(), base, width), c.text) << c.what << " width " << width;
        }
    }
}

TEST(HandleListing, OnlyNamedFiles) {
    const std::vector<std::tuple<std::u16string, std::u16string, bool>> cases = {
        {u"File", u"\\??\\C:\\x.txt", true},     {u"File", u"", false},
        {u"file", u"\\??\\C:\\x", false},        {u"Files", u"\\??\\C:\\x", false},
        {u"Key", u"\\REGISTRY\\MACHINE", false},
    };
    for (const auto& [type, name, listed] : cases) EXPECT_EQ(isListedHandle(type, name), listed);
}

TEST(CountedLengths, NamesAndLinkTargetsMustFitSixteenBits) {
    EXPECT_EQ(countedBytes(0), std::optional<std::uint16_t>(0));
    EXPECT_EQ(countedBytes(6), std::optional<std::uint16_t>(12));
    EXPECT_EQ(countedBytes(32767), std::optional<std::uint16_t>(65534));
    EXPECT_FALSE(countedBytes(32768).has_value());
    EXPECT_EQ(linkTargetBufferBytes(40), std::optional<std::uint16_t>(42));
    EXPECT_EQ(linkTargetBufferBytes(65533), std::optional<std::uint16_t>(65535));
    EXPECT_FALSE(linkTargetBufferBytes(65534).has_value());
    EXPECT_FALSE(linkTargetBufferBytes(0xFFFFFFFFu).has_value());
}

}  // namespace
