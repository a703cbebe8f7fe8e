// Fault injection into the unpacking of a carried Java runtime under Wine: a
// real "jre.tar.gz" (made here with zlib) in an extraction directory of the
// test, unpacked into "jre" while each file call of a passing run fails in
// turn with every kind that applies, once and from then on.  Each case checks
// the message, the exit code, the open handles, and that after a fatal end
// the extraction directory ("jre" with it) is gone, after a recovered one
// that "jre" holds the whole runtime.
#include <gtest/gtest.h>
#include <zlib.h>

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "frontend/carried_jre.h"
#include "launcher/config_store.h"
#include "launcher/launcher_state.h"
#include "tests/unit/fault_injection.h"

namespace {

using namespace faults;

const wchar_t kRuntimeCorrupted[] =
    L"The bundled JRE is corrupted. If you downloaded the setup file please download it again.";

struct TarEntry {
    std::string name;
    char type;  // '0' file, '5' directory
    std::string content;
};
// A file of three 32 KiB chunks, one of a single chunk in another
// directory, and one at the top.
const std::vector<TarEntry> kEntries = {
    {"bin/", '5', ""},
    {"bin/java.exe", '0', pattern(70000, 1)},
    {"lib/", '5', ""},
    {"lib/rt.jar", '0', pattern(1000, 2)},
    {"release", '0', "JAVA_VERSION=\"11\"\n"},
};

std::string tarBytes() {
    std::string tar;
    for (const TarEntry& entry : kEntries) {
        std::string header(512, '\0');
        std::memcpy(&header[0], entry.name.data(), entry.name.size());
        std::snprintf(&header[124], 12, "%011o", static_cast<unsigned>(entry.content.size()));
        header[156] = entry.type;
        std::memcpy(&header[257], "ustar", 5);
        tar += header + entry.content + std::string((512 - entry.content.size() % 512) % 512, '\0');
    }
    return tar + std::string(1024, '\0');
}

std::map<std::wstring, std::string> expectedRuntime() {
    std::map<std::wstring, std::string> files;
    for (const TarEntry& entry : kEntries) {
        if (entry.type != '0') continue;
        std::wstring name = widen(entry.name);
        for (wchar_t& c : name)
            if (c == L'/') c = L'\\';
        files[name] = entry.content;
    }
    return files;
}

Expected fileNotCreated(const std::wstring& name) {
    return fatal(kErrorCaption, L"Could not open file " + name + L"\n");
}

class UntarFaults : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tar = tarBytes();
        archive_ = scratch_.path() + L"\\jre.tar.gz";
        gzFile out = gzopen(narrow(archive_).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(gzwrite(out, tar.data(), static_cast<unsigned>(tar.size())), static_cast<int>(tar.size()));
        ASSERT_EQ(gzclose(out), Z_OK);
        tarSize_ = tar.size();
    }

    std::wstring directory() const { return scratch_.path() + L"\\extracted"; }
    std::wstring runtime() const { return directory() + L"\\jre"; }

    // One unpacking in a fresh extraction directory that holds the archive,
    // the way the main flow calls it: that directory is current.
    Record unpack(const std::optional<Fault>& fault) {
        removeTree(directory());
        CreateDirectoryW(directory().c_str(), nullptr);
        CopyFileW(archive_.c_str(), (directory() + L"\\jre.tar.gz").c_str(), FALSE);
        const SavedLauncher saved;
        configStore().values[config::kCarriedJreSize] = std::to_string(tarSize_);
        configStore().values[config::kCarriedJrePacked] = "0";
        configStore().messages[message::kErrorCaption] = kErrorCaption;
        launcherState().extractionDirectory = narrow(directory());
        SetCurrentDirectoryW(directory().c_str());
        return injector_.run([] { unpackCarriedJre(nullptr); }, fault);
    }

    // What the user must see when `fault` first hits the call `hit`.
    Expected expectedOf(const Fault& fault, const CallRecord& hit) const {
        const std::string& function = fault.function;
        // Directories fail quietly; the first file inside then cannot be made.
        if (function == "CreateDirectoryA")
            return fileNotCreated(hit.subject.find(L"\\jre\\lib") != std::wstring::npos ? L"lib\\rt.jar"
                                                                                        : L"bin\\java.exe");
        if (function == "CreateFileA") return fileNotCreated(hit.subject.substr(hit.subject.find(L"\\jre\\") + 5));
        // A file not written whole, or whose close failed, is a broken runtime.
        if (function == "WriteFile" || function == "CloseHandle") return fatal(kErrorCaption, kRuntimeCorrupted);
        // The archive that stays costs room only.
        if (function == "DeleteFileA") return success();
        ADD_FAILURE() << "no expectation for " << describe(fault);
        return success();
    }

    ScratchDirectory scratch_;
    Injector injector_;
    std::wstring archive_;
    std::size_t tarSize_ = 0;
};

TEST_F(UntarFaults, EachFileCallFailsInTurn) {
    const Record passing = unpack(std::nullopt);
    ASSERT_FALSE(passing.ended);
    ASSERT_TRUE(passing.shown.empty());
    ASSERT_EQ(filesBelow(runtime()), expectedRuntime());
    ASSERT_FALSE(exists(directory() + L"\\jre.tar.gz"));
    ASSERT_TRUE(passing.leaks.empty());
    // "jre", its two directories, three files in four chunks, the archive
    // deleted at the end.
    EXPECT_EQ(passing.count("CreateDirectoryA"), 3);
    EXPECT_EQ(passing.count("CreateFileA"), 3);
    EXPECT_EQ(passing.count("WriteFile"), 5);
    EXPECT_EQ(passing.count("CloseHandle"), 3);
    EXPECT_EQ(passing.count("DeleteFileA"), 1);

    int cases = 0, ends = 0;
    for (const Fault& fault : casesOf(passing)) {
        SCOPED_TRACE(describe(fault));
        const Record run = unpack(fault);
        ASSERT_FALSE(run.faulted.empty()) << "the fault hit no call";
        const Expected expected = expectedOf(fault, run.faulted.front());
        expectOutcome(run, expected);
        if (expected.ends) {
            EXPECT_FALSE(exists(directory())) << "the extraction directory stays";
        } else {
            EXPECT_EQ(filesBelow(runtime()), expectedRuntime());
            // Only a failed deletion leaves the archive.
            EXPECT_EQ(exists(directory() + L"\\jre.tar.gz"), fault.function == "DeleteFileA");
        }
        ++cases;
        ends += expected.ends ? 1 : 0;
    }
    std::printf("untar: %zu calls, %d cases, %d fatal ends\n", passing.calls.size(), cases, ends);
}

}  // namespace
