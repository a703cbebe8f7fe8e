#include "jvm/vm_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "launcher/config_store.h"
#include "launcher/expand_variables.h"
#include "launcher/path_ops.h"
#include "tests/unit/log_capture.h"

namespace {

using Strings = std::vector<std::string>;

wstring u16(const std::string& text) { return widenBytes(text); }

// An options file in memory that hands out at most `chunk` bytes per read, so
// that line ends and Ctrl-Z fall on every buffer boundary.
class MemoryFile : public OptionsFile {
public:
    MemoryFile(std::string content, std::size_t chunk) : content_(std::move(content)), chunk_(chunk) {}
    std::size_t read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, chunk_, content_.size() - at_});
        std::copy_n(content_.data() + at_, n, buffer);
        at_ += n;
        return n;
    }
    const void* handle() const override { return this; }

private:
    std::string content_;
    std::size_t chunk_;
    std::size_t at_ = 0;
};

// The system as the assembly sees it: options files, directories, environment.
struct FakeSystem {
    std::map<wstring, std::string> files;
    std::map<std::string, Strings> directories;  // directory -> file names in listing order
    std::set<std::string> existing;
    std::map<std::string, std::string> environment;
    std::vector<std::pair<std::int32_t, std::string>> fatals;
    int opens = 0;

    VmOptionServices services() {
        VmOptionServices s;
        s.toEightBit = [](const wstring& text) {
            std::string out;
            for (wchar c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
            return out;
        };
        // The executable directory differs between the 8-bit-safe and the
        // UTF-16 values, so tests can see which expansion a text went through.
        s.expandWide = [this](wstring& text, bool eightBitSafe) {
            ExpansionValues<wchar> v;
            v.executableDirectory = eightBitSafe ? u16("C:\\SETUP~1\\") : u16("C:\\Setup Long\\");
            v.extractionDirectory = u16("C:\\Temp\\x");
            for (const auto& e : environment) v.environment.emplace_back(u16(e.first), u16(e.second));
            expandVariables<wchar>(text, v);
        };
        s.expandNarrow = [this](std::string& text) {
            ExpansionValues<char> v;
            v.executableDirectory = "C:\\SETUP~1\\";
            for (const auto& e : environment) v.environment.emplace_back(e.first, e.second);
            expandVariables<char>(text, v);
        };
        s.openFile = [this](const wstring& path) -> std::unique_ptr<OptionsFile> {
            auto it = files.find(path);
            if (it == files.end()) return nullptr;
            ++opens;
            return std::make_unique<MemoryFile>(it->second, 7);
        };
        s.executableLongDirectory = u16("C:\\Setup Long\\");
        s.makeAbsolute = [](const std::string& path) { return resolveAgainst(std::string("C:\\SETUP~1\\"), path); };
        s.makeAbsoluteList = [](const std::string& list) {
            std::string out;
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t end = std::min(list.find(';', start), list.size());
                if (end > start)
                    out += (out.empty() ? "" : ";") +
                           resolveAgainst(std::string("C:\\SETUP~1\\"), list.substr(start, end - start));
                start = end + 1;
            }
            return out;
        };
        s.fileExists = [this](const std::string& path) { return existing.count(path) || directories.count(path); };
        s.environmentVariable = [this](const std::string& name, std::string& value) {
            auto it = environment.find(name);
            if (it == environment.end()) return false;
            value = it->second;
            return true;
        };
        s.listFiles = [this](const std::string& directory, const char* extension) {
            Strings out;
            for (const std::string& name : directories[directory])
                if (lowerAscii(name.substr(name.rfind('.') + 1)) == extension) out.push_back(name);
            return out;
        };
        s.fatalError = [this](std::int32_t id, const std::string& argument) { fatals.emplace_back(id, argument); };
        return s;
    }
};

class VmOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        configStore() = ConfigStore();
        log_capture::clear();
        services = system.services();
    }
    void TearDown() override { configStore() = ConfigStore(); }
    void config(std::int32_t id, const std::string& value) { configStore().values[id] = value; }
    Strings assemble(const ArgumentVector& words = {u16("setup.exe")}, const VmOptionInputs& inputs = {}) {
        return assembleVmOptions({}, words, inputs, services);
    }
    bool logged(const std::string& text) const {
        const wstring wanted = u16(text);
        for (const wstring& line : log_capture::lines())
            if (line.find(wanted) != wstring::npos) return true;
        return false;
    }
    FakeSystem system;
    VmOptionServices services;
};

TEST(OptionsFileLines, ReadsLinesAsTextModeDoesAtEveryBufferBoundary) {
    const std::string full(kOptionsLineBytes, 'x');
    struct Case {
        std::string content;
        Strings lines;
    } cases[] = {
        {"", {}},
        {"a\nb", {"a\n", "b"}},
        {"a\r\nb\r\n", {"a\n", "b\n"}},
        {"a\rb\n\r\r\n", {"a\rb\n", "\r\n"}},
        {"a\n\x1A"
         "b\n",
         {"a\n"}},  // Ctrl-Z ends the file
        {"-Da\x1A", {"-Da"}},
        {full + "\n", {full, "\n"}},
        {full.substr(1) + "\r\n", {full.substr(1) + "\n"}},
        {full + full + "yz", {full, full, "yz"}},
    };
    for (std::size_t chunk : {1u, 2u, 4096u, 100000u}) {
        for (const Case& c : cases) {
            MemoryFile file(c.content, chunk);
            OptionsFileLines lines(file);
            Strings got;
            std::string line;
            while (lines.next(line)) got.push_back(line);
            EXPECT_EQ(got, c.lines) << "chunk " << chunk << ", content of " << c.content.size() << " bytes";
        }
    }
}

TEST(OptionsFileLines, TrimsLineEndsThenBlanksAndSkipsComments) {
    struct Case {
        const char* in;
        bool adds;
        const char* out;
    } cases[] = {
        {"  -Xmx1g  \r\n", true, "-Xmx1g"},
        {"\t-Xss1m\n", true, "\t-Xss1m"},  // tabs are not blanks
        {"-Da\r \n", true, "-Da\r"},       // line ends go first, then blanks
        {"-Dx=#1", true, "-Dx=#1"},
        {"", false, ""},
        {"   \r\n", false, ""},
        {"#comment", false, "#comment"},
        {"   # indented comment\n", false, "# indented comment"},
    };
    for (const Case& c : cases) {
        std::string line = c.in;
        EXPECT_EQ(trimOptionsFileLine(line), c.adds) << c.in;
        if (c.adds) {
            EXPECT_EQ(line, c.out) << c.in;
        }
    }
}

TEST_F(VmOptionsTest, FileOfCommentsAndBlankLinesAddsNothing) {
    VmOptionList list(services);
    MemoryFile file("# options\n\n   \r\n\t\n  # -Xmx1g\n#-classpath/a x\n", 3);
    list.readOptionsFile(&file, nullptr);
    // The tab line is not blank: it is passed on as the option "\t".
    EXPECT_EQ(list.options, Strings{"\t"});
    EXPECT_FALSE(list.overrides.append);
    MemoryFile onlyComments("# a\n\n  \n# b", 3);
    VmOptionList empty(services);
    empty.readOptionsFile(&onlyComments, nullptr);
    EXPECT_TRUE(empty.options.empty());
}

TEST_F(VmOptionsTest, OptionLinesAndClassPathDirectives) {
    struct Case {
        const char* text;
        Strings options;
        const char* replacement;  // null: not set
        const char* prepend;
        const char* append;
    } cases[] = {
        {"-Xmx512m", {"-Xmx512m"}, nullptr, nullptr, nullptr},
        {"-classpath C:\\a.jar", {}, "C:\\a.jar", nullptr, nullptr},
        {"-classpath/p C:\\p.jar", {}, nullptr, "C:\\p.jar", nullptr},
        {"-classpath/a C:\\z.jar", {}, nullptr, nullptr, "C:\\z.jar"},
        {"-classpath", {"-classpath"}, nullptr, nullptr, nullptr},  // no blank: an ordinary option
        {"-CLASSPATH x", {"-CLASSPATH x"}, nullptr, nullptr, nullptr},
        {"-classpath/x y", {"-classpath/x y"}, nullptr, nullptr, nullptr},
        {"", {}, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        VmOptionList list(services);
        list.processOptionLine(u16(c.text));
        EXPECT_EQ(list.options, c.options) << c.text;
        auto same = [](const std::optional<std::string>& got, const char* want) {
            return want ? got == std::string(want) : !got;
        };
        EXPECT_TRUE(same(list.overrides.replacement, c.replacement)) << c.text;
        EXPECT_TRUE(same(list.overrides.prepend, c.prepend)) << c.text;
        EXPECT_TRUE(same(list.overrides.append, c.append)) << c.text;
    }
    VmOptionList list(services);
    list.processOptionLine(wstring(u16("-Dname=")) + wchar(0x0416));
    EXPECT_EQ(list.options, Strings{"-Dname=?"});
}

TEST_F(VmOptionsTest, SecondAppendDirectiveWins) {
    system.files[u16("C:\\Setup Long\\cp.txt")] = "-classpath/a C:\\first.jar\n-classpath/a C:\\second.jar\n";
    config(123, "-include-options cp.txt");
    config(121, "A0C:\\base.jar");
    const Strings options = assemble();
    EXPECT_EQ(options.back(), "-Djava.class.path=C:\\base.jar;C:\\second.jar");
}

TEST(ClassPathOption, JoinsItsPartsWithSeparators) {
    struct Case {
        std::optional<std::string> replacement, prepend, append;
        Strings archives;
        std::string configured;
        std::string option;
    } cases[] = {
        {{}, {}, {}, {}, "", "-Djava.class.path="},
        {{}, {}, {}, {}, "C:\\a.jar;", "-Djava.class.path=C:\\a.jar"},
        {{},
         {},
         {},
         {"C:\\t\\r.jar", "C:\\t\\user\\u.zip"},
         "C:\\a.jar;",
         "-Djava.class.path=C:\\t\\r.jar;C:\\t\\user\\u.zip;C:\\a.jar"},
        {std::string("R"),
         std::string("P"),
         std::string("Z"),
         {"x.jar"},
         "C:\\ignored.jar;",
         "-Djava.class.path=P;x.jar;R;Z"},
        {{}, {}, std::string("Z"), {}, "C:\\a.jar;", "-Djava.class.path=C:\\a.jar;Z"},
        {{}, {}, std::string("Z"), {}, "", "-Djava.class.path=Z"},  // no empty element before it
        {{}, std::string(""), {}, {}, "C:\\a.jar;", "-Djava.class.path=C:\\a.jar"},
        {std::string(""), {}, {}, {}, "C:\\a.jar;", "-Djava.class.path="},
        {{}, {}, std::string("Z;"), {}, "", "-Djava.class.path=Z"},
    };
    for (const Case& c : cases) {
        ClassPathOverrides o{c.replacement, c.prepend, c.append};
        EXPECT_EQ(classPathOption(o, c.archives, c.configured), c.option);
    }
}

TEST_F(VmOptionsTest, IncludesResolveAgainstTheIncludingFile) {
    system.files[u16("C:\\Setup Long\\sub\\a.txt")] = "-Da=1\n-include-options b.txt\n-Dafter=1\n";
    system.files[u16("C:\\Setup Long\\sub\\b.txt")] = "-Db=2\n-include-options C:\\abs\\c.txt\n";
    system.files[u16("C:\\abs\\c.txt")] = "-Dc=3\n-include-options missing.txt\n";
    config(123, "-Xmx1g -include-options sub\\a.txt -Dlast");
    const Strings options = assemble();
    EXPECT_EQ(Strings(options.begin(), options.begin() + 6),
              (Strings{"-Xmx1g", "-Da=1", "-Db=2", "-Dc=3", "-Dafter=1", "-Dlast"}));
    EXPECT_TRUE(logged("<C:\\Setup Long\\sub\\b.txt> (C:\\Setup Long\\sub\\a.txt)"));
    EXPECT_TRUE(logged("adding vmoptions from (") && logged("<C:\\Setup Long\\sub\\a.txt> ()"));
    // A file that cannot be opened is skipped; the log line shows a null handle.
    EXPECT_TRUE(logged("<C:\\abs\\missing.txt> (C:\\abs\\c.txt)"));

    // The include's own expansion uses the UTF-16 (long) executable directory;
    // lines and configured words are expanded with the 8-bit-safe values first.
    log_capture::clear();
    system.files[u16("C:\\Setup Long\\x.txt")] = "-Dx=${launcher:sys.launcherDirectory}\n";
    VmOptionList list(services);
    list.processOptionLine(u16("-include-options ${launcher:sys.launcherDirectory}x.txt"));
    EXPECT_EQ(list.options, Strings{"-Dx=C:\\SETUP~1\\"});
    EXPECT_TRUE(logged("after exp from ${launcher:sys.launcherDirectory}x.txt C:\\Setup Long\\x.txt"));
}

TEST_F(VmOptionsTest, IncludeCyclesStopAtTheDepthLimit) {
    system.files[u16("C:\\Setup Long\\loop.txt")] = "-Dloop\n-include-options loop.txt\n";
    VmOptionList list(services);
    list.processOptionLine(u16("-include-options loop.txt"));
    EXPECT_EQ(list.options, Strings(kOptionsIncludeDepth, "-Dloop"));
    EXPECT_TRUE(logged("ERROR: options file C:\\Setup Long\\loop.txt not read: includes nested more than 16"));

    // A file that includes itself twice would double its reads at every level.
    system.opens = 0;
    system.files[u16("C:\\Setup Long\\fan.txt")] = "-include-options fan.txt\n-include-options fan.txt\n";
    VmOptionList fan(services);
    fan.processOptionLine(u16("-include-options fan.txt"));
    EXPECT_EQ(system.opens, kOptionsFilesPerList);
    EXPECT_TRUE(logged("ERROR: options file C:\\Setup Long\\fan.txt not read: more than 256 options files"));
}

TEST_F(VmOptionsTest, IncludeOptionsAsLastConfiguredWordIsAnOrdinaryOption) {
    system.files[u16("C:\\Setup Long\\my opts.txt")] = "-Dquoted=1\n";
    config(123, "-Dfirst \"-include-options\" 'my opts.txt' -include-options");
    const Strings options = assemble();
    EXPECT_EQ(Strings(options.begin(), options.begin() + 3), (Strings{"-Dfirst", "-Dquoted=1", "-include-options"}));
}

TEST(MergeModuleOptions, JoinsANameWithTheOptionAfterIt) {
    struct Case {
        Strings in, out;
    } cases[] = {
        {{"--add-opens", "a/b=c"}, {"--add-opens=a/b=c"}},
        {{"-Dx", "--add-opens"}, {"-Dx", "--add-opens"}},
        {{"--add-modules", "m", "--add-reads", "x=y", "-Dz"}, {"--add-modules=m", "--add-reads=x=y", "-Dz"}},
        {{"--add-exports", "--add-opens", "a/b=c"}, {"--add-exports=--add-opens", "a/b=c"}},
        {{"--upgrade-module-path", "u", "--limit-modules", "l", "--patch-module", "p=q"},
         {"--upgrade-module-path=u", "--limit-modules=l", "--patch-module=p=q"}},
        {{"--module-path", "m", "--add-opens=a/b=c"}, {"--module-path", "m", "--add-opens=a/b=c"}},
    };
    for (Case& c : cases) {
        mergeModuleOptions(c.in);
        EXPECT_EQ(c.in, c.out);
    }
}

TEST(ModuleOptions, FormsForTheMainClass) {
    struct Case {
        std::string path;
        bool inModule;
        std::string mainClass;
        Strings out;
    } cases[] = {
        {"C:\\m;",
         true,
         "mod/pkg.Main",
         {"--module-path=C:\\m", "--add-opens=mod/pkg=com.tovrix.runtime", "--add-modules=mod,com.tovrix.runtime"}},
        {"C:\\m;",
         true,
         "mod/a.b.Main",
         {"--module-path=C:\\m", "--add-opens=mod/a.b=com.tovrix.runtime", "--add-modules=mod,com.tovrix.runtime"}},
        {"C:\\m", true, "mod/Main", {"--module-path=C:\\m", "--add-modules=mod,com.tovrix.runtime"}},
        {"C:\\m", true, "a.b.Main", {"--module-path=C:\\m", "--add-modules=a.b.Main,com.tovrix.runtime"}},
        {"C:\\m", true, "a.b/Main", {"--module-path=C:\\m", "--add-modules=a.b,com.tovrix.runtime"}},
        {"C:\\m;C:\\n;", false, "mod/pkg.Main", {"--module-path=C:\\m;C:\\n", "--add-modules=com.tovrix.runtime"}},
        {"", true, "mod/pkg.Main", {}},
        {";", true, "mod/pkg.Main", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(moduleOptions(c.path, c.inModule, c.mainClass, "com.tovrix.runtime"), c.out);
    EXPECT_EQ(runtimeModuleName(true), "com.tovrix.runtime");
    EXPECT_EQ(runtimeModuleName(false), "com.kelpa.runtime");
}

TEST_F(VmOptionsTest, NamedModuleSendsExtractedArchivesToTheModulePath) {
    config(2001, "i");
    config(122, "mod/pkg.Main");
    config(133, "1");
    system.directories["C:\\Temp\\x"] = {"tvxruntime.jar", "data.zip", "a.txt"};
    system.directories["C:\\Temp\\x\\user"] = {"u.jar"};
    VmOptionInputs inputs;
    inputs.extractionDirectory = "C:\\Temp\\x";
    const Strings options = assemble({u16("setup.exe")}, inputs);
    EXPECT_EQ(options, (Strings{"-Djava.class.path=C:\\Temp\\x\\user\\u.jar",
                                "--module-path=C:\\Temp\\x\\tvxruntime.jar;C:\\Temp\\x\\data.zip",
                                "--add-opens=mod/pkg=com.tovrix.runtime", "--add-modules=mod,com.tovrix.runtime"}));
    // Without a module path and entry 133 the same archives go to the class path.
    configStore().values.erase(133);
    EXPECT_EQ(assemble({u16("setup.exe")}, inputs),
              Strings{"-Djava.class.path=C:\\Temp\\x\\tvxruntime.jar;C:\\Temp\\x\\data.zip;C:\\Temp\\x\\user\\u.jar"});
}

TEST_F(VmOptionsTest, EmptyClassPathOptionIsStillPassed) {
    EXPECT_EQ(assemble(), Strings{"-Djava.class.path="});
    EXPECT_TRUE(logged("adding preconfigured classpath"));
    EXPECT_TRUE(logged("adding preconfigured modulepath"));
}

TEST_F(VmOptionsTest, LocaleSwitchAddsLanguageAndCountryUnlessTrue) {
    configStore().language = "de";
    configStore().country = "DE";
    const std::string t = "-Dsun.locale.formatasdefault=true", f = "-Dsun.locale.formatasdefault=false";
    struct Case {
        std::vector<std::string> words;
        Strings options;
    } cases[] = {
        {{"setup.exe"}, {}},
        {{"setup.exe", t}, {t}},
        {{"setup.exe", f}, {f, "-Duser.language=de", "-Duser.country=DE"}},
        {{"setup.exe", t, f}, {f, "-Duser.language=de", "-Duser.country=DE"}},  // the last one counts
        {{"setup.exe", f, t}, {t}},
        {{"setup.exe", "-Dsun.locale.formatasdefault=TRUE"},
         {"-Dsun.locale.formatasdefault=TRUE", "-Duser.language=de", "-Duser.country=DE"}},
    };
    for (const Case& c : cases) {
        ArgumentVector words;
        for (const std::string& w : c.words) words.push_back(u16(w));
        Strings options = assemble(words);
        options.pop_back();  // the class path
        EXPECT_EQ(options, c.options) << c.words.back();
    }
    configStore().country.clear();
    EXPECT_EQ(assemble({u16("setup.exe"), u16(f)}).size(), 3u);  // no country, no user.country
}

TEST_F(VmOptionsTest, VersionSpecificRowsFirstMatchOnly) {
    config(10200, "3");
    config(10201, "1.8"), config(10202, "-Dold -Dold2");
    config(10203, "11"), config(10204, "-Deleven");
    config(10205, "1"), config(10206, "-Done");
    struct Case {
        const char* version;
        Strings options;
    } cases[] = {
        {"1.8.0_201", {"-Dold", "-Dold2"}}, {"11.0.2", {"-Deleven"}}, {"1.7.0", {"-Done"}}, {"9.0.4", {}}, {"", {}},
    };
    for (const Case& c : cases) {
        log_capture::clear();
        VmOptionInputs inputs;
        inputs.jvmVersion = c.version;
        Strings options = assemble({u16("setup.exe")}, inputs);
        options.pop_back();
        EXPECT_EQ(options, c.options) << c.version;
        EXPECT_EQ(logged("check 3 version specific vm option lines for "), *c.version != '\0') << c.version;
    }
    EXPECT_EQ(findVersionSpecificRow("1.8.0"), 0);
    EXPECT_TRUE(log_capture::contains(u16("checking version 1.8 0")));
    EXPECT_EQ(findVersionSpecificRow("1.7"), 2);
    EXPECT_TRUE(log_capture::contains(u16("checking version 11 1")));
}

TEST(PathEntries, EnvironmentValueQuotes) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\a b;C:\\c\"", "C:\\a b;C:\\c"},
        {"\"C:\\open", "\"C:\\open"},
        {"C:\\x\"", "C:\\x\""},
        {"\"\"", ""},
        {"\"", "\""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(unquoteEnvironmentValue(c.first), c.second) << c.first;
}

TEST_F(VmOptionsTest, ResolvesEveryEntryKind) {
    system.existing = {"C:\\SETUP~1\\app.jar", "C:\\classes"};
    system.directories["C:\\SETUP~1\\lib"] = {"b.zip", "a.jar", "sub.txt", "c.JAR", "d.zip"};
    system.environment = {{"LIBS", "\"C:\\l 1;C:\\l2\""}, {"OPEN", "\"C:\\o"}, {"ENDS", "C:\\e;"}, {"DIR", "lib"}};
    config(121, "A1app.jar;D1C:\\classes;A0C:\\missing.jar;E1LIBS;E0OPEN;E0ENDS;E0UNSET;S1${DIR};X1whatever");
    std::string out;
    ASSERT_TRUE(resolvePathEntries(121, PathListKind::ClassPath, out, services));
    EXPECT_EQ(out,
              "C:\\SETUP~1\\app.jar;C:\\classes;C:\\missing.jar;C:\\l 1;C:\\l2;\"C:\\o;C:\\e;"
              "C:\\SETUP~1\\lib\\a.jar;C:\\SETUP~1\\lib\\c.JAR;C:\\SETUP~1\\lib\\b.zip;C:\\SETUP~1\\lib\\d.zip;");
    EXPECT_TRUE(log_capture::contains(u16("entries 9")));
    EXPECT_TRUE(system.fatals.empty());

    // In the module path a scanned directory stands for itself.
    config(132, "S1lib\\");
    out.clear();
    ASSERT_TRUE(resolvePathEntries(132, PathListKind::ModulePath, out, services));
    EXPECT_EQ(out, "C:\\SETUP~1\\lib\\;");
}

TEST_F(VmOptionsTest, MissingMandatoryEntriesAreFatal) {
    system.environment = {{"HOME_DIR", "C:\\home"}};
    struct Case {
        const char* list;
        std::int32_t id;
        const char* argument;
    } cases[] = {
        {"A1${HOME_DIR}\\app.jar", 1006, "C:\\home\\app.jar"},
        {"D1classes", 1006, "classes"},
        {"S1C:\\nolib", 1006, "C:\\nolib"},
        {"A1", 1006, ""},
        {"E1NOT_SET", 1008, "NOT_SET"},
    };
    for (const Case& c : cases) {
        system.fatals.clear();
        config(121, std::string("A0first.jar;") + c.list + ";A0after.jar");
        std::string out;
        EXPECT_FALSE(resolvePathEntries(121, PathListKind::ClassPath, out, services)) << c.list;
        EXPECT_EQ(system.fatals, (std::vector<std::pair<std::int32_t, std::string>>{{c.id, c.argument}})) << c.list;
        EXPECT_EQ(out.find("after.jar"), std::string::npos) << c.list;
    }
    // The assembly stops at the failure.
    system.fatals.clear();
    config(121, "E1NOT_SET");
    EXPECT_TRUE(assemble().empty());
    EXPECT_EQ(system.fatals.size(), 1u);
}

TEST_F(VmOptionsTest, AssemblesEverySourceInOrder) {
    config(123, "-Xmx1g -include-options opts.txt");
    config(125, "1");
    config(166, "1");
    config(10200, "1"), config(10201, "17"), config(10202, "--add-opens java.base/java.lang=ALL-UNNAMED");
    config(121, "A0lib\\app.jar");
    config(132, "D0mods");
    configStore().language = "fr";
    system.files[u16("C:\\Setup Long\\opts.txt")] = "-Dfrom.include=1\n";
    system.files[u16("C:\\Setup Long\\setup.exe.vmoptions")] = "-classpath/p C:\\pre.jar\n-Dfrom.default=1\n";
    VmOptionInputs inputs;
    inputs.jvmVersion = "17.0.2";
    inputs.defaultOptionsFiles = {u16("C:\\Setup Long\\setup.vmoptions"), u16("C:\\Setup Long\\setup.exe.vmoptions")};
    const ArgumentVector words = {u16("-Jsetup.exe"), u16("-J-Dj=1"), u16("-Dsun.locale.formatasdefault=no"), u16("-J"),
                                  u16("-q")};
    const Strings options = assembleVmOptions({"-Dkelpa.tempDir=C:\\Temp\\x"}, words, inputs, services);
    EXPECT_EQ(options, (Strings{"-Dkelpa.tempDir=C:\\Temp\\x", "-Xmx1g", "-Dfrom.include=1",
                                "--add-opens=java.base/java.lang=ALL-UNNAMED", "setup.exe", "-Dj=1",
                                "-Dsun.locale.formatasdefault=no", "-Duser.language=fr", "-Dfrom.default=1",
                                "-Djava.class.path=C:\\pre.jar;C:\\SETUP~1\\lib\\app.jar",
                                "--module-path=C:\\SETUP~1\\mods", "--add-modules=com.kelpa.runtime"}));
    EXPECT_TRUE(logged("adding options"));
    EXPECT_TRUE(logged("adding specific --add-opens java.base/java.lang=ALL-UNNAMED"));
    EXPECT_TRUE(logged("default vmoptions file: "));
    // Without entry 125 the "-J" words stay on the command line.
    configStore().values.erase(125);
    const Strings without = assembleVmOptions({}, words, inputs, services);
    EXPECT_EQ(std::count(without.begin(), without.end(), "-Dj=1"), 0);
}

TEST(DefaultOptionsFile, NameCandidates) {
    EXPECT_EQ(defaultOptionsFileNames(u16("C:\\Long Dir\\setup.exe"), u16("C:\\LONGDI~1\\setup.exe")),
              (std::vector<wstring>{u16("C:\\Long Dir\\setup.vmoptions"), u16("C:\\Long Dir\\setup.exe.vmoptions"),
                                    u16("C:\\LONGDI~1\\setup.vmoptions"), u16("C:\\LONGDI~1\\setup.exe.vmoptions")}));
    EXPECT_EQ(defaultOptionsFileNames(u16("C:\\a.exe"), u16("C:\\a.exe")),
              (std::vector<wstring>{u16("C:\\a.vmoptions"), u16("C:\\a.exe.vmoptions")}));
    EXPECT_EQ(defaultOptionsFileNames(u16("abc"), wstring()), std::vector<wstring>{u16("abc.vmoptions")});
}

TEST(LauncherProperties, OptionsInTheirOrder) {
    LauncherProperties p;
    p.executablePath = "C:\\SETUP~1\\setup.exe";
    p.extractionDirectory = "C:\\Temp\\x";
    p.unextractedPosition = 5000000000LL;
    p.path = "C:\\Windows";
    EXPECT_EQ(launcherPropertyOptions(p),
              (Strings{"-Dkelpa.moduleName=C:\\SETUP~1\\setup.exe", "-Dsun.java.command=C:\\SETUP~1\\setup.exe",
                       "-Dkelpa.tempDir=C:\\Temp\\x", "-Dkelpa.unextractedPosition=5000000000",
                       "-Djava.library.path=C:\\Windows"}));
    p.semaphoreName = "tvx_sem";
    p.manualJre = true;
    p.installerProgram = true;
    p.unextractedPosition = -1;
    p.consoleCodePage = 850u;
    const Strings all = launcherPropertyOptions(p);
    EXPECT_EQ(Strings(all.begin(), all.begin() + 3),
              (Strings{"-Dkelpa.semaphoreName=tvx_sem", "-Dkelpa.manualJre=true", "-Dkelpa.isTovrix=true"}));
    EXPECT_EQ(all[6], "-Dkelpa.unextractedPosition=-1");
    EXPECT_EQ(all.back(), "-Dkelpa.consoleCodepage=cp850");
}

TEST(LauncherProperties, LibraryPathIsCutAfterAWholeEntry) {
    const std::string prefix = "-Djava.library.path=";
    std::string path;
    while (path.size() < 20000) path += "C:\\some\\directory;";
    const std::string option = libraryPathOption(path);
    EXPECT_LE(option.size(), kLibraryPathOptionBytes);
    EXPECT_GT(option.size(), kLibraryPathOptionBytes - 20);
    EXPECT_EQ(option.substr(option.size() - 10), "\\directory");
    EXPECT_EQ(option.compare(0, prefix.size(), prefix), 0);
    const std::string exact(kLibraryPathOptionBytes - prefix.size(), 'p');
    EXPECT_EQ(libraryPathOption(exact), prefix + exact);
    EXPECT_EQ(libraryPathOption(exact + "q"), prefix);  // one entry too long: nothing of it
}

}  // namespace
