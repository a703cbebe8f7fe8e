#include "frontend/deletion_passes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace deletion;
using Lines = std::vector<wstring>;

// A file system of paths that fail a number of times before they go (-1:
// never), recording every call in order: "wait N", "file P", "dir P",
// "reboot P", "sleep MS".
class FakePassSystem : public PassActions {
public:
    std::map<wstring, int> failures;
    bool schedulingWorks = true;
    std::vector<wstring> calls;

    void waitForSemaphore(const wstring& name) override { calls.push_back(W("wait ") + name); }
    Removal deleteFile(const wstring& path) override { return remove(W("file "), path); }
    Removal removeDirectory(const wstring& path) override { return remove(W("dir "), path); }
    bool scheduleAtReboot(const wstring& path) override {
        calls.push_back(W("reboot ") + path);
        return schedulingWorks;
    }
    void sleep(unsigned milliseconds) override {
        calls.push_back(W("sleep ") + wstring(widenBytes(std::to_string(milliseconds))));
    }

    int count(const wstring& call) const {
        int n = 0;
        for (const wstring& c : calls) n += c == call;
        return n;
    }

private:
    Removal remove(const wstring& kind, const wstring& path) {
        calls.push_back(kind + path);
        auto it = failures.find(path);
        if (it == failures.end()) return Removal::removed;
        if (it->second == 0) return Removal::gone;  // removed earlier by someone else
        if (it->second > 0) --it->second;
        return Removal::failed;
    }
};

const wstring kLocked = W("c:\\app\\locked.dll");
const wstring kExtraction = W("c:\\temp\\klp5.tmp_dir\\jre\\bin\\x.dll");

TEST(DeletionPasses, SectionsTextsAndOrder) {
    FakePassSystem fs;
    const PassesResult r = runDeletionPasses(
        {W("Local\\sem"), W("reboot_deletion"), W("Restart now?"), W(""), W("Second line"), W("EOSMARKER"),
         W("Cannot restart."), W("EOSMARKER trailing text"), W("f1"), W("f2"), W(""), W("d1"), W(""), W(""), W("d2")},
        fs);
    EXPECT_EQ(fs.calls, (Lines{W("wait Local\\sem"), W("file f1"), W("file f2"), W("dir d1"), W("dir d2")}));
    EXPECT_EQ(r.question, W("Restart now?\n\nSecond line"));
    EXPECT_EQ(r.warning, W("Cannot restart."));
    EXPECT_TRUE(r.rebootDeletion);
    EXPECT_FALSE(r.forceReboot);
    EXPECT_FALSE(r.rebootNeeded);
    EXPECT_EQ(r.passes, 1);
}

TEST(DeletionPasses, ModeWords) {
    const struct {
        const wchar* mode;
        bool force, rebootDeletion;
    } cases[] = {
        {W("force_reboot"), true, true},
        {W("reboot_deletion"), false, true},
        {W("Reboot_deletion"), false, false},
        {W("none"), false, false},
    };
    for (const auto& c : cases) {
        FakePassSystem fs;
        const PassesResult r = runDeletionPasses({W("s"), c.mode, W("EOSMARKER"), W("EOSMARKER"), W("f")}, fs);
        EXPECT_EQ(r.forceReboot, c.force);
        EXPECT_EQ(r.rebootDeletion, c.rebootDeletion);
        EXPECT_EQ(fs.calls.back(), W("file f"));
    }
}

TEST(DeletionPasses, EmptyLinesSkipTheWaitAndTheMode) {
    FakePassSystem fs;
    // An empty mode line: what was meant as texts and markers are files.
    const PassesResult r = runDeletionPasses({W(""), W(""), W("Question?"), W("EOSMARKER"), W("f"), W(""), W("d")}, fs);
    EXPECT_EQ(fs.calls, (Lines{W("file Question?"), W("file EOSMARKER"), W("file f"), W("dir d")}));
    EXPECT_TRUE(r.question.empty());
    EXPECT_FALSE(r.rebootDeletion);
}

TEST(DeletionPasses, ListEndingInsideTheTextsDeletesNothing) {
    for (const Lines& lines : {Lines{W("s"), W("reboot_deletion"), W("Q"), W("EOSMARKER"), W("W"), W("f")},
                               Lines{W("s"), W("reboot_deletion"), W("Q"), W("f")}}) {
        FakePassSystem fs;
        const PassesResult r = runDeletionPasses(lines, fs);
        EXPECT_EQ(fs.calls, (Lines{W("wait s")}));
        EXPECT_EQ(r.passes, 1);
        EXPECT_TRUE(r.rebootDeletion);
    }
}

TEST(DeletionPasses, RetriesUntilAPassLeavesNothingAndDropsWhatWent) {
    FakePassSystem fs;
    fs.failures[W("late")] = 2;  // goes in pass 3
    fs.failures[W("gone")] = 0;  // no longer exists: counts as done
    const PassesResult r = runDeletionPasses(
        {W("s"), W("x"), W("Q"), W("EOSMARKER"), W("EOSMARKER"), W("early"), W("late"), W("gone")}, fs);
    EXPECT_EQ(r.passes, 3);
    EXPECT_EQ(fs.count(W("file early")), 1);
    EXPECT_EQ(fs.count(W("file gone")), 1);
    EXPECT_EQ(fs.count(W("file late")), 3);
    EXPECT_EQ(fs.count(W("wait s")), 3);  // the wait line is walked again
    EXPECT_EQ(fs.count(W("sleep 500")), 2);
    EXPECT_EQ(r.question, W("Q")) << "texts are read in the first pass only";
    EXPECT_EQ(fs.calls.front(), W("wait s"));
    EXPECT_EQ(fs.calls[4], W("sleep 500")) << "the pause comes before the next pass";
}

TEST(DeletionPasses, SixtyPassesThenDeletionAtReboot) {
    const struct {
        const wchar* mode;
        bool directory;
        bool schedulingWorks;
        int scheduled;
        bool rebootNeeded;
    } cases[] = {
        {W("reboot_deletion"), false, true, 1, true},
        {W("force_reboot"), false, true, 1, true},
        {W("reboot_deletion"), false, false, 1, false},
        {W("reboot_deletion"), true, true, 1, false},  // a directory is scheduled but asks for no reboot
        {W("keep"), false, true, 0, false},
    };
    for (const auto& c : cases) {
        FakePassSystem fs;
        fs.failures[kLocked] = -1;
        fs.schedulingWorks = c.schedulingWorks;
        Lines lines{W("s"), c.mode, W("EOSMARKER"), W("EOSMARKER")};
        if (c.directory) lines.push_back(W(""));
        lines.push_back(kLocked);
        const PassesResult r = runDeletionPasses(lines, fs);
        EXPECT_EQ(r.passes, kPasses);
        EXPECT_EQ(fs.count((c.directory ? W("dir ") : W("file ")) + kLocked), kPasses);
        EXPECT_EQ(fs.count(W("sleep 500")), kPasses - 1);
        EXPECT_EQ(fs.count(W("reboot ") + kLocked), c.scheduled) << c.mode;
        if (c.scheduled) {
            EXPECT_EQ(fs.calls.back(), W("reboot ") + kLocked) << "only in the last pass";
        }
        EXPECT_EQ(r.rebootNeeded, c.rebootNeeded) << c.mode;
    }
}

TEST(DeletionPasses, ExtractionDirectoryGoesToRebootAfterItsFirstFailure) {
    FakePassSystem fs;
    fs.failures[kExtraction] = -1;
    fs.failures[W("late")] = 1;
    const PassesResult r =
        runDeletionPasses({W("s"), W("x"), W("EOSMARKER"), W("EOSMARKER"), kExtraction, W("late")}, fs);
    EXPECT_EQ(r.passes, 2) << "the extraction path asks for no retry";
    EXPECT_EQ(fs.count(W("file ") + kExtraction), 2);
    EXPECT_EQ(fs.count(W("reboot ") + kExtraction), 1) << "scheduled once";
    EXPECT_FALSE(r.rebootNeeded);

    // Only "klp" and ".tmp_dir" together make an extraction path.
    FakePassSystem other;
    other.failures[W("c:\\klp\\x")] = 1;
    EXPECT_EQ(runDeletionPasses({W("s"), W("x"), W("EOSMARKER"), W("EOSMARKER"), W("c:\\klp\\x")}, other).passes, 2);
    EXPECT_EQ(other.count(W("reboot c:\\klp\\x")), 0);
}

TEST(DeletionPasses, PathWithNulNeverReachesTheSystem) {
    FakePassSystem fs;
    const wstring truncated(W("c:\\dir\0\\file"), 12);
    const PassesResult r = runDeletionPasses({W(""), W(""), truncated, W(""), truncated}, fs);
    EXPECT_TRUE(fs.calls.empty());
    EXPECT_EQ(r.passes, 1);
}

TEST(DeletionPasses, EmptyListWalksNoPass) {
    FakePassSystem fs;
    EXPECT_EQ(runDeletionPasses({}, fs).passes, 0);
    EXPECT_TRUE(fs.calls.empty());
}

TEST(DeletionPasses, TextsAreCutToTheirBuffers) {
    FakePassSystem fs;
    const wstring line(8191, W('q'));
    // Joined: 8,189 + "\n" + a surrogate pair = 8,192; the cut at 8,191 would
    // split the pair, so its first half goes too.
    const wstring pairLine = W("\U0001F600");
    const PassesResult r = runDeletionPasses(
        {W("s"), W("m"), W("ab"), line, line, W("EOSMARKER"), wstring(8189, W('w')), pairLine, W("EOSMARKER")}, fs);
    EXPECT_EQ(r.question, W("ab\n") + wstring(kTextBuffer - 4, W('q')));
    EXPECT_EQ(r.warning, wstring(8189, W('w')) + W("\n"));
}

// --- the end

class FakeEnding : public EndingActions {
public:
    bool restartAccepted = true;
    bool answerYes = false;
    std::vector<wstring> calls;

    bool requestRestart() override {
        calls.push_back(W("restart"));
        return restartAccepted;
    }
    bool askQuestion(const wstring& text) override {
        calls.push_back(W("ask ") + text);
        return answerYes;
    }
    void showWarning(const wstring& text) override { calls.push_back(W("warn ") + text); }
    void recordRebootCheck() override { calls.push_back(W("marker")); }
};

TEST(DeletionEnding, DecisionTable) {
    const wstring q = W("Reboot?"), w = W("Reboot failed");
    const struct {
        const char* name;
        bool force, needed;
        wstring question, warning;
        bool accepted, yes;
        Ending ending;
        Lines calls;
    } cases[] = {
        // clang-format off
        {"nothing scheduled", false, false, q, w, true, true, Ending::nothing, {}},
        {"force, accepted", true, false, q, w, true, false, Ending::restarted, {W("restart")}},
        {"force, refused", true, true, q, w, false, false, Ending::restartFailed,
         {W("restart"), W("warn Reboot failed")}},
        {"force, refused, short warning", true, false, q, W("12345"), false, false, Ending::restartFailed,
         {W("restart")}},
        {"asked, No", false, true, q, w, true, false, Ending::rebootCheckOnly, {W("ask Reboot?"), W("marker")}},
        {"asked, Yes", false, true, q, w, true, true, Ending::restarted, {W("ask Reboot?"), W("restart")}},
        {"asked, Yes, refused", false, true, q, w, false, true, Ending::restartFailed,
         {W("ask Reboot?"), W("restart"), W("warn Reboot failed")}},
        {"five characters are no question", false, true, W("Sure?"), w, true, true, Ending::rebootCheckOnly,
         {W("marker")}},
        {"six characters are", false, true, W("Sure??"), w, true, false, Ending::rebootCheckOnly,
         {W("ask Sure??"), W("marker")}},
        // clang-format on
    };
    for (const auto& c : cases) {
        PassesResult passes;
        passes.forceReboot = c.force;
        passes.rebootDeletion = c.force;
        passes.rebootNeeded = c.needed;
        passes.question = c.question;
        passes.warning = c.warning;
        FakeEnding ending;
        ending.restartAccepted = c.accepted;
        ending.answerYes = c.yes;
        EXPECT_EQ(finishDeletion(passes, ending), c.ending) << c.name;
        EXPECT_EQ(ending.calls, c.calls) << c.name;
    }
}

}  // namespace
