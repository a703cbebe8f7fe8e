#include "natives/registry_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace registry;

namespace {

using namespace std::string_literals;

Bytes utf16le(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    return out;
}

TEST(RegistryCodes, RootsAndTypesOfTheJavaSide) {
    const std::vector<std::pair<int, std::optional<Root>>> roots = {
        {0, std::nullopt},       {1, Root::classesRoot}, {2, Root::currentUser},
        {3, Root::localMachine}, {4, Root::users},       {5, Root::currentConfig},
        {6, std::nullopt},       {-1, std::nullopt},     {0x80000001, std::nullopt},
    };
    for (const auto& [code, root] : roots) EXPECT_EQ(rootForCode(code), root) << "root code " << code;

    // The Java codes differ from the registry's numbers: 2 is REG_DWORD (4), 4 is REG_BINARY (3).
    const std::vector<std::pair<int, std::optional<std::uint32_t>>> types = {
        {0, std::nullopt},  {1, 1u}, {2, 4u}, {3, 7u}, {4, 3u}, {5, 2u}, {6, std::nullopt}, {7, std::nullopt},
        {11, std::nullopt},
    };
    for (const auto& [code, type] : types) EXPECT_EQ(typeForCode(code), type) << "type code " << code;
}

TEST(RegistryStrings, ReadKeepsEverythingButOneTrailingNul) {
    struct Case {
        Bytes data;
        std::u16string expected;
    };
    Bytes oddSize = utf16le(u"ab\0"s);
    oddSize.push_back(0x41);  // a half character at the end is not read
    const std::vector<Case> cases = {
        {utf16le(u"abc"), u"abc"},  // stored without its NUL
        {utf16le(u"abc\0"s), u"abc"},
        {utf16le(u"abc\0\0"s), u"abc\0"s},  // a second trailing NUL stays
        {utf16le(u"a\0b\0"s), u"a\0b"s},    // inner NULs stay
        {{}, u""},
        {utf16le(u"\0"s), u""},
        {oddSize, u"ab"},
        {utf16le(u"\u4e2d\u00e9"), u"\u4e2d\u00e9"},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeString(c.data.data(), c.data.size()), c.expected);
}

TEST(RegistryStrings, WriteCutsAt49999CharactersAndAddsANul) {
    EXPECT_EQ(encodeString(u"abc"), utf16le(u"abc\0"s));
    EXPECT_EQ(encodeString(u""), utf16le(u"\0"s));
    EXPECT_EQ(encodeString(u"a\0b"s), utf16le(u"a\0b\0"s));  // round-trips through decodeString

    for (const std::size_t length : {std::size_t{49999}, std::size_t{50000}, std::size_t{60000}}) {
        std::u16string text(length, u'x');
        text[0] = u'F';
        const Bytes data = encodeString(text);
        ASSERT_EQ(data.size(), kValueBufferBytes) << length;
        EXPECT_EQ(decodeString(data.data(), data.size()), text.substr(0, 49999)) << length;
        EXPECT_EQ(data[data.size() - 2], 0);
        EXPECT_EQ(data[data.size() - 1], 0);
    }
}

TEST(RegistryMultiStrings, ReadSplitsAtNulsUpToTheClosingOne) {
    struct Case {
        Bytes data;
        std::vector<std::u16string> expected;
    };
    Bytes oddSize = utf16le(u"ab\0\0"s);
    oddSize.push_back(0x41);
    const std::vector<Case> cases = {
        {utf16le(u"a\0\0c\0\0"s), {u"a", u"", u"c"}},  // an empty middle element
        {utf16le(u"one\0two\0\0"s), {u"one", u"two"}},
        {utf16le(u"\0"s), {}},  // the empty list
        {{}, {}},
        {utf16le(u"\0\0"s), {u""}},
        {utf16le(u"a\0"s), {u"a"}},         // no closing NUL
        {utf16le(u"a\0b"s), {u"a", u"b"}},  // the last string ends with the data
        {utf16le(u"a\0bc"s), {u"a", u"bc"}},
        {utf16le(u"ab"), {u"ab"}},
        {oddSize, {u"ab"}},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeMultiString(c.data.data(), c.data.size()), c.expected);
}

TEST(RegistryMultiStrings, WriteRefusesEmptyElementsAndOverflow) {
    EXPECT_EQ(MultiStringBuilder().finish(), utf16le(u"\0"s));  // an empty array: one NUL

    MultiStringBuilder builder;
    EXPECT_TRUE(builder.add(u"a"));
    EXPECT_FALSE(builder.add(u""));
    EXPECT_FALSE(builder.add(u"b\0c"s));  // would read back as two elements
    EXPECT_TRUE(builder.add(u"\u4e2d"));
    const Bytes data = builder.finish();
    EXPECT_EQ(data, utf16le(u"a\0\u4e2d\0\0"s));
    EXPECT_EQ(decodeMultiString(data.data(), data.size()), (std::vector<std::u16string>{u"a", u"\u4e2d"}));

    // Used characters + element + its NUL + the closing NUL may reach 50,000.
    MultiStringBuilder full;
    EXPECT_FALSE(full.add(std::u16string(49999, u'y')));
    EXPECT_TRUE(full.add(std::u16string(49998, u'y')));
    EXPECT_FALSE(full.add(u"z"));
    EXPECT_EQ(full.finish().size(), kValueBufferBytes);

    MultiStringBuilder two;
    EXPECT_TRUE(two.add(std::u16string(30000, u'a')));
    EXPECT_FALSE(two.add(std::u16string(19998, u'b')));  // 30001 + 19998 + 2 > 50000
    EXPECT_TRUE(two.add(std::u16string(19997, u'b')));
    EXPECT_EQ(two.finish().size(), kValueBufferBytes);
}

TEST(RegistryNumbersAndBytes, DwordIsLittleEndianSignedAndBinaryIsCut) {
    const Bytes one{1, 0, 0, 0}, minusTwo{0xFE, 0xFF, 0xFF, 0xFF}, eight{4, 3, 2, 1, 9, 9, 9, 9}, three{1, 2, 3};
    EXPECT_EQ(decodeDword(one.data(), one.size()), 1);
    EXPECT_EQ(decodeDword(minusTwo.data(), minusTwo.size()), -2);
    EXPECT_EQ(decodeDword(eight.data(), eight.size()), 0x01020304);
    EXPECT_EQ(decodeDword(three.data(), three.size()), std::nullopt);  // never reads past the data
    EXPECT_EQ(encodeDword(-2), minusTwo);
    EXPECT_EQ(encodeDword(0x01020304), (Bytes{4, 3, 2, 1}));

    const Bytes big(kValueBufferBytes + 1, 7);
    EXPECT_EQ(encodeBinary(big.data(), big.size()).size(), kValueBufferBytes);
    EXPECT_EQ(encodeBinary(big.data(), 3), (Bytes{7, 7, 7}));
    EXPECT_TRUE(encodeBinary(big.data(), 0).empty());
}

}  // namespace
