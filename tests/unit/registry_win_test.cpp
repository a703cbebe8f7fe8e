// The registry layer (launcher/registry_win.h) under Wine, on keys below a
// sandbox of its own in HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE for the
// views).
#include "launcher/registry_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "natives/registry_data.h"

using namespace registry;
using namespace std::string_literals;

namespace {

using Bytes = std::vector<unsigned char>;

std::wstring sandboxPath(const wchar_t* base) {
    return std::wstring(base) + L"\\registry-" + std::to_wstring(GetCurrentProcessId());
}

bool exists(HKEY root, const std::wstring& path, REGSAM view = 0) { return keyExists({root, path.c_str(), view}); }

void create(HKEY root, const std::wstring& path, REGSAM view = 0) {
    ASSERT_TRUE(createKey({root, path.c_str(), view})) << "cannot create the test key";
}

Bytes utf16(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return Bytes(bytes, bytes + text.size() * sizeof(wchar_t));
}

class RegistryWin : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = sandboxPath(L"Software\\tovrix-unit-tests");
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        create(HKEY_CURRENT_USER, base_);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tovrix-unit-tests");  // when no other run uses it
    }

    std::wstring path(const std::wstring& below) const { return base_ + L"\\" + below; }
    // The location of a path below the sandbox; the path must outlive it.
    KeyLocation at(const std::wstring& full) const { return {HKEY_CURRENT_USER, full.c_str(), 0}; }
    // Exactly these bytes.  Wine's RegSetValueExW also stores a NUL that
    // follows a string's data in memory; a guard after the data keeps it out.
    void writeRaw(HKEY key, const wchar_t* name, DWORD type, const Bytes& data) {
        Bytes guarded = data;
        guarded.insert(guarded.end(), {0xFF, 0xFF});
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, guarded.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    }

    std::wstring base_;
};

// What each access mode can do with a key that exists and with one that does not.
TEST_F(RegistryWin, EachAccessOpensOrCreatesAsDocumented) {
    const std::wstring existing = path(L"existing");
    create(HKEY_CURRENT_USER, existing);
    struct Case {
        Access access;
        bool opensMissing;  // and creates it
        bool canWrite;
    };
    const Case cases[] = {
        {Access::read, false, false},
        {Access::readWrite, false, true},
        {Access::full, false, true},
        {Access::create, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.access));
        const std::wstring missing = path(L"missing\\deeper");
        LSTATUS status = ERROR_SUCCESS;
        const bool opened = openKey(at(missing), c.access, &status).valid();
        EXPECT_EQ(opened, c.opensMissing);
        EXPECT_EQ(status, c.opensMissing ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(exists(HKEY_CURRENT_USER, missing), c.opensMissing);
        RegDeleteTreeW(HKEY_CURRENT_USER, path(L"missing").c_str());

        UniqueRegKey key = openKey(at(existing), c.access);
        ASSERT_TRUE(key.valid());
        EXPECT_EQ(writeDword(key.get(), L"v", 1) == ERROR_SUCCESS, c.canWrite);
    }
}

TEST_F(RegistryWin, StringReadsDropTrailingNulsAndRefuseOtherData) {
    const std::wstring keyPath = path(L"strings");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    ASSERT_TRUE(key.valid());
    struct Case {
        const wchar_t* name;
        DWORD type;
        Bytes data;
        std::optional<std::wstring> text;
    };
    Bytes odd = utf16(L"ab");
    odd.push_back('c');
    const std::vector<Case> cases = {
        {L"terminated", REG_SZ, utf16(L"1.8.0_191\0"s), L"1.8.0_191"},
        {L"unterminated", REG_SZ, utf16(L"11.0.2"), L"11.0.2"},
        {L"two nuls", REG_SZ, utf16(L"abc\0\0"s), L"abc"},
        {L"inner nul", REG_SZ, utf16(L"a\0b\0"s), L"a\0b"s},
        {L"odd size", REG_SZ, odd, L"ab"},
        {L"expand", REG_EXPAND_SZ, utf16(L"%TEMP%\\x\0"s), L"%TEMP%\\x"},
        {L"empty", REG_SZ, {}, L""},
        {L"dword", REG_DWORD, {1, 0, 0, 0}, std::nullopt},
        {L"multi", REG_MULTI_SZ, utf16(L"a\0\0"s), std::nullopt},
        {L"at the limit", REG_SZ, utf16(std::wstring(50, L'x')), std::wstring(50, L'x')},
        {L"over the limit", REG_SZ, utf16(std::wstring(51, L'x')), std::nullopt},
    };
    for (const Case& c : cases) writeRaw(key.get(), c.name, c.type, c.data);
    for (const Case& c : cases) EXPECT_EQ(readString(key.get(), c.name, 100), c.text) << c.name;
    EXPECT_EQ(readString(key.get(), L"missing", 100), std::nullopt);
    EXPECT_EQ(readString(at(keyPath), L"unterminated", 100), L"11.0.2") << "one-call form";
    const std::wstring missingKey = path(L"nowhere");
    EXPECT_EQ(readString(at(missingKey), L"unterminated", 100), std::nullopt);
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, missingKey)) << "a read never creates its key";
}

TEST_F(RegistryWin, DwordReadsTakeExactlyFourBytesOfRegDword) {
    const std::wstring keyPath = path(L"dwords");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    ASSERT_TRUE(key.valid());
    struct Case {
        const wchar_t* name;
        DWORD type;
        Bytes data;
        std::optional<DWORD> value;
    };
    const std::vector<Case> cases = {
        {L"two", REG_DWORD, {2, 0, 0, 0}, 2},
        {L"high", REG_DWORD, {0xFE, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFE},
        {L"binary", REG_BINARY, {2, 0, 0, 0}, std::nullopt},
        {L"short", REG_DWORD, {2, 0}, std::nullopt},
        {L"long", REG_DWORD, {2, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
        {L"string", REG_SZ, utf16(L"2\0"s), std::nullopt},
    };
    for (const Case& c : cases) writeRaw(key.get(), c.name, c.type, c.data);
    for (const Case& c : cases) EXPECT_EQ(readDword(key.get(), c.name), c.value) << c.name;
    EXPECT_EQ(readDword(key.get(), L"missing"), std::nullopt);
}

TEST_F(RegistryWin, WritesStoreExactlyTheirData) {
    const std::wstring keyPath = path(L"writes");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    ASSERT_TRUE(key.valid());
    const unsigned char eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(writeString(key.get(), L"with nul", L"C:\\x.tmp"), ERROR_SUCCESS);
    ASSERT_EQ(writeString(key.get(), L"expand", L"%TEMP%", Terminator::nulStored, REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(writeDword(key.get(), L"dword", 0x01020304), ERROR_SUCCESS);
    ASSERT_EQ(writeBinary(key.get(), L"binary", eight, sizeof eight), ERROR_SUCCESS);
    struct Case {
        const wchar_t* name;
        DWORD type;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {L"with nul", REG_SZ, utf16(L"C:\\x.tmp\0"s)},
        {L"expand", REG_EXPAND_SZ, utf16(L"%TEMP%\0"s)},
        {L"dword", REG_DWORD, {4, 3, 2, 1}},
        {L"binary", REG_BINARY, Bytes(eight, eight + 8)},
    };
    for (const Case& c : cases) {
        const std::optional<Value> value = queryValue(key.get(), c.name, 100);
        ASSERT_TRUE(value.has_value()) << c.name;
        EXPECT_EQ(value->type, c.type) << c.name;
        EXPECT_EQ(value->data, c.data) << c.name;
    }
}

// Windows stores exactly the bytes it is given; Wine's RegSetValueExW also
// stores the NUL that follows a string's data in memory, as the one after a
// std::wstring does.
TEST_F(RegistryWin, UnterminatedStringsAreWrittenWithoutTheirNul) {
    const std::wstring keyPath = path(L"unterminated");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    ASSERT_TRUE(key.valid());
    ASSERT_EQ(writeString(key.get(), L"Version", L"11.0.2", Terminator::nulOmitted), ERROR_SUCCESS);
    EXPECT_EQ(readString(key.get(), L"Version", 100), L"11.0.2");
    const std::optional<Value> value = queryValue(key.get(), L"Version", 100);
    ASSERT_TRUE(value.has_value());
    if (value->data == utf16(L"11.0.2\0"s)) GTEST_SKIP() << "Wine adds the NUL that follows the data in memory";
    EXPECT_EQ(value->data, utf16(L"11.0.2"));
}

// The natives' 100,000-byte value buffer is the limit they pass; data of
// exactly the limit is read, one byte more is not read at all.
TEST_F(RegistryWin, ValuesUpToTheLimitAreRead) {
    const std::wstring keyPath = path(L"values");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    for (const DWORD size : {DWORD{kValueBufferBytes}, DWORD{kValueBufferBytes + 1}}) {
        const Bytes data(size, 0x5A);
        const std::wstring name = L"bin" + std::to_wstring(size);
        writeRaw(key.get(), name.c_str(), REG_BINARY, data);
        const std::optional<Value> read = queryValue(key.get(), name.c_str(), kValueBufferBytes);
        if (size <= kValueBufferBytes) {
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(read->type, DWORD{REG_BINARY});
            EXPECT_EQ(read->data, data);
        } else {
            EXPECT_FALSE(read.has_value()) << "data larger than the limit must not be read";
        }
    }
    EXPECT_FALSE(queryValue(key.get(), L"missing", kValueBufferBytes).has_value());
}

// The one-call forms as a marker or a reboot check value uses them: the write
// creates the key, the delete reports a missing value and never creates.
TEST_F(RegistryWin, OneCallFormsCreateWriteReadAndDelete) {
    const std::wstring keyPath = path(L"quillmoor\\kelpa\\");
    const KeyLocation markers = at(keyPath);
    EXPECT_EQ(readDword(markers, L"InstallStarted"), std::nullopt);
    EXPECT_EQ(deleteValue(markers, L"InstallStarted"), ERROR_FILE_NOT_FOUND) << "the open of the missing key";
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, keyPath));

    ASSERT_EQ(writeDword(markers, L"InstallStarted", 1), ERROR_SUCCESS);
    ASSERT_EQ(writeString(markers, L"RebootCheckFile", L"C:\\ide1.tmp"), ERROR_SUCCESS);
    EXPECT_EQ(readDword(markers, L"InstallStarted"), DWORD{1});
    EXPECT_EQ(readString(markers, L"RebootCheckFile", 6000), L"C:\\ide1.tmp");
    EXPECT_EQ(deleteValue(markers, L"InstallStarted"), ERROR_SUCCESS);
    EXPECT_EQ(deleteValue(markers, L"InstallStarted"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(readDword(markers, L"InstallStarted"), std::nullopt);
}

TEST_F(RegistryWin, EnumerationsListEveryNameAndAnEmptyKeyAsNone) {
    const std::wstring keyPath = path(L"enum");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    ASSERT_TRUE(key.valid());
    EXPECT_EQ(subKeyNames(key.get()), std::vector<std::wstring>{}) << "an empty list, not a failure";
    EXPECT_EQ(valueNames(key.get()), std::vector<std::wstring>{});
    for (const wchar_t* name : {L"11", L"1.8", L"9.0.4"}) create(HKEY_CURRENT_USER, keyPath + L"\\" + name);
    for (const wchar_t* name : {L"a", L"b"}) ASSERT_EQ(writeDword(key.get(), name, 1), ERROR_SUCCESS);
    std::optional<std::vector<std::wstring>> keys = subKeyNames(key.get()), values = valueNames(key.get());
    ASSERT_TRUE(keys.has_value() && values.has_value());
    std::sort(keys->begin(), keys->end());
    std::sort(values->begin(), values->end());
    EXPECT_EQ(*keys, (std::vector<std::wstring>{L"1.8", L"11", L"9.0.4"}));
    EXPECT_EQ(*values, (std::vector<std::wstring>{L"a", L"b"}));
}

// A key deleted while it is open fails every enumeration call; the
// enumeration ends with no names instead of going on index after index.
TEST_F(RegistryWin, EnumerationOfADeletedKeyEnds) {
    const std::wstring keyPath = path(L"doomed");
    create(HKEY_CURRENT_USER, keyPath + L"\\child");
    UniqueRegKey key = openKey(at(keyPath), Access::read);
    ASSERT_TRUE(key.valid());
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, keyPath.c_str()), ERROR_SUCCESS);
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS)
        GTEST_SKIP() << "this registry still serves a deleted key through an open handle";
    EXPECT_EQ(subKeyNames(key.get()), std::nullopt);
    EXPECT_EQ(valueNames(key.get()), std::nullopt);
}

// Value names may have up to 16,383 characters; one longer than the
// 4,096-character buffer is read again, not lost or ending the list.
TEST_F(RegistryWin, ValueNamesLongerThanTheBufferComeBackWhole) {
    const std::wstring keyPath = path(L"long names"), longName(5000, L'n');
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    for (const std::wstring& name : {std::wstring(L"a"), longName, std::wstring(L"z")})
        ASSERT_EQ(writeString(key.get(), name.c_str(), L"x"), ERROR_SUCCESS);
    auto names = valueNames(key.get());
    ASSERT_TRUE(names.has_value());
    std::sort(names->begin(), names->end());  // Windows lists them as written, Wine by name
    EXPECT_TRUE(*names == (std::vector<std::wstring>{L"a", longName, L"z"})) << names->size() << " names";
}

TEST_F(RegistryWin, OnlyEmptyKeysAreDeletedWhenOnlyEmptyOnesMayBe) {
    struct Case {
        const wchar_t* name;
        bool withValue, withSubKey, deleted;
    };
    const Case cases[] = {
        {L"empty", false, false, true},
        {L"with value", true, false, false},
        {L"with sub-key", false, true, false},
    };
    for (const Case& c : cases) {
        const std::wstring keyPath = path(c.name);
        create(HKEY_CURRENT_USER, keyPath);
        if (c.withValue) {
            ASSERT_EQ(writeDword(at(keyPath), L"v", 1), ERROR_SUCCESS);
        }
        if (c.withSubKey) create(HKEY_CURRENT_USER, keyPath + L"\\sub");
        deleteKeyIfEmpty(at(keyPath));
        EXPECT_EQ(exists(HKEY_CURRENT_USER, keyPath), !c.deleted) << c.name;
    }
    const std::wstring tree = path(L"tree");
    create(HKEY_CURRENT_USER, tree + L"\\a\\b");
    create(HKEY_CURRENT_USER, tree + L"\\c");
    deleteKeyTree(at(tree));
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, tree));
}

// The two registry views of HKLM\Software are real in the 64-bit prefix, for
// the 64-bit build and for the 32-bit one under WOW64.
TEST(RegistryWinViews, ValuesAndTreeDeletesStayInTheirView) {
    const std::wstring key = sandboxPath(L"Software\\tovrix-unit-tests");
    const KeyLocation in32{HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY};
    const KeyLocation in64{HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY};
    ASSERT_EQ(writeDword(in32, L"view", 32), ERROR_SUCCESS);
    ASSERT_EQ(writeDword(in64, L"view", 64), ERROR_SUCCESS);
    EXPECT_EQ(readDword(in32, L"view"), DWORD{32});
    EXPECT_EQ(readDword(in64, L"view"), DWORD{64});

    for (const bool withDeleteEx : {true, false}) {
        for (REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}})
            create(HKEY_LOCAL_MACHINE, key + L"\\sub\\deeper", view);
        deleteKeyTree(in32, withDeleteEx ? findDeleteKeyEx() : nullptr);
        EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY)) << "RegDeleteKeyExW used: " << withDeleteEx;
        EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, key + L"\\sub\\deeper", KEY_WOW64_64KEY))
            << "RegDeleteKeyExW used: " << withDeleteEx;
        deleteKeyTree(in64);
        EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
    }
    for (REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}})
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\tovrix-unit-tests", view, 0);
}

// A path naming the root must never empty it.  HKEY_CURRENT_USER is mapped
// onto a sandbox key first, so a fault here could only empty the sandbox.
TEST_F(RegistryWin, RootsAreNeverDeleted) {
    const std::wstring sandbox = path(L"sandbox");
    create(HKEY_CURRENT_USER, sandbox + L"\\child");
    UniqueRegKey mapped = openKey(at(sandbox), Access::create);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, mapped.get()), ERROR_SUCCESS);
    const bool overridden = exists(HKEY_CURRENT_USER, L"child");
    if (overridden) {
        for (const wchar_t* rootItself : {static_cast<const wchar_t*>(nullptr), L"", L"\\"}) {
            deleteKeyTree({HKEY_CURRENT_USER, rootItself, 0});
            deleteKeyIfEmpty({HKEY_CURRENT_USER, rootItself, 0});
        }
    }
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (!overridden) GTEST_SKIP() << "RegOverridePredefKey does not map HKEY_CURRENT_USER here";
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, sandbox + L"\\child"));
}

}  // namespace
