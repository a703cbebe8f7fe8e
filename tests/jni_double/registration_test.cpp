// The launcher's JNI code run against the JNI test double: registerNatives
// (exported by this test executable through the launcher's generated
// module-definition file, so every native is found by its exported name as in
// the stub), reportJavaException, and the jvm.dll built from the double.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

#include "jvm/java_vm_launcher.h"
#include "natives/registration.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/log_capture.h"

using jni_double::Environment;

namespace {

const std::string kPackage = std::string(jni_double::kNativePackage) + "/";

// The natives table, read here on its own from the one list.
struct Native {
    std::string className;
    std::string method;
    std::string signature;
};
const std::vector<Native> kTable = {
#define NATIVE_PACKAGE(path)
#define NATIVE_CLASS(cls)
#define NATIVE_METHOD(cls, method, signature) {kPackage + #cls, #method, signature},
#include "natives/native_methods.inc"
#undef NATIVE_PACKAGE
#undef NATIVE_CLASS
#undef NATIVE_METHOD
};

std::vector<std::string> tableClasses() {
    std::vector<std::string> classes;
    for (const Native& native : kTable)
        if (classes.empty() || classes.back() != native.className) classes.push_back(native.className);
    return classes;
}

std::vector<std::wstring> g_logged;

void captureLog(const wchar_t* format, ...) {
    wchar_t line[1024];
    va_list args;
    va_start(args, format);
    std::vswprintf(line, 1024, format, args);
    va_end(args);
    g_logged.push_back(line);
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string directoryOfExecutable() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n);
    return text.substr(0, text.find_last_of('\\') + 1);
}

// The classes RegisterNatives was called for, in order.
std::vector<std::string> registeredClasses(const Environment& e) {
    std::vector<std::string> classes;
    for (const std::string& line : e.events("RegisterNatives "))
        classes.push_back(line.substr(17, line.find('"', 17) - 17));
    return classes;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        g_logged.clear();
        e.declareLauncherClasses();
        e.declareNativesFromTable();
    }
    unsigned char run(HMODULE module = GetModuleHandleW(nullptr)) {
        return registerNatives(e.env(), module, &captureLog);
    }

    Environment e;
};

}  // namespace

TEST_F(Registration, BindsAll79NativesIn15ClassesInTableOrder) {
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(g_logged, std::vector<std::wstring>{});
    EXPECT_EQ(e.problems(), std::vector<std::string>{});
    EXPECT_EQ(registeredClasses(e), tableClasses());
    EXPECT_EQ(tableClasses().size(), 15u);

    const std::vector<jni_double::BoundNative> bound = e.boundNatives();
    ASSERT_EQ(bound.size(), 79u);
    for (std::size_t i = 0; i < bound.size(); ++i) {
        SCOPED_TRACE(kTable[i].className + "." + kTable[i].method);
        EXPECT_EQ(bound[i].className, kTable[i].className);
        EXPECT_EQ(bound[i].name, kTable[i].method);
        EXPECT_EQ(bound[i].signature, kTable[i].signature);
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(bound[i].function, bound[j].function);
    }
}

// The exported names carry the argument bytes of the stdcall convention on
// i686: 8 for the environment and class, 8 per long, 4 per other parameter.
TEST_F(Registration, BoundFunctionsAreTheExportsOfTheirNames) {
    struct Case {
        const char* cls;
        const char* method;
        int bytes;
    };
    const Case cases[] = {
        {"FolderInfo", "getSpecialFolder0", 16},    {"Misc", "setForegroundWindow0", 16},
        {"Misc", "terminateProcesses0", 20},        {"VistaFileChooser", "displayDialog0", 68},
        {"Win32Proxy", "getAutoProxyConfig0", 32},  {"ShellLink", "uninitialize", 8},
        {"Win32Services", "getServiceBinary0", 12},
    };
    ASSERT_EQ(run(), 1);
    const std::vector<jni_double::BoundNative> bound = e.boundNatives();
    for (const Case& c : cases) {
        std::string name = "Java_com_tovrix_runtime_installer_platform_win32_" + std::string(c.cls) + "_" + c.method;
#ifndef _WIN64
        name = "_" + name + "@" + std::to_string(c.bytes);
#endif
        void* exported = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name.c_str()));
        ASSERT_NE(exported, nullptr) << name;
        bool found = false;
        for (const jni_double::BoundNative& native : bound)
            if (native.className == kPackage + c.cls && native.name == c.method) {
                EXPECT_EQ(native.function, exported) << name;
                found = true;
            }
        EXPECT_TRUE(found) << name;
    }
}

TEST_F(Registration, MissingClassStopsBeforeLaterClasses) {
    ASSERT_TRUE(e.failStep("findclass:" + kPackage + "Registry"));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(g_logged, std::vector<std::wstring>{widen("could not load class " + kPackage + "Registry")});
    const std::vector<std::string> classes = tableClasses();
    const std::vector<std::string> before(classes.begin(), classes.begin() + 11);
    EXPECT_EQ(registeredClasses(e), before);
    EXPECT_EQ(e.events("FindClass \"" + kPackage + "Win32Exec\""), std::vector<std::string>{});
    // Registration clears nothing: the class lookup's error stays pending.
    EXPECT_EQ(e.toStringOf(e.pendingException()), widen("java.lang.NoClassDefFoundError: " + kPackage + "Registry"));
}

TEST_F(Registration, MissingExportNamesTheFirstMissingMethod) {
    HMODULE partial = LoadLibraryA((directoryOfExecutable() + "partial_natives.dll").c_str());
    ASSERT_NE(partial, nullptr) << "partial_natives.dll is built beside the test";
    EXPECT_EQ(run(partial), 0);
    EXPECT_EQ(g_logged, std::vector<std::wstring>{
                            L"did not find Java_com_tovrix_runtime_installer_platform_win32_Registry_getValue0"});
    const std::vector<std::string> classes = tableClasses();
    EXPECT_EQ(registeredClasses(e), std::vector<std::string>(classes.begin(), classes.begin() + 11))
        << "RegisterNatives is never called for the class with the missing export";
    EXPECT_EQ(e.events("FindClass \"" + kPackage + "Win32Exec\""), std::vector<std::string>{});
    EXPECT_EQ(e.problems(), std::vector<std::string>{});
}

TEST_F(Registration, RefusedRegistrationIsLoggedWithItsResult) {
    ASSERT_TRUE(e.failStep("registernatives:" + kPackage + "Misc"));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(g_logged, std::vector<std::wstring>{widen("register " + kPackage + "Misc failed -1")});
    EXPECT_EQ(registeredClasses(e).back(), kPackage + "Misc");
    EXPECT_EQ(registeredClasses(e).size(), 4u);
}

// reportJavaException lets the exception's own toString speak, has the VM
// describe it and leaves nothing pending.
TEST(ReportJavaException, LogsTheExceptionsOwnToStringAndClearsIt) {
    Environment e;
    e.declareClass("app/Failure", "java/lang/RuntimeException");
    e.declareMethod("app/Failure", "toString", "()Ljava/lang/String;",
                    [](Environment& env, jobject, const std::vector<jvalue>&) {
                        jvalue result{};
                        result.l = env.newString(L"app.Failure: own text \u00fc");
                        return result;
                    });
    std::string described;
    e.setDescribeOutput([&described](const std::string& text) { described += text; });
    JNIEnv* env = e.env();
    log_capture::clear();
    EXPECT_TRUE(reportJavaException(env, true));
    EXPECT_EQ(log_capture::lines(), std::vector<wstring>{});

    env->Throw(e.newThrowable("app/Failure", L"ignored by the override"));
    EXPECT_FALSE(reportJavaException(env, true));
    EXPECT_EQ(log_capture::lines(),
              (std::vector<wstring>{L"ERROR: an exception occurred", L"ERROR: app.Failure: own text \u00fc"}));
    EXPECT_EQ(described, "app.Failure: own text \xC3\xBC\n");
    EXPECT_EQ(e.pendingException(), nullptr);
    EXPECT_EQ(e.problems(), std::vector<std::string>{});

    described.clear();
    env->Throw(e.newThrowable("java/lang/IllegalStateException", L"quiet"));
    EXPECT_FALSE(reportJavaException(env, false));
    EXPECT_EQ(described, "");
    EXPECT_EQ(e.pendingException(), nullptr);
}

// The DLL: undecorated entries, its configuration file and a record written
// event by event.  It keeps one environment per process, so one test only.
TEST(JvmDoubleDll, ReadsItsConfigurationAndWritesTheRecordAsItGoes) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string base = std::string(temp) + "jvm_double_test_" + std::to_string(GetCurrentProcessId());
    const std::string config = base + ".cfg", record = base + "_record.txt";
    DeleteFileA(record.c_str());
    const std::string text = "record=" + record + "\nfail=findclass:com/kelpa/runtime/util/WinDel\n";
    HANDLE file = CreateFileA(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    SetEnvironmentVariableA("JVM_DOUBLE_CONFIG", config.c_str());

    std::string relative = JVM_DOUBLE_DLL;
    for (char& c : relative)
        if (c == '/') c = '\\';
    HMODULE dll = LoadLibraryA((directoryOfExecutable() + relative).c_str());
    ASSERT_NE(dll, nullptr) << JVM_DOUBLE_DLL;
    for (const char* entry : {"JNI_CreateJavaVM", "JNI_GetDefaultJavaVMInitArgs", "JNI_GetCreatedJavaVMs"})
        EXPECT_NE(GetProcAddress(dll, entry), nullptr) << entry;
    using Create = jint(JNICALL*)(JavaVM**, void**, void*);
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
    ASSERT_NE(create, nullptr);

    std::string option = "-Dk=v";
    JavaVMOption options[] = {{&option[0], nullptr}};
    JavaVMInitArgs args{JNI_VERSION_1_2, 1, options, JNI_TRUE};
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    const jint created = create(&vm, reinterpret_cast<void**>(&env), &args);  // reads the configuration
    SetEnvironmentVariableA("JVM_DOUBLE_CONFIG", nullptr);
    ASSERT_EQ(created, JNI_OK);
    EXPECT_EQ(env->FindClass("com/kelpa/runtime/util/WinDel"), nullptr);
    EXPECT_NE(env->FindClass((kPackage + "Common").c_str()), nullptr);

    std::string content;
    file = CreateFileA(record.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << record;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) content.append(buffer, got);
    CloseHandle(file);
    // Object numbers depend on the double's start-up; the rest is exact.
    for (std::size_t at = content.find('#'); at != std::string::npos; at = content.find('#', at + 1)) {
        std::size_t end = at + 1;
        while (end < content.size() && isdigit(static_cast<unsigned char>(content[end]))) ++end;
        content.replace(at + 1, end - at - 1, "N");
    }
    std::string configLine = "config \"";
    for (char c : config) configLine += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(content, configLine +
                           "\"\n"
                           "JNI_CreateJavaVM version=0x00010002 nOptions=1 ignoreUnrecognized=true\n"
                           "option 0 \"-Dk=v\"\n"
                           "JNI_CreateJavaVM -> 0\n"
                           "FindClass \"com/kelpa/runtime/util/WinDel\" -> null (injected failure)\n"
                           "pending <java/lang/NoClassDefFoundError#N> "
                           "\"java.lang.NoClassDefFoundError: com/kelpa/runtime/util/WinDel\"\n"
                           "warning FindClass called with pending <java/lang/NoClassDefFoundError#N>\n"
                           "FindClass \"" +
                           kPackage + "Common\" -> <class " + kPackage + "Common>\n");
    DeleteFileA(config.c_str());
}
