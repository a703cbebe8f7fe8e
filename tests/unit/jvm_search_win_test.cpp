// The JVM search, LoadDLL and the jvm.dll loader under Wine, with fake homes
// built from the java.exe and jvm.dll doubles of this build's bit width.
#include "jvm/jvm_search.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <functional>

#include "jvm/jvm_dll.h"
#include "jvm/jvm_registry.h"
#include "jvm/jvm_selection.h"
#include "jvm/search_rules.h"
#include "launcher/errors.h"
#include "launcher/launcher_state.h"
#include "tests/unit/fake_runtime_win.h"

namespace {

using fake_runtime::FakeHome;
using fake_runtime::makeHome;

const char* const kOpenJdk11Output = "openjdk version \"11.0.2\" 2019-01-15";

std::string currentPath() {
    char value[32768];
    const DWORD n = GetEnvironmentVariableA("PATH", value, sizeof value);
    return n && n < sizeof value ? std::string(value, n) : std::string();
}

class JvmSearchTest : public fake_runtime::ProbeTest {
protected:
    void SetUp() override {
        ProbeTest::SetUp();
        configStore().values[10003] = work_;  // the application directory with .tovrix
        jvmSelection() = JvmSelection();
    }

    void TearDown() override {
        launcherState().extractionDirectory.clear();
        ProbeTest::TearDown();
    }

    void sequence(const std::string& entries) { configStore().values[128] = entries; }

    void preferenceFile(const std::string& name, const std::string& line) {
        fake_runtime::makeDirectories(path(".tovrix"));
        fake_runtime::writeText(path(".tovrix\\" + name), line + "\r\nignored second line\r\n");
    }
};

TEST_F(JvmSearchTest, SampleSequenceFindsTheRuntimeNamedByJavaHome) {
    const FakeHome fake = makeHome(path("jre"), kOpenJdk11Output);
    SetEnvironmentVariableA("JAVA_HOME", fake.home.c_str());
    sequence("Y;EJAVA_HOME;EJDK_HOME;");
    const std::string pathBefore = currentPath();

    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    const JvmSelection& selected = jvmSelection();
    EXPECT_EQ(selected.source, JvmSource::Environment);
    EXPECT_EQ(selected.sourceName, "JAVA_HOME");
    EXPECT_EQ(selected.javaExecutable, fake.javaExecutable);
    EXPECT_EQ(launcherState().jvmHome, fake.bin + "\\..");
    EXPECT_EQ(selected.version, "11.0.2");
    EXPECT_NE(selected.library, nullptr);
    EXPECT_NE(selected.createJavaVM, nullptr);
    EXPECT_EQ(selected.createJavaVM(nullptr, nullptr, nullptr), JNI_ERR);  // the double refuses

    for (const wstring& line : {wstring(L"LoadDLL (0, (null), 0)"), wstring(L"Searching for a JVM"),
                                wstring(L"MinVersion: 1.8, MaxVersion: "), wstring(L"Testing location  (type Y)"),
                                wstring(L"Testing location JAVA_HOME (type E)"), wstring(L"JVM source 3 (JAVA_HOME)"),
                                L"Trying " + fromFileCodePage(fake.bin) + L"\\client\\jvm.dll (exists 1)",
                                wstring(L"Loading of JVM-DLL successful")})
        EXPECT_TRUE(hasLine(line)) << fromFileCodePage(std::string(line.begin(), line.end()));
    EXPECT_TRUE(hasLine(L"Setting PATH " + fromFileCodePage(pathWithAppended(pathBefore, fake.bin))));
    EXPECT_EQ(countLines(L"Testing location JDK_HOME"), 0);            // the search ended at JAVA_HOME
    EXPECT_EQ(currentPath(), pathWithAppended(pathBefore, fake.bin));  // kept for the loaded runtime
}

TEST_F(JvmSearchTest, UnloadableRuntimesAreSkippedAndTheLastOneNamesTheFailure) {
    const FakeHome first = makeHome(path("first"), kOpenJdk11Output, nullptr);  // no jvm.dll anywhere
    const FakeHome second = makeHome(path("second"), kOpenJdk11Output, nullptr);
    SetEnvironmentVariableA("JAVA_HOME", second.home.c_str());
    sequence("A" + first.home + ";EJAVA_HOME;EJDK_HOME");
    const std::string pathBefore = currentPath();

    EXPECT_FALSE(LoadDLL(false, nullptr, false));
    EXPECT_EQ(jvmSelection().source, JvmSource::Environment);
    EXPECT_EQ(jvmSelection().sourceName, "JAVA_HOME");
    EXPECT_EQ(jvmSelection().javaExecutable, second.javaExecutable);
    EXPECT_EQ(jvmSelection().library, nullptr);
    EXPECT_TRUE(hasLine(L"Could not get DLL-Handle."));
    // Both bin directories and both inner JREs were tried, and each try undone.
    EXPECT_EQ(countLines(L"Trying to load JVM-DLL from "), 2);
    EXPECT_EQ(countLines(L"Trying " + fromFileCodePage(first.bin) + L"\\..\\jre\\bin\\"), 5);
    EXPECT_EQ(currentPath(), pathBefore);

    const FailureMessage message =
        searchFailureMessage(jvmSelection().source, jvmSelection().sourceName, static_cast<int>(sizeof(void*) * 8));
    EXPECT_EQ(message.id, sizeof(void*) == 4 ? 1017 : 1018);
    EXPECT_EQ(message.argument, "JAVA_HOME");
}

TEST_F(JvmSearchTest, AJdkLoadsFromItsInnerJre) {
    const FakeHome jdk = makeHome(path("jdk"), kOpenJdk11Output, nullptr);  // jdk\bin\java.exe, no jvm.dll in bin
    fake_runtime::makeDirectories(path("jdk\\jre\\bin\\server"));
    ASSERT_TRUE(CopyFileA((fake_runtime::doublesDirectory() + "jvm.dll").c_str(),
                          path("jdk\\jre\\bin\\server\\jvm.dll").c_str(), FALSE));
    const std::string pathBefore = currentPath();
    EXPECT_NE(loadJvmDll(jdk.javaExecutable), nullptr);
    EXPECT_TRUE(hasLine(L"Trying " + fromFileCodePage(jdk.bin) + L"\\..\\jre\\bin\\server\\jvm.dll (exists 1)"));
    EXPECT_EQ(currentPath(), pathWithAppended(pathBefore, jdk.bin + "\\..\\jre\\bin"));

    // A configured variant is tried before hotspot.
    configStore().values[152] = "server";
    log_capture::clear();
    EXPECT_NE(loadJvmDll(jdk.javaExecutable), nullptr);
    std::vector<wstring> tries;
    for (const wstring& line : log_capture::lines())
        if (line.rfind(L"Trying " + fromFileCodePage(jdk.bin) + L"\\..", 0) == 0) tries.push_back(line);
    ASSERT_FALSE(tries.empty());
    EXPECT_NE(tries.front().find(L"\\server\\jvm.dll"), wstring::npos);
}

TEST_F(JvmSearchTest, OutOfRangePreferenceIsSkippedAndKelpaJavaHomeIsConsulted) {
    const FakeHome old = makeHome(path("old"), "java version \"1.7.0_80\"");
    const FakeHome good = makeHome(path("good"), kOpenJdk11Output);
    preferenceFile("pref_jre.cfg", old.home);
    SetEnvironmentVariableA("KELPA_JAVA_HOME", good.home.c_str());
    sequence("");

    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    EXPECT_TRUE(hasLine(L"Has preferred location " + fromFileCodePage(old.home)));
    EXPECT_TRUE(hasLine(L"Using preferred location"));
    EXPECT_TRUE(hasLine(L"Search sequence finished"));
    EXPECT_EQ(jvmSelection().javaExecutable, good.javaExecutable);
    EXPECT_EQ(jvmSelection().source, JvmSource::Environment);
    EXPECT_EQ(jvmSelection().sourceName, "KELPA_JAVA_HOME");
    EXPECT_EQ(countLines(L"Trying to load JVM-DLL from " + fromFileCodePage(old.javaExecutable)), 0);
}

TEST_F(JvmSearchTest, FilesAndEntriesInSearchOrder) {
    const FakeHome preferred = makeHome(path("preferred"), kOpenJdk11Output);
    const FakeHome installed = makeHome(path("installed"), kOpenJdk11Output);
    const FakeHome run = makeHome(path("run"), kOpenJdk11Output);
    launcherState().extractionDirectory = path("run");
    fake_runtime::writeText(path("run\\inst_jre.cfg"), run.home + "\r\n");
    preferenceFile("inst_jre.cfg", installed.home);
    sequence("AC:\\no-such-runtime");

    // The extraction directory's file comes before the sequence; the
    // application's installed-location file after it.
    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    EXPECT_EQ(jvmSelection().javaExecutable, run.javaExecutable);
    EXPECT_EQ(jvmSelection().source, JvmSource::Location);
    EXPECT_EQ(jvmSelection().sourceName, run.home);
    EXPECT_TRUE(hasLine(L"Has installer location " + fromFileCodePage(run.home)));

    launcherState().extractionDirectory.clear();
    log_capture::clear();
    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    EXPECT_EQ(jvmSelection().javaExecutable, installed.javaExecutable);
    EXPECT_TRUE(hasLine(L"Using installer location"));
    EXPECT_TRUE(hasLine(L"Testing location C:\\no-such-runtime (type A)"));

    preferenceFile("pref_jre.cfg", preferred.home);
    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    EXPECT_EQ(jvmSelection().javaExecutable, preferred.javaExecutable);
}

TEST_F(JvmSearchTest, FallbackPassTakesCarriedRuntimesWhoseVersionIsUnknown) {
    const FakeHome carried = makeHome(path("carried"), "");
    carried.behave({{"Error: could not open jvm.cfg"}, 1});
    const FakeHome absolute = makeHome(path("absolute"), "");
    absolute.behave({{"Error"}, 1});

    // An absolute A entry is never reconsidered.
    sequence("A" + absolute.home);
    EXPECT_FALSE(LoadDLL(false, nullptr, false));
    EXPECT_TRUE(hasLine(L"No JVM found"));
    EXPECT_EQ(countLines(L"Testing relative location"), 0);

    sequence("A" + absolute.home + ";B" + carried.home);
    log_capture::clear();
    ASSERT_TRUE(LoadDLL(false, nullptr, false));
    EXPECT_TRUE(hasLine(L"Testing relative location " + fromFileCodePage(carried.home)));
    EXPECT_TRUE(hasLine(fromFileCodePage(carried.javaExecutable) + L" exists"));
    EXPECT_EQ(jvmSelection().source, JvmSource::Location);
    EXPECT_EQ(jvmSelection().sourceName, carried.home);
    EXPECT_EQ(jvmSelection().version, "");
}

TEST_F(JvmSearchTest, GivenLocations) {
    const FakeHome old = makeHome(path("old"), "java version \"1.6.0_45\"");
    EXPECT_FALSE(LoadDLL(false, old.javaExecutable.c_str(), true));
    EXPECT_TRUE(hasLine(L"ERROR: Provided JVM unusable"));
    EXPECT_EQ(old.runs(), 1);

    // A given executable bypasses the cache and may be a pre-release.
    const FakeHome ea = makeHome(path("ea"), "openjdk version \"17-ea\"");
    ASSERT_TRUE(LoadDLL(false, ea.javaExecutable.c_str(), true));
    ASSERT_TRUE(LoadDLL(false, ea.javaExecutable.c_str(), true));
    EXPECT_EQ(ea.runs(), 2);
    EXPECT_EQ(jvmSelection().source, JvmSource::Location);
    EXPECT_EQ(jvmSelection().sourceName, ea.javaExecutable);

    // A given home directory is taken whatever its version.
    log_capture::clear();
    EXPECT_TRUE(LoadDLL(false, old.home.c_str(), false));
    EXPECT_TRUE(hasLine(L"Got JRE location " + fromFileCodePage(old.home) + L" (java exe: 0)"));
    EXPECT_EQ(jvmSelection().javaExecutable, old.javaExecutable);
}

TEST_F(JvmSearchTest, NativeLibraryDirectoriesGoInFrontOfPath) {
    const std::string pathBefore = currentPath();
    configStore().values[10004] = "user;C:\\libs\\";
    setUpNativeLibraryPath();
    const std::string expected = executableDirectory() + "user;C:\\libs\\;" + pathBefore;
    EXPECT_EQ(currentPath(), expected);
    EXPECT_TRUE(hasLine(L"native lib dir is user;C:\\libs\\"));
    EXPECT_TRUE(hasLine(L"Setting PATH (native libs) " + fromFileCodePage(expected)));
    const char* crtCopy = std::getenv("PATH");
    ASSERT_NE(crtCopy, nullptr);
    EXPECT_EQ(std::string(crtCopy), expected);
}

// What LoadDLL shows when errors are to be shown, in console mode with
// standard error redirected to a file.
std::string shownError(const std::function<void()>& run, const std::string& file) {
    std::fflush(stderr);
    const int saved = _dup(2);
    const int target = _open(file.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
    _dup2(target, 2);
    const HANDLE savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(target)));  // not a console
    run();
    std::fflush(stderr);
    SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
    _dup2(saved, 2);
    _close(saved);
    _close(target);
    std::string text = fake_runtime::readText(file);
    const std::size_t end = text.find("\n\nLog: ");
    return end == std::string::npos ? text : text.substr(0, end);
}

TEST_F(JvmSearchTest, FailureMessagesNameTheSourceOfTheLastUsableCandidate) {
    switchToConsoleOutput();
    for (int id : {1005, 1016, 1017, 1018, 1019, 1020})
        configStore().messages[id] = W("message ") + widenBytes(std::to_string(id)) + W(" {0}");
    const bool wide = sizeof(void*) == 8;
    const std::string bits = wide ? "64" : "32";
    const FakeHome noDll = makeHome(path("nodll"), kOpenJdk11Output, nullptr);
    const FakeHome old = makeHome(path("old"), "java version \"1.7.0_80\"", nullptr);

    struct Case {
        const char* what;
        std::function<void()> setUp;
        const char* location;  // a java executable given to LoadDLL
        std::string shown;
    } cases[] = {
        {"nothing found", [] {}, nullptr, "message 1016 " + bits},
        {"environment variable",
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", noDll.home.c_str());
             configStore().values[128] = "EJAVA_HOME";
         },
         nullptr, std::string(wide ? "message 1018" : "message 1017") + " JAVA_HOME"},
        {"location", [&] { configStore().values[128] = "A" + noDll.home; }, nullptr,
         std::string(wide ? "message 1020 " : "message 1019 ") + noDll.home},
        {"system path",
         [&] {
             SetEnvironmentVariableA("PATH", (noDll.bin + ";" + currentPath()).c_str());
             configStore().values[128] = "S";
         },
         nullptr, "message 1016 " + bits},
        {"the located-JVM list",
         [&] {
             registerLocatedJvm(noDll.javaExecutable);
             configStore().values[128] = "Y";
         },
         nullptr, "message 1005 {0}"},  // no argument: a "{0}" of the text stays
        {"a given executable older than the minimum", [] {}, old.javaExecutable.c_str(), "message 1016 " + bits},
    };
    for (const Case& c : cases) {
        c.setUp();
        const std::string shown = shownError(
            [&] { EXPECT_FALSE(LoadDLL(true, c.location, c.location != nullptr)) << c.what; }, path("stderr.txt"));
        EXPECT_EQ(shown, c.shown + "\n") << c.what;
        SetEnvironmentVariableA("JAVA_HOME", nullptr);
        configStore().values.erase(128);
    }
}

// The real 64-bit runtime of scripts/fetch_java.sh, when it is there.
TEST_F(JvmSearchTest, RealRuntimeLoadsOnlyInTheSixtyFourBitBuild) {
    const std::string home = makeAbsoluteFull(executableDirectory() + "..\\java\\11", false);
    if (!fileExists(home + "\\bin\\server\\jvm.dll"))
        GTEST_SKIP() << "no real runtime at " << home << " (scripts/fetch_java.sh fetches it)";
    const std::string pathBefore = currentPath();
    const bool loaded = LoadDLL(false, home.c_str(), false);
    EXPECT_EQ(jvmSelection().version, "11.0.13");
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(loaded);
        EXPECT_NE(jvmSelection().createJavaVM, nullptr);
    } else {
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(hasLine(L"Failed with error code 193"));
        EXPECT_EQ(currentPath(), pathBefore);
    }
}

}  // namespace
