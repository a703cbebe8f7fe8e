// Fault injection into the payload extraction under Wine: the extraction
// directory is made in a temporary base of the test's own, the payload is read
// from a file the test wrote (the launcher's own file redirected to it), and
// each file call of a passing run fails in turn with every kind that applies,
// once and from then on.  Each case checks the message the user sees, the
// exit code, that no handle stays open, and that the extraction directory is
// gone after a fatal end or complete after a recovered one.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "launcher/block_format.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/temp_dir.h"
#include "tests/unit/fault_injection.h"

namespace {

using namespace faults;

struct PayloadFile {
    std::string name;
    std::string content;
};
// Three chunks of 6,000 bytes and less, one file in a subdirectory, and an
// empty file that is listed but never created.
const std::vector<PayloadFile> kPayload = {
    {"tvxruntime.jar", pattern(13000, 1)},
    {"tvxparams.conf", "-Dsome.option=1\n"},
    {"images\\logo.png", pattern(100, 2)},
    {"empty.txt", ""},
};
constexpr std::int64_t kPayloadOffset = 16;

const wchar_t kInstallerCaption[] = L"tovrix Wizard";
const wchar_t kInstallerCorrupted[] = L"The installation file is corrupted. If it is a download please try it again.";
const wchar_t kDiskSpace[] = L"Not Enough Disk Space";

std::string payloadBytes() {
    std::string bytes(kPayloadOffset, 'c');
    for (const PayloadFile& file : kPayload) {
        const std::uint64_t size = file.content.size();
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(size >> (8 * i)));
        for (char c : file.content) bytes.push_back(static_cast<char>(c ^ block::kPayloadKey));
    }
    return bytes + "data of the Java side";
}

std::map<std::wstring, std::string> expectedFiles() {
    std::map<std::wstring, std::string> files;
    for (const PayloadFile& file : kPayload)
        if (!file.content.empty()) files[widen(file.name)] = file.content;
    return files;
}

bool endsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

Expected internalError(const wchar_t* code) {
    return fatal(kErrorCaption, std::wstring(L"An internal error occurred (error code: ") + code + L")");
}

// What the user must see when `fault` first hits the call `hit`.
Expected extractionOutcome(const Fault& fault, const CallRecord& hit) {
    const std::string& function = fault.function;
    // Without a unique name the launcher makes one up; nothing is lost.
    if (function == "GetTempFileNameA") return success();
    if (function == "CreateFileW") return fatal(kErrorCaption, L"Error opening media file.");
    if (function == "CreateDirectoryA") {
        // The subdirectory: the file inside it cannot be created then.
        if (endsWith(hit.subject, L"\\images")) return internalError(L"11");
        // The extraction directory itself: ten attempts with new names.
        return fault.mode == Mode::once ? success() : internalError(L"7");
    }
    if (function == "CreateFileA") return internalError(L"11");
    // A payload file's size is read as 8 bytes, its content in chunks.
    if (function == "ReadFile")
        return hit.subject == L"8 bytes" ? fatal(kErrorCaption, L"Internal Error: readLong")
                                         : fatal(kInstallerCaption, kInstallerCorrupted);
    // A short write is repeated until the chunk is written.
    if (function == "WriteFile")
        return fault.kind == Kind::shortWrite ? success() : fatal(kInstallerCaption, kDiskSpace);
    // A payload file whose close fails is not trusted; the installer's own
    // file was only read.
    if (function == "CloseHandle")
        return hit.subject == getExecutableLongPath() ? success() : fatal(kInstallerCaption, kDiskSpace);
    ADD_FAILURE() << "no expectation for " << describe(fault);
    return success();
}

class ExtractionFaults : public ::testing::Test {
protected:
    void SetUp() override {
        writeBytes(installer(), payloadBytes());
        injector_.redirect(getExecutableLongPath(), installer());
    }
    void TearDown() override { setManualTempBase(L"", ""); }

    std::wstring installer() const { return scratch_.path() + L"\\installer.bin"; }
    std::wstring base() const { return scratch_.path() + L"\\base"; }

    // One start's extraction in a fresh temporary base; the graphical
    // message boxes (not a quiet run).  With `fatalAfter`, a fatal end
    // follows the extraction (as when the JVM cannot be started).
    Record extract(const std::optional<Fault>& fault, bool fatalAfter = false) {
        removeTree(base());
        CreateDirectoryW(base().c_str(), nullptr);
        const SavedLauncher saved;
        setManualTempBase(base(), narrow(base()));
        ConfigStore& config = configStore();
        config.values[config::kPayloadCount] = std::to_string(kPayload.size());
        config.values[config::kPayloadNames] = "tvxruntime.jar;tvxparams.conf;images\\logo.png;empty.txt;";
        config.payloadOffset = kPayloadOffset;
        config.messages[message::kErrorCaption] = kErrorCaption;
        config.messages[message::kInternalError] = L"An internal error occurred (error code: {0})";
        config.messages[message::kInstallerCaption] = kInstallerCaption;
        config.messages[message::kInstallerCorrupted] = kInstallerCorrupted;
        config.messages[message::kNotEnoughDiskSpace] = kDiskSpace;
        launcherState().extractionDirectory.clear();
        Record run = injector_.run(
            [fatalAfter] {
                createTempDirectory();
                extractPayloadOrEnd(nullptr);
                if (fatalAfter) exitWithCleanup(1);
            },
            fault);
        directory_ = widen(launcherState().extractionDirectory);
        return run;
    }

    // After a fatal end nothing of an extraction directory is left in the
    // base (the empty "klp" files of the unique names stay by design).
    void expectNoDirectoryLeft() {
        if (!directory_.empty()) {
            EXPECT_FALSE(exists(directory_)) << narrow(directory_);
        }
        for (const std::wstring& name : entriesOf(base())) {
            EXPECT_FALSE(GetFileAttributesW((base() + L"\\" + name).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                << narrow(name);
        }
    }

    ScratchDirectory scratch_;
    Injector injector_;
    std::wstring directory_;
};

TEST_F(ExtractionFaults, EachFileCallFailsInTurn) {
    const Record passing = extract(std::nullopt);
    ASSERT_FALSE(passing.ended);
    ASSERT_TRUE(passing.shown.empty());
    ASSERT_EQ(filesBelow(directory_), expectedFiles());
    ASSERT_TRUE(passing.leaks.empty());
    // The calls of one extraction: a unique name and the directory, the
    // installer opened and read (a size before each file, then its chunks),
    // the subdirectory, three files written and closed, the installer closed.
    EXPECT_EQ(passing.count("GetTempFileNameA"), 1);
    EXPECT_EQ(passing.count("CreateDirectoryA"), 2);
    EXPECT_EQ(passing.count("CreateFileW"), 1);
    EXPECT_EQ(passing.count("ReadFile"), 9);
    EXPECT_EQ(passing.count("CreateFileA"), 3);
    EXPECT_EQ(passing.count("WriteFile"), 5);
    EXPECT_EQ(passing.count("CloseHandle"), 4);

    int cases = 0, ends = 0;
    for (const Fault& fault : casesOf(passing)) {
        SCOPED_TRACE(describe(fault));
        const Record run = extract(fault);
        ASSERT_FALSE(run.faulted.empty()) << "the fault hit no call";
        const Expected expected = extractionOutcome(fault, run.faulted.front());
        expectOutcome(run, expected);
        if (expected.ends) {
            expectNoDirectoryLeft();
        } else {
            EXPECT_EQ(filesBelow(directory_), expectedFiles());
        }
        ++cases;
        ends += expected.ends ? 1 : 0;
    }
    std::printf("extraction: %zu calls, %d cases, %d fatal ends\n", passing.calls.size(), cases, ends);
}

// The extraction directory's own removal at a fatal end, refused for sharing
// (a child's console host still holding it as its working directory): tried
// again after a pause until it goes, within a bound when it never does.
TEST_F(ExtractionFaults, ARemovalRefusedForSharingIsTriedAgain) {
    const Record passing = extract(std::nullopt, true);
    ASSERT_TRUE(passing.ended);
    ASSERT_FALSE(exists(directory_));
    // The subdirectory first, then the extraction directory.
    ASSERT_EQ(passing.count("RemoveDirectoryA"), 2);
    EXPECT_TRUE(passing.pauses.empty());

    const Record once = extract(Fault{"RemoveDirectoryA", 2, Kind::sharingViolation, Mode::once}, true);
    EXPECT_TRUE(once.ended);
    EXPECT_EQ(once.count("RemoveDirectoryA"), 3);
    EXPECT_EQ(once.pauses, std::vector<DWORD>{50});
    expectNoDirectoryLeft();

    const Record always = extract(Fault{"RemoveDirectoryA", 2, Kind::sharingViolation, Mode::fromThenOn}, true);
    EXPECT_TRUE(always.ended);
    EXPECT_EQ(always.count("RemoveDirectoryA"), 21);
    EXPECT_EQ(always.pauses, std::vector<DWORD>(19, 50));
    EXPECT_TRUE(exists(directory_));

    // Another refusal is not waited for.
    const Record denied = extract(Fault{"RemoveDirectoryA", 2, Kind::accessDenied, Mode::fromThenOn}, true);
    EXPECT_TRUE(denied.ended);
    EXPECT_EQ(denied.count("RemoveDirectoryA"), 2);
    EXPECT_TRUE(denied.pauses.empty());
}

}  // namespace
