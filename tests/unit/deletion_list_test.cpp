#include "frontend/deletion_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using deletion::kLineLimit;
using deletion::readListLines;
using Lines = std::vector<wstring>;

// The text as the Java side writes it: UTF-16LE, no byte-order mark.
std::vector<unsigned char> utf16le(const wstring& text) {
    std::vector<unsigned char> bytes;
    for (wchar c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    return bytes;
}

Lines read(const wstring& text) {
    const std::vector<unsigned char> bytes = utf16le(text);
    return readListLines(bytes.data(), bytes.size());
}

wstring repeated(std::size_t n, wchar c) { return wstring(n, c); }

TEST(DeletionList, LinesEndedByLfOrCrLf) {
    const struct {
        wstring text;
        Lines lines;
    } cases[] = {
        {W(""), {}},
        {W("a\nb\n"), {W("a"), W("b")}},
        {W("a\r\nb\r\n"), {W("a"), W("b")}},
        {W("a\r\n\r\nb"), {W("a"), W(""), W("b")}},  // an empty line stays, the last line needs no end
        {W("\n\nx\n"), {W(""), W(""), W("x")}},
        {W("a\r\r\n"), {W("a")}},    // every trailing CR goes
        {W("a\rb\n"), {W("a\rb")}},  // a CR inside the line stays
        {W("C:\\\u00e9\U0001F600\n"), {W("C:\\\u00e9\U0001F600")}},
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.text), c.lines);
}

TEST(DeletionList, NulStaysInItsLine) {
    const wstring text(W("c:\\a\0b\nc"), 8);
    EXPECT_EQ(read(text), (Lines{wstring(W("c:\\a\0b"), 6), W("c")}));
}

TEST(DeletionList, HalfCharacterAtTheEndIsIgnored) {
    std::vector<unsigned char> bytes = utf16le(W("ab"));
    bytes.push_back('c');
    EXPECT_EQ(readListLines(bytes.data(), bytes.size()), (Lines{W("ab")}));
    EXPECT_EQ(readListLines(bytes.data(), 1), Lines{});
}

TEST(DeletionList, LongLinesSplitIntoPiecesOfTheLimit) {
    const wstring full = repeated(kLineLimit, W('x'));
    const struct {
        wstring text;
        Lines lines;
    } cases[] = {
        // A line of exactly the limit is one line; its end adds no empty line.
        {full + W("\ny\n"), {full, W("y")}},
        {full + W("\r\ny"), {full, W("y")}},
        {full + W("\n\ny"), {full, W(""), W("y")}},
        {full + W("z\n"), {full, W("z")}},
        {full + full + W("\nz"), {full, full, W("z")}},
        {full + full, {full, full}},
        // A CR that lands as the last character of a piece still goes.
        {repeated(kLineLimit - 1, W('x')) + W("\r\nz"), {repeated(kLineLimit - 1, W('x')), W("z")}},
    };
    for (const auto& c : cases) {
        const Lines lines = read(c.text);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.text.size();
        for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], c.lines[i]) << i;
    }
}

}  // namespace
