// Fault injection into the post-exit deletion helper under Wine: a real
// deletion list (reboot deletion asked for) naming files and directories of
// the test, the registry's two hives redirected to keys of the test, while
// each file, registry and restart call of a passing run fails in turn with
// every kind that applies, once and from then on.  The 60 passes run at once
// (the pauses are recorded); restarts and deletions at reboot are recorded,
// never done.  Three runs are the passing runs: everything can go; one file
// stays in use and the reboot question is answered No (the reboot check
// marker and "RebootCheckFile"); the same answered Yes (the restart).
//
// The helper always ends with 0 and its outcome is a rule rather than one
// message, so each case checks the rule: what stays was left to the reboot
// or its scheduling was refused; a single failure is retried away; the
// question comes exactly when a file was left to the reboot; a marker is
// recorded in each hive whose write was not refused, or deleted when it
// cannot be left to the reboot; a refused restart shows the warning.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "frontend/deletion_helper.h"
#include "launcher/win_handles.h"
#include "tests/unit/fault_injection.h"

namespace {

using namespace faults;

const wchar_t kQuestion[] = L"Restart now to finish the removal?";
const wchar_t kWarning[] = L"The restart could not be started.";
const wchar_t kRebootCheckKey[] = L"SOFTWARE\\quillmoor\\tovrix";

struct Scenario {
    const char* name;
    bool holdFile;  // "a.txt" is held open without sharing for the run
    int answer;     // to the reboot question
};
const Scenario kAllGo{"everything can go", false, IDNO};
const Scenario kHeldNo{"a file in use, no restart", true, IDNO};
const Scenario kHeldYes{"a file in use, restart", true, IDYES};

bool contains(const std::vector<std::wstring>& list, const std::wstring& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class DeletionFaults : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = L"Software\\tovrix-unit-tests\\faults" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, machine_.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, user_.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        machine_.reset();
        user_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tovrix-unit-tests");  // only when no other run uses it
    }

    std::wstring target() const { return scratch_.path() + L"\\target"; }
    std::wstring list() const { return scratch_.path() + L"\\list.txt"; }
    std::vector<std::wstring> files() const { return {target() + L"\\a.txt", target() + L"\\b.txt"}; }
    std::vector<std::wstring> directories() const { return {target() + L"\\sub", target()}; }

    void writeList() {
        std::wstring text = L"tvxfaults-nobody-holds-" + std::to_wstring(GetCurrentProcessId()) + L"\r\n";
        text +=
            L"reboot_deletion\r\n" + std::wstring(kQuestion) + L"\r\nEOSMARKER\r\n" + kWarning + L"\r\nEOSMARKER\r\n";
        for (const std::wstring& file : files()) text += file + L"\r\n";
        text += L"\r\n";
        for (const std::wstring& directory : directories()) text += directory + L"\r\n";
        writeBytes(list(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    }

    // "RebootCheckFile" of both redirected hives, where it is set.
    std::vector<std::wstring> rebootCheckValues() {
        std::vector<std::wstring> values;
        for (HKEY hive : {machine_.get(), user_.get()}) {
            wchar_t data[1024] = {};
            DWORD size = sizeof data - sizeof(wchar_t);
            if (RegGetValueW(hive, kRebootCheckKey, L"RebootCheckFile", RRF_RT_REG_SZ, nullptr, data, &size) ==
                ERROR_SUCCESS)
                values.push_back(data);
        }
        return values;
    }

    // One run of the helper over a fresh list and fresh files.
    Record runHelper(const Scenario& scenario, const std::optional<Fault>& fault) {
        removeTree(target());
        CreateDirectoryW(target().c_str(), nullptr);
        CreateDirectoryW(directories()[0].c_str(), nullptr);
        for (const std::wstring& file : files()) writeBytes(file, "data");
        writeList();
        RegDeleteTreeW(machine_.get(), L"SOFTWARE");
        RegDeleteTreeW(user_.get(), L"SOFTWARE");
        UniqueFile held;
        if (scenario.holdFile)
            held.reset(CreateFileW(files()[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        injector_.answer(scenario.answer);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_.get());
        RegOverridePredefKey(HKEY_CURRENT_USER, user_.get());
        int code = -1;
        Record run = injector_.run([&] { code = runDeletionHelper(list()); }, fault);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        EXPECT_EQ(code, 0);
        values_ = rebootCheckValues();
        remaining_.clear();
        for (const auto& paths : {files(), directories()})
            for (const std::wstring& path : paths)
                if (exists(path)) remaining_.push_back(path);
        marker_ = markerOf(run);
        return run;
    }

    // The marker is the one path handed to the reboot deletion that the
    // list does not name.
    std::wstring markerOf(const Record& run) const {
        for (const CallRecord& call : run.calls)
            if (call.function == "MoveFileExW" && !contains(files(), call.subject) &&
                !contains(directories(), call.subject))
                return call.subject;
        return L"";
    }

    // The rule every run keeps.
    void expectHelperRule(const Record& run, const Scenario& scenario, const std::vector<std::wstring>& faultedMoves,
                          int refusedHives) {
        EXPECT_FALSE(run.ended);
        EXPECT_TRUE(run.leaks.empty()) << "left open: " << narrow(run.leaks.empty() ? L"" : run.leaks[0]);
        for (const std::wstring& path : remaining_) {
            EXPECT_TRUE(contains(run.scheduledAtReboot, path) || contains(faultedMoves, path))
                << narrow(path) << " stays without being left to the reboot";
        }
        const std::vector<std::wstring> listed = files();
        const bool fileLeftToReboot = std::any_of(listed.begin(), listed.end(), [&](const std::wstring& file) {
            return contains(run.scheduledAtReboot, file);
        });
        const bool asked = !run.shown.empty() && run.shown[0].text == kQuestion;
        EXPECT_EQ(asked, fileLeftToReboot);
        if (!asked) {
            EXPECT_TRUE(run.shown.empty());
            EXPECT_TRUE(values_.empty());
            return;
        }
        EXPECT_EQ(run.shown[0].caption, L"tovrix");
        EXPECT_EQ(run.shown[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
        if (scenario.answer == IDYES) {
            EXPECT_TRUE(values_.empty());
            EXPECT_LE(run.restartRequests, 1);
            // A refused restart shows the warning after the question.
            EXPECT_EQ(run.shown.size(), run.restartRequests == 1 ? 1u : 2u);
            if (run.restartRequests == 0 && run.shown.size() == 2) {
                EXPECT_EQ(run.shown[1].text, kWarning);
                EXPECT_EQ(run.shown[1].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
            }
            return;
        }
        EXPECT_EQ(run.shown.size(), 1u);
        ASSERT_FALSE(marker_.empty()) << "no marker after the answer No";
        if (contains(run.scheduledAtReboot, marker_)) {
            EXPECT_EQ(values_.size(), 2u - refusedHives);
            for (const std::wstring& value : values_) EXPECT_EQ(value, marker_);
        } else {
            EXPECT_TRUE(values_.empty());
            EXPECT_FALSE(exists(marker_)) << "a marker nobody will delete stays";
        }
    }

    void removeMarker() {
        if (!marker_.empty()) DeleteFileW(marker_.c_str());
    }

    ScratchDirectory scratch_;
    Injector injector_;
    std::wstring root_;
    UniqueRegKey machine_, user_;
    std::vector<std::wstring> values_, remaining_;
    std::wstring marker_;
};

TEST_F(DeletionFaults, EachFileRegistryAndRestartCallFailsInTurn) {
    std::set<std::string> covered;
    int cases = 0;
    for (const Scenario& scenario : {kAllGo, kHeldNo, kHeldYes}) {
        SCOPED_TRACE(scenario.name);
        const Record passing = runHelper(scenario, std::nullopt);
        removeMarker();
        ASSERT_FALSE(passing.ended);
        EXPECT_FALSE(exists(list()));
        if (!scenario.holdFile) {
            EXPECT_TRUE(remaining_.empty());
            EXPECT_TRUE(passing.shown.empty());
        } else {
            // The held file, and the directory that holds it, stay for the reboot.
            EXPECT_EQ(remaining_, (std::vector<std::wstring>{files()[0], target()}));
            EXPECT_EQ(passing.scheduledAtReboot.size(), scenario.answer == IDNO ? 3u : 2u);
            EXPECT_EQ(passing.restartRequests, scenario.answer == IDYES ? 1 : 0);
            EXPECT_EQ(values_.size(), scenario.answer == IDNO ? 2u : 0u);
            EXPECT_EQ(std::count(passing.pauses.begin(), passing.pauses.end(), 500u), 59);
        }
        const std::vector<std::wstring> passingRemaining = remaining_;

        // The calls of the first run, and in the others those the first run
        // did not make (the reboot path's).
        std::set<std::string> functions;
        for (const CallRecord& call : passing.calls) functions.insert(call.function);
        for (const Fault& fault : casesOf(passing)) {
            if (covered.count(fault.function)) continue;
            SCOPED_TRACE(describe(fault));
            const Record run = runHelper(scenario, fault);
            ASSERT_FALSE(run.faulted.empty()) << "the fault hit no call";
            const CallRecord& hit = run.faulted.front();
            std::vector<std::wstring> faultedMoves;
            int refusedHives = 0;
            for (const CallRecord& call : run.faulted) {
                if (call.function == "MoveFileExW") faultedMoves.push_back(call.subject);
                if (call.function == "RegCreateKeyExW" || call.function == "RegSetValueExW") ++refusedHives;
            }
            // An unreadable list deletes nothing, not even part of it.
            if (fault.function == "CreateFileW" || fault.function == "ReadFile") {
                EXPECT_EQ(remaining_.size(), files().size() + directories().size());
                EXPECT_TRUE(run.shown.empty());
                EXPECT_FALSE(exists(list()));
                continue;
            }
            expectHelperRule(run, scenario, faultedMoves, refusedHives);
            removeMarker();
            // A single failed deletion is tried again and changes nothing.
            if (fault.mode == Mode::once && (fault.function == "DeleteFileW" || fault.function == "RemoveDirectoryW") &&
                hit.subject != list()) {
                EXPECT_EQ(remaining_, passingRemaining);
            }
            // The list is deleted once, after the passes.
            const bool listRefused = std::any_of(run.faulted.begin(), run.faulted.end(), [&](const CallRecord& call) {
                return call.function == "DeleteFileW" && call.subject == list();
            });
            EXPECT_EQ(exists(list()), listRefused);
            ++cases;
        }
        covered.insert(functions.begin(), functions.end());
        std::printf("deletion helper, %s: %zu calls\n", scenario.name, passing.calls.size());
    }
    std::printf("deletion helper: %d cases\n", cases);
}

}  // namespace
