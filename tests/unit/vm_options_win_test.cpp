// The Windows layer of the VM option assembly against real files, directories
// and the process environment (run under Wine).  Missing mandatory entries end
// the process through the fatal error path; the portable tests cover them with
// an injected reporter.
#include "jvm/vm_options.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/config_store.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"
#include "tests/unit/log_capture.h"

namespace {

using Strings = std::vector<std::string>;

void writeFile(const wstring& path, const std::string& content) {
    UniqueFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(out.valid()) << "cannot write the test file";
    DWORD written = 0;
    WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

// A fresh directory under the temporary path, removed with its contents.
class ScratchDirectory {
public:
    ScratchDirectory() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        path_ = wstring(base) + L"vmopt" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++count_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchDirectory() { removeTree(path_); }
    wstring wide(const wstring& relative = L"") const { return relative.empty() ? path_ : path_ + L"\\" + relative; }
    std::string narrow(const wstring& relative = L"") const {
        bool lost = false;
        return toFileCodePage(wide(relative), lost);
    }
    void directory(const wstring& relative) const { CreateDirectoryW(wide(relative).c_str(), nullptr); }
    void file(const wstring& relative, const std::string& content = "") const { writeFile(wide(relative), content); }

private:
    static void removeTree(const wstring& directory) {
        WIN32_FIND_DATAW data;
        UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &data));
        if (find) {
            do {
                const wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const wstring full = directory + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(full);
                else
                    DeleteFileW(full.c_str());
            } while (FindNextFileW(find.get(), &data));
        }
        find.reset();
        RemoveDirectoryW(directory.c_str());
    }
    static inline int count_ = 0;
    wstring path_;
};

class VmOptionsWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        configStore() = ConfigStore();
        launcherState().extractionDirectory.clear();
        log_capture::clear();
    }
    void TearDown() override {
        configStore() = ConfigStore();
        launcherState().extractionDirectory.clear();
    }
    static Strings build(const ArgumentVector& words = {L"setup.exe"}) { return buildVmOptions({}, words).options(); }
    ScratchDirectory scratch;
};

TEST_F(VmOptionsWinTest, ReadsNestedIncludesFromFiles) {
    scratch.directory(L"sub");
    scratch.file(L"main.txt", "-Dmain=1\r\n-include-options sub\\inner.txt\r\n-Dmain.after=1\r\n");
    scratch.file(L"sub\\inner.txt",
                 "  -Dinner=2  \n# comment\n\n-include-options ..\\last.txt\n-classpath/a C:\\z.jar");
    scratch.file(L"last.txt", "-Dlast=3\x1A-Dnever");
    configStore().values[123] = "-include-options " + scratch.narrow(L"main.txt") + " -include-options absent.txt";
    EXPECT_EQ(build(), (Strings{"-Dmain=1", "-Dinner=2", "-Dlast=3", "-Dmain.after=1", "-Djava.class.path=C:\\z.jar"}));
    // The file that could not be opened shows a null handle in the log.
    const wstring absent = L"<" + executableLongDirectory() + L"absent.txt> ()";
    EXPECT_TRUE(std::any_of(log_capture::lines().begin(), log_capture::lines().end(), [&](const wstring& line) {
        return line.find(L"adding vmoptions from (") == 0 && line.find(absent) != wstring::npos;
    }));
}

TEST_F(VmOptionsWinTest, LongLinesAreReadAsSeveralLines) {
    const std::string option = "-D" + std::string(kOptionsLineBytes + 10, 'x');
    scratch.file(L"long.txt", option + "\r\n-Dnext=1\r\n");
    configStore().values[123] = "-include-options " + scratch.narrow(L"long.txt");
    EXPECT_EQ(build(),
              (Strings{option.substr(0, kOptionsLineBytes), std::string(12, 'x'), "-Dnext=1", "-Djava.class.path="}));
}

TEST_F(VmOptionsWinTest, DefaultOptionsFileBesideTheExecutable) {
    const wstring& exe = getExecutableLongPath();
    const wstring replaced = exe.substr(0, exe.size() - 4) + L".vmoptions";
    const wstring appended = exe + L".vmoptions";
    configStore().values[166] = "1";
    writeFile(appended, "-Dappended=1\n");
    EXPECT_EQ(build(), (Strings{"-Dappended=1", "-Djava.class.path="}));
    writeFile(replaced, "-Dreplaced=1\n");
    EXPECT_EQ(build(), (Strings{"-Dreplaced=1", "-Djava.class.path="}));
    configStore().values[166] = "0";
    EXPECT_EQ(build(), Strings{"-Djava.class.path="});
    DeleteFileW(replaced.c_str());
    DeleteFileW(appended.c_str());
}

TEST_F(VmOptionsWinTest, ArchivesOfTheExtractionDirectoryAndScannedDirectories) {
    scratch.directory(L"extract");
    scratch.directory(L"extract\\user");
    scratch.directory(L"extract\\folder.jar");
    scratch.file(L"extract\\b.jar");
    scratch.file(L"extract\\a.ZIP");
    scratch.file(L"extract\\c.jarx");
    scratch.file(L"extract\\notes.txt");
    scratch.file(L"extract\\user\\u.jar");
    scratch.directory(L"lib");
    scratch.file(L"lib\\y.zip");
    scratch.file(L"lib\\x.jar");
    launcherState().extractionDirectory = scratch.narrow(L"extract");
    SetEnvironmentVariableW(L"VMOPT_TEST_LIBS", L"\"C:\\a b;C:\\c\"");
    configStore().values[121] = "S1" + scratch.narrow(L"lib") + ";E1VMOPT_TEST_LIBS;E0VMOPT_TEST_UNSET";
    const std::string ex = scratch.narrow(L"extract") + "\\", lib = scratch.narrow(L"lib") + "\\";
    EXPECT_EQ(build(), Strings{"-Djava.class.path=" + ex + "b.jar;" + ex + "a.ZIP;" + ex + "user\\u.jar;" + lib +
                               "x.jar;" + lib + "y.zip;C:\\a b;C:\\c"});

    // A module path takes the extracted archives; the user directory stays.
    configStore().values[132] = "D0" + scratch.narrow(L"lib");
    EXPECT_EQ(build(),
              (Strings{"-Djava.class.path=" + ex + "user\\u.jar;" + lib + "x.jar;" + lib + "y.zip;C:\\a b;C:\\c",
                       "--module-path=" + scratch.narrow(L"lib") + ";" + ex + "b.jar;" + ex + "a.ZIP",
                       "--add-modules=com.kelpa.runtime"}));
    SetEnvironmentVariableW(L"VMOPT_TEST_LIBS", nullptr);
}

TEST_F(VmOptionsWinTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    if (GetACP() != 1252) GTEST_SKIP() << "expects the ANSI code page 1252 that Wine uses here";
    configStore().values[125] = "1";
    EXPECT_EQ(build({L"setup.exe", L"-J-Dname=\x0416\x00E9", L"-Dsun.locale.formatasdefault=\x0416"}),
              (Strings{"-Dname=?\xE9", "-Dsun.locale.formatasdefault=?", "-Djava.class.path="}));
}

TEST_F(VmOptionsWinTest, InitArgumentsPointIntoTheOwnedStrings) {
    VmOptions first(Strings{"-Xmx1g", "-Dx=1", std::string(300, 'l')});
    VmOptions moved(std::move(first));
    const JavaVMInitArgs* args = moved.initArgs();
    EXPECT_EQ(args->version, JNI_VERSION_1_2);
    EXPECT_EQ(args->version, 0x00010002);
    EXPECT_EQ(args->ignoreUnrecognized, JNI_TRUE);
    ASSERT_EQ(args->nOptions, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(args->options[i].optionString, moved.options()[i].c_str());
        EXPECT_EQ(args->options[i].extraInfo, nullptr);
    }
    EXPECT_STREQ(args->options[0].optionString, "-Xmx1g");
    EXPECT_EQ(first.initArgs()->nOptions, 0);

    log_capture::clear();
    configStore().values[123] = "-Xss2m";
    VmOptions built = buildVmOptions({"-Dkelpa.tempDir="}, {L"setup.exe"});
    EXPECT_EQ(built.initArgs()->nOptions, 3);
    EXPECT_TRUE(log_capture::contains(L"vmoption count 3"));
    EXPECT_TRUE(log_capture::contains(L"vmoption 0: -Dkelpa.tempDir="));
    EXPECT_TRUE(log_capture::contains(L"vmoption 2: -Djava.class.path="));
}

TEST_F(VmOptionsWinTest, LauncherPropertyOptions) {
    launcherState().extractionDirectory = "C:\\Temp\\klp1.tmp_dir1";
    SetEnvironmentVariableW(L"MANPATH", nullptr);
    const Strings options = buildLauncherPropertyOptions("tvx_semaphore");
    const std::string exe = getExecutablePath();
    ASSERT_GE(options.size(), 6u);
    EXPECT_EQ(options[0], "-Dkelpa.semaphoreName=tvx_semaphore");
    EXPECT_EQ(options[1], "-Dkelpa.moduleName=" + exe);
    EXPECT_EQ(options[2], "-Dsun.java.command=" + exe);
    EXPECT_EQ(options[3], "-Dkelpa.tempDir=C:\\Temp\\klp1.tmp_dir1");
    EXPECT_EQ(options[4], "-Dkelpa.unextractedPosition=" + std::to_string(unextractedPosition()));
    EXPECT_EQ(options[5].compare(0, 20, "-Djava.library.path="), 0);
    EXPECT_LE(options[5].size(), kLibraryPathOptionBytes);
    EXPECT_EQ(options.back(), "-Dkelpa.consoleCodepage=cp" + std::to_string(GetConsoleOutputCP()));

    configStore().values[2001] = "i";
    launcherState().manualJre = true;
    launcherState().languageRestart = true;
    SetEnvironmentVariableW(L"MANPATH", L"");
    const Strings restart = buildLauncherPropertyOptions();
    launcherState().manualJre = false;
    launcherState().languageRestart = false;
    SetEnvironmentVariableW(L"MANPATH", nullptr);
    EXPECT_EQ(Strings(restart.begin(), restart.begin() + 2),
              (Strings{"-Dkelpa.manualJre=true", "-Dkelpa.isTovrix=true"}));
    EXPECT_EQ(restart[5], "-Dkelpa.unextractedPosition=-1");
    EXPECT_EQ(restart.back().compare(0, 20, "-Djava.library.path="), 0);  // no console code page
}

}  // namespace
