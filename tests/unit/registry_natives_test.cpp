// The Registry natives through the JNI test double, under Wine, on keys below
// a sandbox of their own in HKEY_CURRENT_USER: the Java objects each value
// type gives and takes, and the refusal of value objects that do not match
// their type code, and long string arrays within a local frame, without JNI
// misuse or a pending exception.  (Keys,
// deletes and enumerations are covered end to end with a real JVM.)
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"

#define REGISTRY_NATIVE(name) NATIVE_FUNCTION(Registry, name)

namespace {

using namespace std::string_literals;

const char kInteger[] = "java/lang/Integer";
const char kExpandString[] = "com/tovrix/api/windows/WinRegistry$ExpandString";

std::vector<unsigned char> utf16Bytes(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return std::vector<unsigned char>(bytes, bytes + text.size() * sizeof(wchar_t));
}

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
    bool operator==(const RawValue& other) const { return type == other.type && data == other.data; }
};

class RegistryNatives : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = L"Software\\tovrix-unit-tests\\natives-" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        // java/lang/Integer with its int constructor, and intValue reading
        // back what the constructor was given.
        e_.declareClass(kInteger);
        e_.declareMethod(kInteger, "<init>", "(I)V");
        e_.declareMethod(kInteger, "intValue", "()I",
                         [](jni_double::Environment& e, jobject self, const std::vector<jvalue>&) {
                             jvalue result{};
                             const std::string args = e.constructorArguments(self);  // "(<int>)"
                             result.i = args.size() > 2 ? std::stoi(args.substr(1, args.size() - 2)) : 0;
                             return result;
                         });
    }
    void TearDown() override {
        key_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tovrix-unit-tests");
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
    }

    JNIEnv* env() { return e_.env(); }
    jstring path(const std::wstring& below = L"") {
        return e_.newString(below.empty() ? base_ : base_ + L"\\" + below);
    }
    void write(const wchar_t* name, DWORD type, const std::vector<unsigned char>& data) {
        ASSERT_EQ(RegSetValueExW(key_.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    RawValue read(const std::wstring& below, const wchar_t* name) {
        RawValue value;
        value.data.resize(200000);
        DWORD size = static_cast<DWORD>(value.data.size());
        const std::wstring keyPath = below.empty() ? base_ : base_ + L"\\" + below;
        if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                         value.data.data(), &size) != ERROR_SUCCESS)
            return {};
        value.data.resize(size);
        return value;
    }
    jobject get(const wchar_t* name) {
        return REGISTRY_NATIVE(getValue0)(env(), nullptr, 2, path(), e_.newString(name), 0);
    }
    jobject newInteger(jint value) {
        jclass integer = env()->FindClass(kInteger);
        return env()->NewObject(integer, env()->GetMethodID(integer, "<init>", "(I)V"), value);
    }

    jni_double::Environment e_;
    std::wstring base_;
    UniqueRegKey key_;
};

TEST_F(RegistryNatives, GetValueGivesTheJavaObjectOfEachType) {
    e_.declareClass(kExpandString);
    e_.declareMethod(kExpandString, "<init>", "(Ljava/lang/String;)V");
    write(L"sz", REG_SZ, utf16Bytes(L"abc\0\0"s));
    write(L"expand", REG_EXPAND_SZ, utf16Bytes(L"%TEMP%\\x\0"s));
    write(L"dword", REG_DWORD, {0xFE, 0xFF, 0xFF, 0xFF});
    write(L"binary", REG_BINARY, {0x00, 0xFF, 0x7F});
    write(L"multi", REG_MULTI_SZ, utf16Bytes(L"a\0\0\u4e2d\0\0"s));
    write(L"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});

    jobject sz = get(L"sz");
    ASSERT_TRUE(e_.isString(sz));
    EXPECT_EQ(e_.stringValue(sz), L"abc\0"s);

    jobject expand = get(L"expand");
    EXPECT_EQ(e_.classNameOf(expand), kExpandString);
    EXPECT_EQ(e_.constructorArguments(expand), "(\"%TEMP%\\\\x\")");

    jobject dword = get(L"dword");
    EXPECT_EQ(e_.classNameOf(dword), kInteger);
    EXPECT_EQ(e_.constructorArguments(dword), "(-2)");

    EXPECT_EQ(e_.byteArrayValue(static_cast<jbyteArray>(get(L"binary"))), (std::vector<jbyte>{0, -1, 127}));
    jobject multi = get(L"multi");
    EXPECT_EQ(e_.classNameOf(multi), "[Ljava/lang/String;");
    EXPECT_EQ(e_.stringArrayValue(static_cast<jobjectArray>(multi)), (std::vector<std::wstring>{L"a", L"", L"\u4e2d"}));
    EXPECT_EQ(get(L"qword"), nullptr);
}

// A lookup that fails leaves its NoClassDefFoundError pending in a real VM;
// the native clears it, so the Java side sees null, not an exception.
TEST_F(RegistryNatives, MissingExpandStringClassGivesNullWithoutAnException) {
    write(L"expand", REG_EXPAND_SZ, utf16Bytes(L"x\0"s));
    EXPECT_EQ(get(L"expand"), nullptr);
    EXPECT_FALSE(e_.events("ExceptionClear").empty());
}

TEST_F(RegistryNatives, SetValueWritesTheObjectOfItsTypeCode) {
    const std::vector<jbyte> big(100001, 7);
    struct Case {
        const wchar_t* name;
        jint typeCode;
        std::function<jobject()> object;
        RawValue expected;
    };
    const std::vector<Case> cases = {
        {L"sz", 1, [&] { return e_.newString(L"text \u4e2d"); }, {REG_SZ, utf16Bytes(L"text \u4e2d\0"s)}},
        {L"expand", 5, [&] { return e_.newString(L"%PATH%"); }, {REG_EXPAND_SZ, utf16Bytes(L"%PATH%\0"s)}},
        {L"dword", 2, [&] { return newInteger(-5); }, {REG_DWORD, {0xFB, 0xFF, 0xFF, 0xFF}}},
        {L"multi",
         3,
         [&] {
             return e_.newStringArray({L"a", L"b"});
         },
         {REG_MULTI_SZ, utf16Bytes(L"a\0b\0\0"s)}},
        {L"multi_empty", 3, [&] { return e_.newStringArray({}); }, {REG_MULTI_SZ, utf16Bytes(L"\0"s)}},
        {L"binary", 4, [&] { return e_.newByteArray(big); }, {REG_BINARY, std::vector<unsigned char>(100000, 7)}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(REGISTRY_NATIVE(setValue0)(env(), nullptr, 2, path(L"set"), e_.newString(c.name), c.object(),
                                               c.typeCode, 0))
            << "type code " << c.typeCode;
        EXPECT_TRUE(read(L"set", c.name) == c.expected) << "type code " << c.typeCode;
    }
    EXPECT_EQ(e_.events("CallIntMethod").size(), 1u);
}

TEST_F(RegistryNatives, SetValueRefusesAnObjectThatDoesNotMatchItsTypeCode) {
    e_.declareClass(kExpandString);
    struct Case {
        jint typeCode;
        std::function<jobject()> object;
    };
    const std::vector<Case> cases = {
        {2, [&] { return e_.newString(L"5"); }},
        {2, [] { return nullptr; }},
        {1, [&] { return newInteger(5); }},
        {1, [] { return nullptr; }},
        {5, [&] { return e_.newObject(kExpandString, L"x"); }},
        {3,
         [&] {
             return e_.newObjectArray("java/lang/String", {e_.newString(L"a"), nullptr});
         }},
        {3,
         [&] {
             return e_.newStringArray({L"a", L"", L"c"});
         }},
        {3, [&] { return e_.newString(L"a"); }},
        {4,
         [&] {
             return e_.newIntArray({1, 2});
         }},
        {4, [&] { return e_.newString(L"ab"); }},
        {0, [&] { return e_.newString(L"x"); }},
        {6, [&] { return e_.newString(L"x"); }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(REGISTRY_NATIVE(setValue0)(env(), nullptr, 2, path(L"refused"), e_.newString(L"v"), c.object(),
                                                c.typeCode, 0))
            << "type code " << c.typeCode;
    }
    UniqueRegKey refused;
    EXPECT_NE(RegOpenKeyExW(key_.get(), L"refused", 0, KEY_READ, refused.put()), ERROR_SUCCESS)
        << "a refused value must not create its key";
    EXPECT_TRUE(e_.events("CallIntMethod").empty());
}

// A VM guarantees a native 16 local references.  String arrays of any length
// are built within a few: each element's reference is deleted once stored.
TEST_F(RegistryNatives, LongStringArraysStayWithinALocalFrame) {
    constexpr std::size_t kCount = 300;
    std::wstring multi;
    for (std::size_t i = 0; i < kCount; ++i) {
        const std::wstring name = L"value" + std::to_wstring(i);
        write(name.c_str(), REG_DWORD, {1, 0, 0, 0});
        multi += name + L'\0';
    }
    write(L"multi", REG_MULTI_SZ, utf16Bytes(multi + L'\0'));

    jstring keyPath = path();
    jstring multiName = e_.newString(L"multi");
    struct Case {
        const char* what;
        std::function<jobject()> call;
        std::size_t elements;
    };
    const std::vector<Case> cases = {
        {"enumValues0", [&] { return REGISTRY_NATIVE(enumValues0)(env(), nullptr, 2, keyPath, 0); }, kCount + 1},
        {"getValue0 of REG_MULTI_SZ",
         [&] { return REGISTRY_NATIVE(getValue0)(env(), nullptr, 2, keyPath, multiName, 0); }, kCount},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = e_.liveLocalRefs();
        e_.resetPeakLocalRefs();
        const auto result = static_cast<jobjectArray>(c.call());
        EXPECT_LE(e_.peakLocalRefs() - before, 16) << "local references held at once";
        EXPECT_EQ(e_.liveLocalRefs() - before, 1) << "only the result is left";
        EXPECT_EQ(e_.stringArrayValue(result).size(), c.elements);  // (reading makes references of its own)
    }
}

}  // namespace
