// The registry natives' Windows layer under Wine, on keys below a sandbox of
// its own in HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE for the views).
#include "natives/registry_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace registry;

namespace {

std::wstring sandboxPath(const wchar_t* base) {
    return std::wstring(base) + L"\\registry-" + std::to_wstring(GetCurrentProcessId());
}

bool exists(HKEY root, const std::wstring& path, REGSAM view = 0) {
    return openKey({root, path.c_str(), view}, Access::read).valid();
}

void create(HKEY root, const std::wstring& path, REGSAM view = 0) {
    ASSERT_TRUE(openKey({root, path.c_str(), view}, Access::create).valid()) << "cannot create the test key";
}

void setString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    UniqueRegKey key = openKey({root, path.c_str(), 0}, Access::create);
    ASSERT_TRUE(key.valid());
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
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
    KeyLocation at(const std::wstring& full) const { return {HKEY_CURRENT_USER, full.c_str(), 0}; }

    std::wstring base_;
};

TEST_F(RegistryWin, ValuesUpToTheBufferSizeAreRead) {
    const std::wstring keyPath = path(L"values");
    UniqueRegKey key = openKey(at(keyPath), Access::create);
    for (const DWORD size : {DWORD{kValueBufferBytes}, DWORD{kValueBufferBytes + 1}}) {
        const Bytes data(size, 0x5A);
        const std::wstring name = L"bin" + std::to_wstring(size);
        ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, data.data(), size), ERROR_SUCCESS);
        const std::optional<Value> read = queryValue(key.get(), name.c_str());
        if (size <= kValueBufferBytes) {
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(read->type, DWORD{REG_BINARY});
            EXPECT_EQ(read->data, data);
        } else {
            EXPECT_FALSE(read.has_value()) << "data larger than the buffer must not be read";
        }
    }
    EXPECT_FALSE(queryValue(key.get(), L"missing").has_value());
}

// The two registry views of HKLM\Software are real in the 64-bit prefix, for
// the 64-bit build and for the 32-bit one under WOW64.
TEST(RegistryWinViews, TreeDeleteStaysInItsView) {
    const std::wstring key = sandboxPath(L"Software\\tovrix-unit-tests");
    for (const bool withDeleteEx : {true, false}) {
        for (REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}})
            create(HKEY_LOCAL_MACHINE, key + L"\\sub\\deeper", view);
        deleteKeyTree({HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY}, withDeleteEx ? findDeleteKeyEx() : nullptr);
        EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY)) << "RegDeleteKeyExW used: " << withDeleteEx;
        EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, key + L"\\sub\\deeper", KEY_WOW64_64KEY)) << "RegDeleteKeyExW used: " << withDeleteEx;
        deleteKeyTree({HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY}, findDeleteKeyEx());
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
            deleteKeyTree({HKEY_CURRENT_USER, rootItself, 0}, findDeleteKeyEx());
            deleteKeyIfEmpty({HKEY_CURRENT_USER, rootItself, 0}, findDeleteKeyEx());
        }
    }
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (!overridden) GTEST_SKIP() << "RegOverridePredefKey does not map HKEY_CURRENT_USER here";
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, sandbox + L"\\child"));
}

// Value names may have up to 16,383 characters; one longer than the
// 4,096-character buffer is read again, not lost or ending the list.
TEST_F(RegistryWin, ValueNamesLongerThanTheBufferComeBackWhole) {
    const std::wstring keyPath = path(L"enum"), longName(5000, L'n');
    for (const std::wstring& name : {std::wstring(L"a"), longName, std::wstring(L"z")})
        setString(HKEY_CURRENT_USER, keyPath, name.c_str(), L"x");
    auto names = valueNames(openKey(at(keyPath), Access::read).get());
    ASSERT_TRUE(names.has_value());
    std::sort(names->begin(), names->end());  // Windows lists them as written, Wine by name
    EXPECT_TRUE(*names == (std::vector<std::wstring>{L"a", longName, L"z"})) << names->size() << " names";
}

}  // namespace
