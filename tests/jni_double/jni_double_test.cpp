// Unit tests of the JNI test double itself: what it records, what it checks
// and refuses as a real VM would, and the failures it injects.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/jni_double/config.h"
#include "tests/jni_double/jni_double.h"

using jni_double::Environment;

namespace {

const std::string kPackage = std::string(jni_double::kNativePackage) + "/";

bool has(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& candidate : lines)
        if (candidate == line) return true;
    return false;
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line) return i;
    return lines.size();
}

std::wstring pendingText(Environment& e) {
    jthrowable pending = e.pendingException();
    return pending ? e.toStringOf(pending) : L"(none)";
}

}  // namespace

TEST(JniDoubleVm, RecordsTheInitArgumentsAndRefusesASecondVm) {
    Environment e;
    std::string plain = "-Dx=1", path = "-Djava.class.path=C:\\a b\\x.jar", latin = "-Dname=caf\xE9";
    JavaVMOption options[] = {{&plain[0], nullptr}, {&path[0], nullptr}, {&latin[0], nullptr}};
    JavaVMInitArgs args{JNI_VERSION_1_2, 3, options, JNI_TRUE};
    JavaVM* vm = nullptr;
    void* env = nullptr;

    ASSERT_EQ(e.createJavaVM(&vm, &env, &args), JNI_OK);
    EXPECT_EQ(vm, e.vm());
    EXPECT_EQ(env, e.env());
    EXPECT_EQ(e.record(), (std::vector<std::string>{
                              "JNI_CreateJavaVM version=0x00010002 nOptions=3 ignoreUnrecognized=true",
                              "option 0 \"-Dx=1\"",
                              "option 1 \"-Djava.class.path=C:\\\\a b\\\\x.jar\"",
                              "option 2 \"-Dname=caf\xC3\xA9\"",  // code page 1252 read, UTF-8 written
                              "JNI_CreateJavaVM -> 0",
                          }));
    EXPECT_EQ(e.initArgs().options, (std::vector<std::string>{plain, path, latin}));

    EXPECT_EQ(e.createJavaVM(&vm, &env, &args), JNI_EEXIST);
    EXPECT_EQ(vm, nullptr);
    EXPECT_EQ(e.vm()->DestroyJavaVM(), JNI_OK);
    EXPECT_TRUE(e.destroyed());
    e.env()->FindClass("java/lang/String");
    EXPECT_TRUE(has(e.problems(), "error FindClass called after DestroyJavaVM"));
}

// Each injected failure makes the launcher-facing call fail the way a VM
// fails it, with the pending exception a VM would leave.
TEST(JniDoubleFailures, EachStepFailsItsCall) {
    struct Case {
        std::string step;
        std::function<bool(Environment&)> failed;  // makes the call, tells whether it failed
        std::wstring pending;
    };
    const std::string launcher = "com/tovrix/runtime/launcher/WinLauncher";
    auto mainOf = [launcher](Environment& e) {
        jclass cls = e.env()->FindClass(launcher.c_str());
        return e.env()->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    };
    const Case cases[] = {
        {"create",
         [](Environment& e) {
             JavaVMInitArgs args{JNI_VERSION_1_2, 0, nullptr, JNI_TRUE};
             JavaVM* vm = e.vm();
             void* env = e.env();
             return e.createJavaVM(&vm, &env, &args) == JNI_ERR && !vm && !env;
         },
         L"(none)"},
        {"findclass:com/kelpa/runtime/util/WinDel",
         [](Environment& e) { return !e.env()->FindClass("com/kelpa/runtime/util/WinDel"); },
         L"java.lang.NoClassDefFoundError: com/kelpa/runtime/util/WinDel"},
        {"method:main", [mainOf](Environment& e) { return !mainOf(e); }, L"java.lang.NoSuchMethodError: main"},
        {"registernatives:" + std::string() + jni_double::kNativePackage + "/Win32Exec",
         [](Environment& e) {
             jclass cls = e.env()->FindClass((kPackage + "Win32Exec").c_str());
             JNINativeMethod method{const_cast<char*>("launch0"),
                                    const_cast<char*>("(Ljava/lang/String;Ljava/lang/String;)I"),
                                    reinterpret_cast<void*>(&pendingText)};
             return e.env()->RegisterNatives(cls, &method, 1) == JNI_ERR && e.boundNatives().empty();
         },
         L"(none)"},
        {"main:throw",
         [mainOf](Environment& e) {
             e.env()->CallStaticVoidMethod(e.env()->FindClass("com/tovrix/runtime/launcher/WinLauncher"), mainOf(e),
                                           e.newStringArray({}));
             return e.env()->ExceptionCheck() == JNI_TRUE;
         },
         L"java.lang.RuntimeException: requested by test"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        Environment e;
        e.declareLauncherClasses();
        e.declareNativesFromTable();
        ASSERT_TRUE(e.failStep(c.step));
        EXPECT_TRUE(c.failed(e));
        EXPECT_EQ(pendingText(e), c.pending);
        EXPECT_EQ(e.events("error"), std::vector<std::string>{});
    }
}

TEST(JniDoubleFailures, ThrowTextAndExitCodeAreTheConfiguredOnes) {
    Environment e;
    e.declareLauncherClasses();
    int exitCode = -1;
    e.setExitHandler([&exitCode](int code) { exitCode = code; });
    ASSERT_TRUE(e.failStep("main:exit:7"));
    ASSERT_TRUE(e.failStep("main:throw"));
    e.setThrowText(L"java.io.IOException: Datei fehlt \u00fc");
    JNIEnv* env = e.env();
    jclass cls = env->FindClass("com/kelpa/runtime/WinLauncher");
    env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V"),
                              e.newStringArray({L"-q"}));

    EXPECT_EQ(exitCode, 7);
    const std::vector<std::string>& record = e.record();
    const std::size_t call = indexOf(record,
                                     "CallStaticVoidMethod \"com/kelpa/runtime/WinLauncher\" \"main\" "
                                     "\"([Ljava/lang/String;)V\" ({\"-q\"})");
    ASSERT_LT(call + 1, record.size()) << "the call is recorded before main ends the process";
    EXPECT_EQ(record[call + 1], "System.exit 7");
    EXPECT_EQ(pendingText(e), L"java.io.IOException: Datei fehlt \u00fc");
}

TEST(JniDoubleFailures, UnknownStepsAreRefused) {
    Environment e;
    for (const char* step : {"", "bogus", "findclass:", "method:", "main:exit:", "main:exit:x", "main:exit:1x"})
        EXPECT_FALSE(e.failStep(step)) << step;
}

// RegisterNatives binds in order and stops at the first method that is not a
// native of the class with exactly that name and signature.
TEST(JniDoubleRegistration, RefusesWhatTheClassDoesNotDeclareAsNative) {
    struct Case {
        const char* name;
        const char* signature;
        bool function;
        const char* refusal;  // nullptr: accepted
    };
    const Case cases[] = {
        {"keyExists0", "(ILjava/lang/String;I)Z", true, nullptr},
        {"keyExists0", "(ILjava/lang/String;J)Z", true, "no native method \"keyExists0\" \"(ILjava/lang/String;J)Z\""},
        {"keyExist0", "(ILjava/lang/String;I)Z", true, "no native method \"keyExist0\" \"(ILjava/lang/String;I)Z\""},
        {"helper", "()V", true, "no native method \"helper\" \"()V\""},  // declared, but not native
        {"keyExists0", "(ILjava/lang/String;I)Z", false,
         "null function for \"keyExists0\" \"(ILjava/lang/String;I)Z\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + c.signature);
        Environment e;
        e.declareNativesFromTable();
        const std::string registry = kPackage + "Registry";
        e.declareStaticMethod(registry, "helper", "()V");
        JNIEnv* env = e.env();
        char function;
        JNINativeMethod methods[] = {
            {const_cast<char*>("createKey0"), const_cast<char*>("(ILjava/lang/String;I)Z"), &function},
            {const_cast<char*>(c.name), const_cast<char*>(c.signature), c.function ? &function : nullptr},
            {const_cast<char*>("changeNotifyAssociations0"), const_cast<char*>("()V"), &function},
        };
        const jint result = env->RegisterNatives(env->FindClass(registry.c_str()), methods, 3);
        if (!c.refusal) {
            EXPECT_EQ(result, JNI_OK);
            EXPECT_EQ(e.boundNatives().size(), 3u);
            EXPECT_EQ(e.problems(), std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(result, JNI_ERR);
        ASSERT_EQ(e.boundNatives().size(), 1u) << "the method before the refused one stays bound";
        EXPECT_EQ(e.boundNatives()[0].name, "createKey0");
        EXPECT_EQ(e.problems(), std::vector<std::string>{"error RegisterNatives \"" + registry + "\": " + c.refusal});
        EXPECT_EQ(e.classNameOf(e.pendingException()), "java/lang/NoSuchMethodError");
    }
}

// Slots the double does not implement are recorded and answer null or zero;
// on i686 each pops exactly its own arguments, so the caller goes on intact.
TEST(JniDoubleUnexpected, UnimplementedSlotsRecordTheirNameAndReturnZero) {
    Environment e;
    JNIEnv* env = e.env();
    jstring text = e.newString(L"x");
    EXPECT_EQ(env->GetVersion(), 0);
    EXPECT_EQ(env->NewGlobalRef(text), nullptr);
    EXPECT_EQ(env->MonitorEnter(text), 0);
    EXPECT_EQ(env->GetFieldID(env->FindClass("java/lang/String"), "value", "[B"), nullptr);
    env->CallVoidMethod(text, nullptr, 1, 2.0, text);                  // the wrapper calls the V slot
    env->functions->CallVoidMethod(env, text, nullptr, 1, 2.0, text);  // the variadic slot itself
    EXPECT_EQ(env->CallStaticLongMethod(nullptr, nullptr, 5LL), 0);
    EXPECT_EQ(env->GetStringLength(text), 1);
    EXPECT_EQ(e.events("unexpected"), (std::vector<std::string>{
                                          "unexpected JNI call GetVersion",
                                          "unexpected JNI call NewGlobalRef",
                                          "unexpected JNI call MonitorEnter",
                                          "unexpected JNI call GetFieldID",
                                          "unexpected JNI call CallVoidMethodV",
                                          "unexpected JNI call CallVoidMethod",
                                          "unexpected JNI call CallStaticLongMethodV",
                                      }));
}

TEST(JniDoubleStrings, CrossUnchangedInBothEncodings) {
    const std::wstring texts[] = {L"", L"plain", std::wstring(L"nul\0inside", 10), L"caf\u00e9 \u4e2d\u6587 \U0001F600",
                                  L"C:\\Program Files\\x"};
    for (const std::wstring& text : texts) {
        Environment e;
        JNIEnv* env = e.env();
        jstring string = env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
        ASSERT_EQ(env->GetStringLength(string), static_cast<jsize>(text.size()));
        jboolean isCopy = JNI_FALSE;
        const jchar* chars = env->GetStringChars(string, &isCopy);
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(chars), text.size()), text);
        EXPECT_EQ(chars[text.size()], 0xFFFF) << "no terminator: code that relies on one sees a wrong text";
        env->ReleaseStringChars(string, chars);

        const char* utf = env->GetStringUTFChars(string, nullptr);
        const std::string modified = utf;
        EXPECT_EQ(modified.find('\0'), std::string::npos);
        EXPECT_EQ(e.stringValue(env->NewStringUTF(utf)), text);
        env->ReleaseStringUTFChars(string, utf);
        EXPECT_EQ(e.unreleasedBuffers(), 0);
        EXPECT_EQ(e.problems(), std::vector<std::string>{});
    }
    Environment e;
    const char* utf = e.env()->GetStringUTFChars(e.newString(std::wstring(L"a\0\U0001F600", 4)), nullptr);
    EXPECT_EQ(std::string(utf), "a\xC0\x80\xED\xA0\xBD\xED\xB8\x80")
        << "modified UTF-8: NUL as C0 80, surrogates apart";
}

TEST(JniDoubleStrings, ReleasingTheWrongBufferIsAnError) {
    Environment e;
    JNIEnv* env = e.env();
    jstring a = e.newString(L"a"), b = e.newString(L"b");
    const jchar* chars = env->GetStringChars(a, nullptr);
    env->ReleaseStringChars(b, chars);
    EXPECT_EQ(e.unreleasedBuffers(), 1);
    env->ReleaseStringChars(a, chars);
    env->ReleaseStringChars(a, chars);
    EXPECT_EQ(e.unreleasedBuffers(), 0);
    EXPECT_EQ(e.events("error").size(), 2u) << ::testing::PrintToString(e.record());
}

TEST(JniDoubleArrays, BoundsAndElementTypesAreChecked) {
    Environment e;
    e.declareClass("java/lang/Integer");
    JNIEnv* env = e.env();
    jobjectArray array = env->NewObjectArray(2, env->FindClass("java/lang/String"), nullptr);
    env->SetObjectArrayElement(array, 1, e.newString(L"second"));
    EXPECT_EQ(env->GetArrayLength(array), 2);
    EXPECT_EQ(env->GetObjectArrayElement(array, 0), nullptr);
    EXPECT_EQ(e.stringArrayValue(array), (std::vector<std::wstring>{L"", L"second"}));

    env->SetObjectArrayElement(array, 2, e.newString(L"third"));
    EXPECT_EQ(e.classNameOf(e.pendingException()), "java/lang/ArrayIndexOutOfBoundsException");
    env->ExceptionClear();
    env->SetObjectArrayElement(array, 0, e.newObject("java/lang/Integer"));
    EXPECT_EQ(e.classNameOf(e.pendingException()), "java/lang/ArrayStoreException");
    env->ExceptionClear();

    jbyteArray bytes = e.newByteArray({1, 2, 3});
    jbyte region[2] = {};
    env->GetByteArrayRegion(bytes, 1, 2, region);
    EXPECT_EQ(region[0], 2);
    EXPECT_EQ(region[1], 3);
    env->GetByteArrayRegion(bytes, 2, 2, region);
    EXPECT_EQ(e.classNameOf(e.pendingException()), "java/lang/ArrayIndexOutOfBoundsException");
    env->ExceptionClear();
    jint ints[1];
    env->GetIntArrayRegion(reinterpret_cast<jintArray>(bytes), 0, 1, ints);
    EXPECT_EQ(e.events("error").size(), 1u) << "an int read of a byte array";
}

TEST(JniDoubleArrays, ElementsReachTheArrayOnlyWhenReleasedWithCopyBack) {
    Environment e;
    JNIEnv* env = e.env();
    jintArray array = e.newIntArray({10, 20});
    jint* elements = env->GetIntArrayElements(array, nullptr);
    elements[0] = 11;
    env->ReleaseIntArrayElements(array, elements, JNI_ABORT);
    EXPECT_EQ(e.intArrayValue(array), (std::vector<jint>{10, 20}));
    elements = env->GetIntArrayElements(array, nullptr);
    elements[1] = 21;
    env->ReleaseIntArrayElements(array, elements, JNI_COMMIT);
    EXPECT_EQ(e.intArrayValue(array), (std::vector<jint>{10, 21}));
    EXPECT_EQ(e.unreleasedBuffers(), 1) << "JNI_COMMIT keeps the buffer";
    env->ReleaseIntArrayElements(array, elements, 0);
    EXPECT_EQ(e.unreleasedBuffers(), 0);
}

TEST(JniDoubleReferences, DeletedAndForeignReferencesAreErrors) {
    Environment e;
    JNIEnv* env = e.env();
    jstring text = e.newString(L"gone");
    env->DeleteLocalRef(text);
    EXPECT_EQ(env->GetStringLength(text), 0);
    env->DeleteLocalRef(text);
    int notAReference = 0;
    env->GetArrayLength(reinterpret_cast<jarray>(&notAReference));
    env->GetStaticMethodID(reinterpret_cast<jclass>(text), "x", "()V");
    const std::vector<std::string> errors = e.events("error");
    ASSERT_EQ(errors.size(), 4u) << ::testing::PrintToString(e.record());
    EXPECT_NE(errors[0].find("GetStringLength: deleted local reference"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("DeleteLocalRef: deleted twice"), std::string::npos) << errors[1];
    EXPECT_NE(errors[2].find("GetArrayLength: not a reference of this VM"), std::string::npos) << errors[2];
    EXPECT_NE(errors[3].find("GetStaticMethodID: deleted local reference"), std::string::npos) << errors[3];
    EXPECT_EQ(e.deletedLocalRefs(), 1);
}

// Live local references: each one handed out counts until it is deleted,
// and the peak remembers the most at once.
TEST(JniDoubleReferences, LiveAndPeakCountsFollowMakingAndDeleting) {
    Environment e;
    JNIEnv* env = e.env();
    const int before = e.liveLocalRefs();
    jstring a = env->NewString(reinterpret_cast<const jchar*>(u"a"), 1);
    jstring b = env->NewString(reinterpret_cast<const jchar*>(u"b"), 1);
    EXPECT_EQ(e.liveLocalRefs(), before + 2);
    env->DeleteLocalRef(a);
    env->DeleteLocalRef(a);  // an error, not a second release
    EXPECT_EQ(e.liveLocalRefs(), before + 1);
    EXPECT_EQ(e.peakLocalRefs(), before + 2);
    e.resetPeakLocalRefs();
    EXPECT_EQ(e.peakLocalRefs(), before + 1);
    env->DeleteLocalRef(b);
    EXPECT_EQ(e.liveLocalRefs(), before);
    EXPECT_EQ(e.peakLocalRefs(), before + 1);
}

// The variadic, V and A forms read the same arguments and record the same line.
TEST(JniDoubleRecord, CallsShowTheirArgumentsInAllThreeForms) {
    Environment e;
    const char* signature = "(ZIJDLjava/lang/String;[Ljava/lang/String;[ILjava/lang/Object;Ljava/lang/Object;)V";
    e.declareStaticMethod("t/T", "m", signature);
    JNIEnv* env = e.env();
    jclass cls = env->FindClass("t/T");
    jmethodID m = env->GetStaticMethodID(cls, "m", signature);
    jstring text = e.newString(L"a\"b\\c\n\u00e9");
    jobjectArray strings = e.newObjectArray("java/lang/String", {e.newString(L"x"), nullptr});
    jintArray ints = e.newIntArray({1, -2});
    jobject object = e.newObject("t/T");
    const std::string expected = "CallStaticVoidMethod \"t/T\" \"m\" \"" + std::string(signature) +
                                 "\" (true, -3, 7L, 1.5, \"a\\\"b\\\\c\\n\xC3\xA9\", {\"x\", null}, {1, -2}, null, " +
                                 e.describe(object) + ")";
    EXPECT_EQ(e.describe(object).compare(0, 5, "<t/T#"), 0) << e.describe(object);

    env->functions->CallStaticVoidMethod(env, cls, m, JNI_TRUE, -3, static_cast<jlong>(7), 1.5, text, strings, ints,
                                         nullptr, object);
    env->CallStaticVoidMethod(cls, m, JNI_TRUE, -3, static_cast<jlong>(7), 1.5, text, strings, ints, nullptr, object);
    jvalue args[9];
    args[0].z = JNI_TRUE;
    args[1].i = -3;
    args[2].j = 7;
    args[3].d = 1.5;
    args[4].l = text;
    args[5].l = strings;
    args[6].l = ints;
    args[7].l = nullptr;
    args[8].l = object;
    env->CallStaticVoidMethodA(cls, m, args);
    EXPECT_EQ(e.events("CallStaticVoidMethod"), (std::vector<std::string>{expected, expected, expected}));
}

TEST(JniDoubleObjects, ToStringSetPropertyAndConstructors) {
    Environment e;
    e.declareLauncherClasses();
    e.declareClass("app/Thing");
    e.declareMethod("app/Thing", "<init>", "(Ljava/lang/String;I)V");
    JNIEnv* env = e.env();

    jclass object = env->FindClass("java/lang/Object");
    jmethodID toString = env->GetMethodID(object, "toString", "()Ljava/lang/String;");
    jthrowable error = e.newThrowable("java/lang/IllegalStateException", L"bad state");
    EXPECT_EQ(e.stringValue(env->CallObjectMethod(error, toString)), L"java.lang.IllegalStateException: bad state");
    EXPECT_EQ(e.stringValue(env->CallObjectMethod(e.newString(L"s"), toString)), L"s");

    jclass system = env->FindClass("java/lang/System");
    jmethodID setProperty =
        env->GetStaticMethodID(system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    EXPECT_EQ(env->CallStaticObjectMethod(system, setProperty, e.newString(L"k"), e.newString(L"v1")), nullptr);
    jobject previous = env->CallStaticObjectMethod(system, setProperty, e.newString(L"k"), e.newString(L"v2"));
    EXPECT_EQ(e.stringValue(previous), L"v1");
    EXPECT_EQ(e.property("k"), L"v2");

    jclass thing = env->FindClass("app/Thing");
    jmethodID constructor = env->GetMethodID(thing, "<init>", "(Ljava/lang/String;I)V");
    jobject made = env->NewObject(thing, constructor, e.newString(L"n"), 4);
    EXPECT_EQ(e.constructorArguments(made), "(\"n\", 4)");
    EXPECT_TRUE(env->IsInstanceOf(made, object));
    EXPECT_FALSE(env->IsInstanceOf(made, system));
    EXPECT_EQ(e.describe(env->GetObjectClass(made)), "<class app/Thing>");
    EXPECT_EQ(e.problems(), std::vector<std::string>{});
}

TEST(JniDoubleConfiguration, ParsesEveryKeyAndNamesBadLines) {
    const jni_double::Configuration good = jni_double::parseConfiguration(
        "\xEF\xBB\xBF# a comment\r\ndefaults=no\r\nrecord=C:\\out\\r\xC3\xA9.txt\r\nfail=main:throw\n"
        "fail = findclass:a/B\nthrow=x.Y: z\n\nclass=a/C\nstatic=a/C run ()V\nfield=a/C f Ljava/lang/String;\n"
        "native=a/C n (I)Z\n");
    EXPECT_EQ(good.errors, std::vector<std::string>{});
    EXPECT_FALSE(good.defaults);
    EXPECT_EQ(good.recordPath, "C:\\out\\r\xC3\xA9.txt");
    EXPECT_EQ(good.failures, (std::vector<std::string>{"main:throw", "findclass:a/B"}));
    EXPECT_EQ(good.throwText, L"x.Y: z");
    EXPECT_EQ(good.classes, std::vector<std::string>{"a/C"});
    ASSERT_EQ(good.members.size(), 3u);
    EXPECT_EQ(good.members[2].kind + " " + good.members[2].name + " " + good.members[2].signature, "native n (I)Z");

    const jni_double::Configuration bad =
        jni_double::parseConfiguration("record=a\nrecord=b\nnonsense\nstatic=a/C run\ncolour=red\ndefaults=maybe\n");
    EXPECT_EQ(bad.errors, (std::vector<std::string>{
                              "line 2: record given twice",
                              "line 3: no \"=\" in nonsense",
                              "line 4: static takes a class, a name and a signature",
                              "line 5: unknown key colour",
                              "line 6: defaults is yes or no, not maybe",
                          }));
}

TEST(JniDoubleConfiguration, AppliesDeclarationsFailuresAndDefaults) {
    Environment e;
    jni_double::applyConfiguration(
        e, jni_double::parseConfiguration("fail=findclass:java/lang/System\nfail=sometimes\nnative=a/C n (I)Z\n"));
    JNIEnv* env = e.env();
    EXPECT_EQ(env->FindClass("java/lang/System"), nullptr);
    env->ExceptionClear();
    EXPECT_NE(env->FindClass((kPackage + "Win32Services").c_str()), nullptr) << "defaults are on unless turned off";
    EXPECT_NE(env->FindClass("com/kelpa/runtime/util/WinDel"), nullptr);
    JNINativeMethod method{const_cast<char*>("n"), const_cast<char*>("(I)Z"), &e};
    EXPECT_EQ(env->RegisterNatives(env->FindClass("a/C"), &method, 1), JNI_OK);
    EXPECT_EQ(e.events("error"), std::vector<std::string>{"error config: unknown failure step \"sometimes\""});

    Environment bare;
    jni_double::applyConfiguration(bare, jni_double::parseConfiguration("defaults=no\n"));
    EXPECT_EQ(bare.env()->FindClass("com/kelpa/runtime/util/WinDel"), nullptr);
}
