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

bool onWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

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

    // tree\a\b\c with a value on every level, and tree\a\d, tree\e.
    void buildTree(const std::wstring& tree) {
        for (const wchar_t* key : {L"\\a\\b\\c", L"\\a\\d", L"\\e"}) create(HKEY_CURRENT_USER, tree + key);
        for (const wchar_t* key : {L"", L"\\a", L"\\a\\b", L"\\a\\b\\c"}) setString(HKEY_CURRENT_USER, tree + key, L"v", L"x");
    }

    std::wstring base_;
};

TEST_F(RegistryWin, OpenKindsGiveTheirAccess) {
    const std::wstring key = path(L"k");
    EXPECT_FALSE(openKey(at(key), Access::read).valid());
    EXPECT_FALSE(openKey(at(key), Access::readWrite).valid());
    EXPECT_TRUE(openKey(at(key), Access::create).valid());  // creates it
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(openKey(at(key), Access::create).valid());  // and opens it when it exists

    const DWORD one = 1;
    const auto* data = reinterpret_cast<const BYTE*>(&one);
    EXPECT_NE(RegSetValueExW(openKey(at(key), Access::read).get(), L"n", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(openKey(at(key), Access::readWrite).get(), L"n", 0, REG_DWORD, data, 4), ERROR_SUCCESS);

    // A null sub-key names the root itself for every kind.
    for (Access access : {Access::read, Access::readWrite, Access::create})
        EXPECT_TRUE(openKey({HKEY_CURRENT_USER, nullptr, 0}, access).valid());
}

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

TEST_F(RegistryWin, TreeDeleteRemovesEverythingBelowAndNothingBeside) {
    for (const bool withDeleteEx : {true, false}) {
        const std::wstring tree = path(L"tree"), beside = path(L"tree2");
        buildTree(tree);
        create(HKEY_CURRENT_USER, beside);
        deleteKeyTree(at(tree), withDeleteEx ? findDeleteKeyEx() : nullptr);
        EXPECT_FALSE(exists(HKEY_CURRENT_USER, tree)) << "RegDeleteKeyExW used: " << withDeleteEx;
        EXPECT_TRUE(exists(HKEY_CURRENT_USER, beside));
    }
    ASSERT_NE(findDeleteKeyEx(), nullptr) << "advapi32.dll has RegDeleteKeyExW";
}

TEST_F(RegistryWin, OnlyEmptyKeysAreDeletedWhenAsked) {
    const std::wstring tree = path(L"tree");
    buildTree(tree);
    const std::wstring withValue = tree + L"\\a\\b\\c", withSubKeys = tree + L"\\a", empty = tree + L"\\a\\d";
    for (const std::wstring& key : {tree, withSubKeys, withValue}) {
        deleteKeyIfEmpty(at(key), findDeleteKeyEx());
        EXPECT_TRUE(exists(HKEY_CURRENT_USER, key));
    }
    deleteKeyIfEmpty(at(empty), findDeleteKeyEx());
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, empty));
    deleteKeyIfEmpty(at(path(L"missing")), findDeleteKeyEx());  // nothing to do, no crash
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, tree + L"\\e"));
}

// The two registry views of HKLM\Software are real in the 64-bit prefix, for
// the 64-bit build and for the 32-bit one under WOW64.
TEST(RegistryWinViews, TreeDeleteStaysInItsView) {
    const std::wstring key = sandboxPath(L"Software\\tovrix-unit-tests");
    for (const bool withDeleteEx : {true, false}) {
        for (REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{KEY_WOW64_32KEY}})
            create(HKEY_LOCAL_MACHINE, key + L"\\sub", view);
        deleteKeyTree({HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY}, withDeleteEx ? findDeleteKeyEx() : nullptr);
        EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY)) << "RegDeleteKeyExW used: " << withDeleteEx;
        EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, key + L"\\sub", KEY_WOW64_64KEY)) << "RegDeleteKeyExW used: " << withDeleteEx;
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

TEST_F(RegistryWin, EnumerationsListNamesInOrderAndEmptyKeysAsEmpty) {
    const std::wstring keyPath = path(L"enum");
    create(HKEY_CURRENT_USER, keyPath);
    UniqueRegKey key = openKey(at(keyPath), Access::read);
    ASSERT_EQ(subKeyNames(key.get()), std::vector<std::wstring>{});
    ASSERT_EQ(valueNames(key.get()), std::vector<std::wstring>{});

    // A value name longer than the 4,096-character buffer comes back whole.
    const std::wstring longName(5000, L'n'), longKey(255, L'k');
    for (const std::wstring& name : {std::wstring(L"one"), longName}) setString(HKEY_CURRENT_USER, keyPath, name.c_str(), L"x");
    for (const std::wstring& sub : {std::wstring(L"s1"), longKey, std::wstring(L"\u4e2d")}) create(HKEY_CURRENT_USER, keyPath + L"\\" + sub);

    // Windows lists values in the order they were written and Wine by name; compare as sets.
    auto values = valueNames(key.get());
    auto subKeys = subKeyNames(key.get());
    ASSERT_TRUE(values.has_value() && subKeys.has_value());
    std::vector<std::wstring> expectedValues{L"one", longName}, expectedKeys{L"s1", longKey, L"\u4e2d"};
    for (auto* names : {&*values, &*subKeys, &expectedValues, &expectedKeys}) std::sort(names->begin(), names->end());
    EXPECT_TRUE(*values == expectedValues) << "value names: " << values->size();
    EXPECT_EQ(*subKeys, expectedKeys);
}

class RegistryWinHive : public RegistryWin {
protected:
    void SetUp() override {
        RegistryWin::SetUp();
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        file_ = std::wstring(temp) + L"tovrix-registry-" + std::to_wstring(GetCurrentProcessId()) + L".hiv";
        DeleteFileW(file_.c_str());
        setString(HKEY_CURRENT_USER, path(L"saved"), L"name", L"value");
    }
    void TearDown() override {
        DeleteFileW(file_.c_str());
        RegistryWin::TearDown();
    }
    bool fileExists() const { return GetFileAttributesW(file_.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::wstring file_;
};

TEST_F(RegistryWinHive, SaveWritesAFileOnlyForAKeyThatOpens) {
    EXPECT_FALSE(saveKey(at(path(L"missing")), file_.c_str()));
    EXPECT_FALSE(fileExists());
    EXPECT_FALSE(saveKey(at(path(L"saved")), nullptr));
    EXPECT_TRUE(saveKey(at(path(L"saved")), file_.c_str()));
    EXPECT_TRUE(fileExists());
}

TEST_F(RegistryWinHive, SaveRefusesAnExistingFile) {
    ASSERT_TRUE(saveKey(at(path(L"saved")), file_.c_str()));
    const bool savedAgain = saveKey(at(path(L"saved")), file_.c_str());
    if (savedAgain && onWine()) GTEST_SKIP() << "Wine's RegSaveKeyW replaces an existing file where Windows refuses it";
    EXPECT_FALSE(savedAgain);
}

TEST_F(RegistryWinHive, RestoreLoadsTheSavedValues) {
    ASSERT_TRUE(saveKey(at(path(L"saved")), file_.c_str()));
    EXPECT_FALSE(restoreKey(at(path(L"restored")), nullptr));
    ASSERT_TRUE(restoreKey(at(path(L"restored")), file_.c_str()));
    const std::optional<Value> value = queryValue(openKey(at(path(L"restored")), Access::read).get(), L"name");
    if (!value && onWine()) GTEST_SKIP() << "Wine's RegRestoreKeyW reports success without loading the file";
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, DWORD{REG_SZ});
}

}  // namespace
