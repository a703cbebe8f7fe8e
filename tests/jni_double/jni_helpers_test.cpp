// The natives' JNI layer (natives/jni_helpers.h) against the JNI test double:
// strings in and out, arrays in and out within a local frame, construction,
// and lookups that leave nothing pending.  Every case also checks that the
// double saw no misuse (a deleted or foreign reference, a call with an
// exception pending).
#include "natives/jni_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/jni_double/jni_double.h"

using jni_double::Environment;
using namespace std::string_literals;

namespace {

class JniHelpers : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e.problems(), std::vector<std::string>{});
        EXPECT_EQ(e.pendingException(), nullptr);
        EXPECT_EQ(e.unreleasedBuffers(), 0);
    }
    JNIEnv* env() { return e.env(); }

    Environment e;
};

TEST_F(JniHelpers, JavaStringIsAUtf16CopyAndNullStaysNull) {
    const jni::JavaString none(env(), nullptr);
    EXPECT_TRUE(none.isNull());
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_EQ(none.text(), L"");

    const std::wstring texts[] = {L"", L"C:\\Programme\\\u4e2d\u6587\\\U0001F600", L"a\0b"s};
    for (const std::wstring& text : texts) {
        const jni::JavaString copy(env(), e.newString(text));
        EXPECT_FALSE(copy.isNull());
        ASSERT_NE(copy.get(), nullptr);
        EXPECT_EQ(copy.text(), text);
        EXPECT_EQ(copy.get()[text.size()], L'\0') << "NUL-terminated";
        EXPECT_EQ(copy.utf16().size(), text.size());
    }
}

TEST_F(JniHelpers, StringsOutTakeTheBufferLengthOrExactlyTheCharacters) {
    wchar_t buffer[16] = L"abc\0def";
    EXPECT_EQ(e.stringValue(jni::newString(env(), buffer)), L"abc") << "wcslen of a filled buffer";
    EXPECT_EQ(e.stringValue(jni::newString(env(), std::wstring_view(buffer, 7))), L"abc\0def"s);
    EXPECT_EQ(e.stringValue(jni::newString(env(), std::u16string_view(u"\u4e2d"))), L"\u4e2d");
    EXPECT_EQ(jni::newString(env(), static_cast<const wchar_t*>(nullptr)), nullptr);
    EXPECT_EQ(e.stringValue(jni::newStringUtf(env(), "true")), L"true");
}

// A VM guarantees a native frame 16 local references; an array of any length
// is built holding a few, and leaves only itself behind.
TEST_F(JniHelpers, StringArraysOfAnyLengthStayWithinALocalFrame) {
    std::vector<std::wstring> entries;
    for (int i = 0; i < 1000; ++i) entries.push_back(L"entry " + std::to_wstring(i));
    const int before = e.liveLocalRefs();
    e.resetPeakLocalRefs();
    jobjectArray array = jni::newStringArray(env(), entries);
    EXPECT_LE(e.peakLocalRefs() - before, 16);
    EXPECT_EQ(e.liveLocalRefs() - before, 1) << "only the array is left";
    EXPECT_EQ(e.stringArrayValue(array), entries);  // (reading makes references of its own)
    EXPECT_EQ(e.classNameOf(array), "[Ljava/lang/String;");

    const std::vector<std::u16string> utf16 = {u"a", u"", u"\u4e2d"};
    EXPECT_EQ(e.stringArrayValue(jni::newStringArray(env(), utf16)), (std::vector<std::wstring>{L"a", L"", L"\u4e2d"}));
    jobjectArray empty = jni::newStringArray(env(), std::vector<std::wstring>{});
    ASSERT_NE(empty, nullptr) << "no entries is an empty array, not null";
    EXPECT_EQ(e.arrayElements(empty).size(), 0u);
}

// An element that cannot be made either fails the array or is left out, so
// the array holds exactly the elements made; no reference is left behind.
TEST_F(JniHelpers, ObjectArraysFailOrLeaveOutAMissingElement) {
    jclass stringClass = e.findClass("java/lang/String");
    auto everyOther = [this](std::size_t i) -> jobject {
        return i % 2 ? nullptr : jni::newString(env(), L"#" + std::to_wstring(i));
    };
    struct Case {
        jni::MissingElement ifMissing;
        std::size_t count;
        bool isNull;
        std::vector<std::wstring> elements;
    };
    const Case cases[] = {
        {jni::MissingElement::failArray, 5, true, {}},
        {jni::MissingElement::leaveOut, 5, false, {L"#0", L"#2", L"#4"}},
        {jni::MissingElement::leaveOut, 1, false, {L"#0"}},
        {jni::MissingElement::failArray, 1, false, {L"#0"}},
        {jni::MissingElement::failArray, 0, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + (c.ifMissing == jni::MissingElement::leaveOut ? " leave out" : " fail"));
        const int before = e.liveLocalRefs();
        jobjectArray array = jni::newObjectArray(env(), stringClass, c.count, everyOther, c.ifMissing);
        EXPECT_EQ(array == nullptr, c.isNull);
        EXPECT_EQ(e.liveLocalRefs() - before, c.isNull ? 0 : 1);
        EXPECT_EQ(e.stringArrayValue(array), c.elements);
    }
}

TEST_F(JniHelpers, MissingStringClassGivesNullAndNothingPending) {
    ASSERT_TRUE(e.failStep("findclass:java/lang/String"));
    EXPECT_EQ(jni::newStringArray(env(), std::vector<std::wstring>{L"a"}), nullptr);
    EXPECT_FALSE(e.events("ExceptionClear").empty());
}

TEST_F(JniHelpers, ArraysInAreCopiedAndNullArraysAreNone) {
    jobjectArray strings = e.newObjectArray("java/lang/String", {e.newString(L"a"), nullptr, e.newString(L"")});
    const int before = e.liveLocalRefs();
    const std::optional<std::vector<jni::JavaString>> read = jni::readStringArray(env(), strings);
    EXPECT_EQ(e.liveLocalRefs(), before) << "each element's reference is deleted";
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 3u);
    EXPECT_EQ((*read)[0].text(), L"a");
    EXPECT_TRUE((*read)[1].isNull());
    EXPECT_FALSE((*read)[2].isNull());
    EXPECT_EQ(jni::readStringArray(env(), nullptr), std::nullopt);

    EXPECT_EQ(jni::readIntArray(env(), e.newIntArray({3, -1, 7})), (std::vector<jint>{3, -1, 7}));
    EXPECT_EQ(jni::readBooleanArray(env(), e.newBooleanArray({true, false, true})),
              (std::vector<bool>{true, false, true}));
    jbyteArray bytes = e.newByteArray({1, -1, 3, 4});
    EXPECT_EQ(jni::readByteArray(env(), bytes), (std::vector<unsigned char>{1, 0xFF, 3, 4}));
    EXPECT_EQ(jni::readByteArray(env(), bytes, 2), (std::vector<unsigned char>{1, 0xFF})) << "the first bytes";
    EXPECT_EQ(jni::readIntArray(env(), nullptr), std::nullopt);
    EXPECT_EQ(jni::readBooleanArray(env(), nullptr), std::nullopt);
    EXPECT_EQ(jni::readByteArray(env(), nullptr), std::nullopt);

    const unsigned char data[] = {0, 0x80, 0x7F};
    EXPECT_EQ(e.byteArrayValue(jni::newByteArray(env(), data, sizeof data)), (std::vector<jbyte>{0, -128, 127}));
    EXPECT_EQ(e.byteArrayValue(jni::newByteArray(env(), nullptr, 0)), std::vector<jbyte>{});
}

// One lookup of class and constructor serves any number of objects; a
// missing class or constructor is a false Constructor with nothing pending.
TEST_F(JniHelpers, ConstructorsBuildObjectsOrReportTheirAbsence) {
    const char kWindowInfo[] = "com/tovrix/api/windows/WindowInfo";
    const char kSignature[] = "(JILjava/lang/String;Ljava/lang/String;)V";
    e.declareClass(kWindowInfo);
    e.declareMethod(kWindowInfo, "<init>", kSignature);

    const jni::Constructor windowInfo(env(), kWindowInfo, kSignature);
    ASSERT_TRUE(windowInfo);
    jobject made = windowInfo.newObject(jlong{0x1234}, jint{42}, e.newString(L"Setup"), e.newString(L"SunAwtFrame"));
    EXPECT_EQ(e.classNameOf(made), kWindowInfo);
    EXPECT_EQ(e.constructorArguments(made), "(4660L, 42, \"Setup\", \"SunAwtFrame\")");

    const jni::Constructor wrongSignature(env(), kWindowInfo, "(I)V");
    EXPECT_FALSE(wrongSignature);
    EXPECT_EQ(wrongSignature.newObject(jint{1}), nullptr);
    EXPECT_FALSE(jni::Constructor(env(), "com/tovrix/Missing", "()V"));
    EXPECT_EQ(jni::newObject(env(), "com/tovrix/Missing", "(I)V", jint{1}), nullptr);
    EXPECT_EQ(e.events("ExceptionClear").size(), 3u) << "each failed lookup cleared what it left";
}

TEST_F(JniHelpers, LookupsClearWhatTheyLeaveAndNothingElse) {
    e.declareStaticMethod("t/T", "m", "()V");
    e.declareStaticField("t/T", "f", "Ljava/lang/String;");
    jclass t = jni::findClass(env(), "t/T");
    ASSERT_NE(t, nullptr);
    EXPECT_NE(jni::findStaticMethod(env(), t, "m", "()V"), nullptr);
    EXPECT_NE(jni::findStaticField(env(), t, "f", "Ljava/lang/String;"), nullptr);
    EXPECT_TRUE(e.events("ExceptionClear").empty()) << "a lookup that succeeds clears nothing";

    EXPECT_EQ(jni::findClass(env(), "t/Missing"), nullptr);
    EXPECT_EQ(jni::findStaticMethod(env(), t, "missing", "()V"), nullptr);
    EXPECT_EQ(jni::findMethod(env(), t, "missing", "()V"), nullptr);
    EXPECT_EQ(jni::findStaticField(env(), t, "missing", "I"), nullptr);
    EXPECT_EQ(e.events("ExceptionClear").size(), 4u);

    EXPECT_TRUE(jni::isInstanceOf(env(), e.newString(L"x"), "java/lang/String"));
    EXPECT_TRUE(jni::isInstanceOf(env(), e.newByteArray({1}), "[B"));
    EXPECT_FALSE(jni::isInstanceOf(env(), e.newIntArray({1}), "[B"));
    EXPECT_FALSE(jni::isInstanceOf(env(), nullptr, "java/lang/String"));
    EXPECT_FALSE(jni::isInstanceOf(env(), e.newString(L"x"), "t/Missing"));
}

TEST_F(JniHelpers, LocalRefDeletesWhatItOwnsOnce) {
    const int before = e.liveLocalRefs();
    {
        jni::LocalRef<jstring> first(env(), e.newString(L"a"));
        jni::LocalRef<jstring> moved(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_TRUE(moved);
        jni::LocalRef<jstring> assigned;
        assigned = std::move(moved);
        assigned.reset(e.newString(L"b"));  // deletes "a"
        EXPECT_EQ(e.liveLocalRefs(), before + 1);
    }
    EXPECT_EQ(e.liveLocalRefs(), before);
    jstring kept = nullptr;
    {
        jni::LocalRef<jstring> result(env(), e.newString(L"result"));
        kept = result.release();
    }
    EXPECT_EQ(e.stringValue(kept), L"result") << "a released reference stays valid";
    EXPECT_EQ(e.liveLocalRefs(), before + 1);
}

}  // namespace
