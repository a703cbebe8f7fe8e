// The JVM probe under Wine: the java.exe double in fake homes, the located-JVM
// cache and the registry searches in a private registry.
#include "jvm/java_probe.h"

#include <cstdlib>
#include <cstring>

#include "jvm/jvm_registry.h"
#include "jvm/search_rules.h"
#include "tests/unit/fake_runtime_win.h"

namespace {

using fake_runtime::FakeHome;
using fake_runtime::JavaBehaviour;
using fake_runtime::makeHome;

const char* const kOpenJdk11 = "openjdk version \"11.0.2\" 2019-01-15";

class JavaProbe : public fake_runtime::ProbeTest {
protected:
    VersionRange range(const std::string& minimum = "1.8", const std::string& maximum = "") {
        return makeVersionRange(minimum, maximum);
    }

    // Reads the cache entry of an executable straight from the registry.
    static bool cacheEntry(const std::string& javaExecutable, std::string& version, FILETIME& written) {
        HKEY key = nullptr;
        const std::string name = jvmCacheKeyName(javaExecutable);
        if (RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        char text[256] = {};
        DWORD size = sizeof text - 1;
        DWORD timeSize = sizeof written;
        const bool ok =
            RegQueryValueExA(key, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
            RegQueryValueExA(key, "LastWriteTime", nullptr, nullptr, reinterpret_cast<BYTE*>(&written), &timeSize) ==
                ERROR_SUCCESS &&
            timeSize == sizeof written;
        RegCloseKey(key);
        version.assign(text, size);
        while (!version.empty() && version.back() == '\0') version.pop_back();
        return ok;
    }

    static void setCacheEntry(const std::string& javaExecutable, const std::string& version, FILETIME written) {
        writeCachedVersion(javaExecutable, written, version);
    }
};

TEST_F(JavaProbe, RunsOnceThenAnswersFromTheCache) {
    const FakeHome fake = makeHome(path("jre11"), kOpenJdk11);
    std::string exe = fake.javaExecutable, version;
    EXPECT_TRUE(checkJavaExe(exe, version, range(), false, true));
    EXPECT_EQ(version, "11.0.2");
    EXPECT_EQ(exe, fake.javaExecutable);  // already absolute and lower-case
    EXPECT_TRUE(hasLine(L"got version from execution 11.0.2"));
    EXPECT_TRUE(hasLine(L"checkJavaExe returning 1"));

    std::string cached;
    FILETIME written = {}, actual = {};
    ASSERT_TRUE(cacheEntry(exe, cached, written));
    EXPECT_EQ(cached, "11.0.2");
    ASSERT_TRUE(fileExists(exe, &actual));
    EXPECT_EQ(CompareFileTime(&written, &actual), 0);

    log_capture::clear();
    EXPECT_TRUE(checkJavaExe(exe, version, range(), false, true));
    EXPECT_TRUE(hasLine(L"got version from registry 11.0.2"));
    EXPECT_EQ(countLines(L"got version from execution"), 0);
    EXPECT_EQ(fake.runs(), 1);

    // A caller that bypasses the cache runs the executable again.
    EXPECT_TRUE(checkJavaExe(exe, version, range(), false, false));
    EXPECT_EQ(fake.runs(), 2);
}

TEST_F(JavaProbe, UntrustedCacheEntriesAreProbedAgainAndRewritten) {
    const FakeHome fake = makeHome(path("jre"), kOpenJdk11);
    FILETIME actual = {};
    ASSERT_TRUE(fileExists(fake.javaExecutable, &actual));
    FILETIME stale = actual;
    stale.dwLowDateTime ^= 0x10000;
    struct Case {
        const char* what;
        std::string version;
        FILETIME written;
    } cases[] = {
        {"stale last-write time", "11.0.2", stale},
        {"old short version", "1.7.", actual},
        {"failed run", "1.0.0", actual},
    };
    int runs = 0;
    for (const Case& c : cases) {
        setCacheEntry(fake.javaExecutable, c.version, c.written);
        log_capture::clear();
        std::string exe = fake.javaExecutable, version;
        EXPECT_TRUE(checkJavaExe(exe, version, range(), false, true)) << c.what;
        EXPECT_TRUE(hasLine(L"got version from execution 11.0.2")) << c.what;
        EXPECT_EQ(fake.runs(), ++runs) << c.what;
        std::string cached;
        FILETIME written = {};
        ASSERT_TRUE(cacheEntry(exe, cached, written));
        EXPECT_EQ(cached, "11.0.2") << c.what;
        EXPECT_EQ(CompareFileTime(&written, &actual), 0) << c.what;
    }
}

TEST_F(JavaProbe, NoticesBeforeTheVersionAreSkipped) {
    // Java 21 under Wine warns before its version line; a user's
    // JAVA_TOOL_OPTIONS makes any VM announce it first.
    const FakeHome fake = makeHome(path("notices"), "");
    fake.behave({{"OpenJDK 64-Bit Server VM warning: Attempt to query job object information failed",
                  "Picked up JAVA_TOOL_OPTIONS: -Dx=1", kOpenJdk11},
                 0});
    log_capture::clear();
    std::string exe = fake.javaExecutable, version;
    EXPECT_TRUE(checkJavaExe(exe, version, range(), false, true));
    EXPECT_EQ(version, "11.0.2");
}

TEST_F(JavaProbe, FailingRunsAndUnexpectedOutput) {
    struct Case {
        const char* what;
        JavaBehaviour behaviour;
        const char* cachedAfter;  // nullptr: no entry
    } cases[] = {
        {"non-zero exit", {{kOpenJdk11}, 1}, "1.0.0"},
        {"another line first", {{"Error occurred during initialization of VM", kOpenJdk11}, 0}, nullptr},
        {"nothing printed", {{}, 0}, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        const FakeHome fake = makeHome(path("bad" + std::to_string(++n)), "");
        fake.behave(c.behaviour);
        log_capture::clear();
        std::string exe = fake.javaExecutable, version;
        EXPECT_FALSE(checkJavaExe(exe, version, range(), false, true)) << c.what;
        EXPECT_TRUE(hasLine(L"couldn't get version")) << c.what;
        std::string cached;
        FILETIME written = {};
        EXPECT_EQ(cacheEntry(exe, cached, written), c.cachedAfter != nullptr) << c.what;
        if (c.cachedAfter) {
            EXPECT_EQ(cached, c.cachedAfter) << c.what;
        }
    }
    std::string missing = path("nowhere\\bin\\java.exe"), version;
    EXPECT_FALSE(checkJavaExe(missing, version, range(), false, true));
    EXPECT_TRUE(hasLine(L"file doesn't exist"));
}

TEST_F(JavaProbe, VersionRangeAndPreReleaseRules) {
    struct Case {
        std::string line, minimum, maximum;
        bool allowPreRelease;
        bool accepted;
    } cases[] = {
        {"java version \"1.8.0_191\"", "1.8", "1.8", false, true},
        {"java version \"9.0.4\"", "1.8", "1.8", false, false},
        {"java version \"1.7.0_80\"", "1.8", "", false, false},
        {"openjdk version \"11-ea\" 2018-09-25", "1.8", "", false, false},
        {"openjdk version \"11-ea\" 2018-09-25", "1.8", "", true, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const FakeHome fake = makeHome(path("v" + std::to_string(++n)), c.line);
        std::string exe = fake.javaExecutable, version;
        EXPECT_EQ(checkJavaExe(exe, version, range(c.minimum, c.maximum), c.allowPreRelease, true), c.accepted)
            << c.line;
    }
    EXPECT_TRUE(hasLine(L"beta vm not allowed"));

    // "ea" is refused by the environment variable check, accepted by the
    // location check and, with entry 130, everywhere.
    const FakeHome ea = makeHome(path("ea"), "openjdk version \"12-ea\"");
    SetEnvironmentVariableA("JAVA_HOME", ea.home.c_str());
    std::string exe, version;
    EXPECT_FALSE(checkEnvironmentVariable("JAVA_HOME", range(), exe, version));
    EXPECT_TRUE(checkLocation(ea.home, false, range(), exe, version));
    EXPECT_EQ(exe, ea.javaExecutable);
    configStore().values[130] = "1";
    EXPECT_TRUE(checkEnvironmentVariable("JAVA_HOME", range(), exe, version));
}

TEST_F(JavaProbe, WindowedApplicationsNeedJavaw) {
    configStore().values[107] = "1";
    const FakeHome fake = makeHome(path("jre"), kOpenJdk11);
    std::string exe = fake.javaExecutable, version;
    EXPECT_FALSE(checkJavaExe(exe, version, range(), false, true));
    EXPECT_EQ(exe, fake.bin + "\\javaw.exe");

    ASSERT_TRUE(CopyFileA(fake.javaExecutable.c_str(), (fake.bin + "\\javaw.exe").c_str(), FALSE));
    exe = fake.javaExecutable;
    EXPECT_TRUE(checkJavaExe(exe, version, range(), false, true));
    EXPECT_EQ(exe, fake.bin + "\\javaw.exe");
}

TEST_F(JavaProbe, JavaOptionsAreHiddenFromTheProbeAndRestored) {
    SetEnvironmentVariableA("_JAVA_OPTIONS", "-Xmx1g");
    const FakeHome fake = makeHome(path("jre"), kOpenJdk11);
    std::string version;
    EXPECT_EQ(getJavaVersion(fake.javaExecutable, version), VersionRun::Found);
    EXPECT_EQ(version, "11.0.2");
    EXPECT_NE(fake.runRecord().find("| _JAVA_OPTIONS=(unset)"), std::string::npos) << fake.runRecord();
    EXPECT_TRUE(hasLine(L"_JAVA_OPTIONS is -Xmx1g"));
    char value[64] = {};
    EXPECT_EQ(GetEnvironmentVariableA("_JAVA_OPTIONS", value, sizeof value), 6u);
    EXPECT_STREQ(value, "-Xmx1g");
}

TEST_F(JavaProbe, ExecutableDerivation) {
    const FakeHome jre = makeHome(path("jdk\\jre"), kOpenJdk11);  // jdk\jre\bin\java.exe
    makeHome(path("jdk"), kOpenJdk11);                            // jdk\bin\java.exe as well
    std::string exe;
    EXPECT_TRUE(deriveJavaExecutable(path("jdk"), exe));
    EXPECT_EQ(exe, jre.javaExecutable);  // the inner JRE comes first
    EXPECT_TRUE(deriveJavaExecutable(path("jdk\\jre"), exe));
    EXPECT_EQ(exe, path("jdk\\jre\\bin\\java.exe"));

    configStore().values[131] = "1";  // a JDK is required
    EXPECT_FALSE(deriveJavaExecutable(path("jdk"), exe));
    fake_runtime::makeDirectories(path("jdk\\lib"));
    fake_runtime::writeText(path("jdk\\lib\\tools.jar"), "PK");
    EXPECT_TRUE(deriveJavaExecutable(path("jdk"), exe));
    EXPECT_EQ(exe, jre.javaExecutable);
}

TEST_F(JavaProbe, VendorSubkeysAreTriedFromTheGreatestByteString) {
    const std::wstring jreKey = L"SOFTWARE\\JavaSoft\\JRE\\";
    for (const char* name : {"1.8", "11", "9.0.4"}) {
        const FakeHome fake = makeHome(path(std::string("k") + name), std::string("java version \"") + name + "\"");
        const std::wstring wideName(name, name + std::strlen(name));
        setKey(HKEY_LOCAL_MACHINE, jreKey + wideName,
               {{L"JavaHome", std::wstring(fake.home.begin(), fake.home.end())}});
    }
    setKey(HKEY_LOCAL_MACHINE, jreKey + L"1.6", {{L"JavaHome", L"C:\\nowhere"}});  // out of range: never opened
    // The greatest byte string, 9.0.4, is tried first and passes.
    std::string exe, version;
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(version, "9.0.4");
    EXPECT_TRUE(hasLine(L"found sun " + fromFileCodePage(exe) + L" 9.0.4"));

    // Without 9.0.4's runtime the order goes on with 11, then 1.8.
    fake_runtime::removeTree(path("k9.0.4"));
    log_capture::clear();
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(version, "11");
    std::vector<std::wstring> tried;
    for (const wstring& line : log_capture::lines())
        if (line.rfind(L"checkJavaExe (", 0) == 0) tried.push_back(line);
    ASSERT_EQ(tried.size(), 2u);
    EXPECT_NE(tried[0].find(L"k9.0.4"), std::wstring::npos);
    EXPECT_NE(tried[1].find(L"k11"), std::wstring::npos);
}

TEST_F(JavaProbe, CurrentVersionPairPrefersTheGreaterJdk) {
    const FakeHome jdk = makeHome(path("jdk"), kOpenJdk11);
    const FakeHome jre = makeHome(path("jre"), "java version \"1.8.0_191\"");
    setKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JDK", {{L"CurrentVersion", L"11"}});
    setKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JDK\\11", {{L"JavaHome", fromFileCodePage(jdk.home)}});
    setKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JRE", {{L"CurrentVersion", L"1.8"}});
    setKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JRE\\1.8", {{L"JavaHome", fromFileCodePage(jre.home)}});
    std::string exe, version;
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(exe, jdk.javaExecutable);

    // A maximum of 1.8 drops the JDK's current version in the coarse check.
    EXPECT_TRUE(checkRegistry(range("1.8", "1.8"), exe, version));
    EXPECT_EQ(exe, jre.javaExecutable);

    // Entry 165 skips the vendor keys altogether.
    configStore().values[165] = "1";
    EXPECT_FALSE(checkRegistry(range(), exe, version));
}

TEST_F(JavaProbe, LocatedJvmsCompeteByVersion) {
    const FakeHome user = makeHome(path("user_jre"), "java version \"1.8.0_191\"");
    const FakeHome machine = makeHome(path("tvx_jres\\machine_jre"), kOpenJdk11);
    const FakeHome vendor = makeHome(path("vendor_jre"), "openjdk version \"17.0.1\"");
    setKey(HKEY_CURRENT_USER, fromFileCodePage(locatedJvmKeyName(user.javaExecutable)), {});
    registerLocatedJvm(machine.javaExecutable);  // goes to HKEY_LOCAL_MACHINE
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, locatedJvmKeyName(machine.javaExecutable).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    std::string exe, version;
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(exe, machine.javaExecutable);  // 11.0.2 beats the user's 1.8.0_191
    EXPECT_TRUE(hasLine(L"found located " + fromFileCodePage(machine.javaExecutable) + L" 11.0.2"));

    // A greater vendor runtime wins over the located one.
    setKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JRE\\17", {{L"JavaHome", fromFileCodePage(vendor.home)}});
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(exe, vendor.javaExecutable);

    // Entry 165: only runtimes under a "tvx_jres" directory count.
    configStore().values[165] = "1";
    EXPECT_FALSE(checkRegistry(range("1.8", "1.8"), exe, version));
    EXPECT_TRUE(checkRegistry(range(), exe, version));
    EXPECT_EQ(exe, machine.javaExecutable);
}

TEST_F(JavaProbe, PreviousInstallationsOfThisApplication) {
    std::string exe, version;
    EXPECT_FALSE(checkPreviousInstallation(HKEY_CURRENT_USER, range(), exe, version));  // no app id
    configStore().values[160] = "app-42";
    EXPECT_FALSE(checkPreviousInstallation(HKEY_CURRENT_USER, range(), exe, version));
    EXPECT_EQ(countLines(L"could not open installation node"), 1);

    makeHome(path("old\\jre"), "java version \"1.7.0_80\"");
    const FakeHome good = makeHome(path("good\\jre"), kOpenJdk11);
    const std::string list = path("missing") + ";" + path("old") + ";;" + path("good");
    setKey(HKEY_CURRENT_USER, L"SOFTWARE\\quillmoor\\tovrix\\installations", {{L"app-42", fromFileCodePage(list)}});
    log_capture::clear();
    EXPECT_TRUE(checkPreviousInstallation(HKEY_CURRENT_USER, range(), exe, version));
    EXPECT_EQ(exe, good.javaExecutable);
    EXPECT_TRUE(hasLine(L"did not find java in " + fromFileCodePage(path("missing"))));
    EXPECT_TRUE(hasLine(L"java version did not match in " + fromFileCodePage(path("old"))));
    EXPECT_FALSE(checkPreviousInstallation(HKEY_LOCAL_MACHINE, range(), exe, version));
}

}  // namespace
