#include "natives/process_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace processes;

namespace {

using namespace std::string_literals;

TEST(ProcessEntries, PrefixIsTheSignedDecimalIdAndABlank) {
    const std::vector<std::pair<std::uint32_t, std::u16string>> cases = {
        {0, u"0 "},
        {4, u"4 "},
        {65536, u"65536 "},
        {2147483647u, u"2147483647 "},
        {0xFFFFFFFFu, u"-1 "},
        {0x80000000u, u"-2147483648 "},
    };
    for (const auto& [pid, prefix] : cases) EXPECT_EQ(entryPrefix(pid), prefix) << pid;
}

TEST(ProcessEntries, TemporaryImagesEndInLowerCaseTmp) {
    const std::vector<std::pair<std::u16string, bool>> cases = {
        {u"12 C:\\t\\setup.tmp", true},
        {u"12 C:\\t\\setup.TMP", false},
        {u"12 C:\\t\\setup.tmpx", false},
        {u".tmp", false},  // not longer than four characters
        {u"x.tmp", true},
        {u"", false},
    };
    for (const auto& [entry, temporary] : cases) {
        EXPECT_EQ(namesTemporaryImage(entry), temporary) << std::string(entry.begin(), entry.end());
    }
}

TEST(EnvironmentBlock, EntriesUpToTheEmptyOneIncludingDriveEntries) {
    struct Case {
        std::u16string block;  // with its NULs
        std::size_t limit;
        std::vector<std::u16string> entries;
    };
    const std::vector<Case> cases = {
        {u"=C:=C:\\x\0A=1\0PATH=C:\\w;D:\\\0\0"s, 1000, {u"=C:=C:\\x", u"A=1", u"PATH=C:\\w;D:\\"}},
        {u"\0\0"s, 1000, {}},                     // an empty block
        {u"A=1\0\0B=2\0\0"s, 1000, {u"A=1"}},     // nothing after the empty entry is read
        {u"A=\u4e2d\0\0"s, 1000, {u"A=\u4e2d"}},  // characters beyond Latin-1 unchanged
        {u"A=1\0BBBB=2\0\0"s, 8, {u"A=1"}},       // an entry cut by the limit is left out
        {u"A=1\0"s, 4, {u"A=1"}},                 // the limit ends the walk before a missing NUL
    };
    for (const Case& c : cases) {
        // The block lives in its own allocation of exactly its characters, so
        // the sanitizer catches a read past them.
        std::vector<char16_t> block(c.block.begin(), c.block.end());
        EXPECT_EQ(environmentEntries(block.data(), c.limit < block.size() ? c.limit : block.size()), c.entries);
    }
    EXPECT_TRUE(environmentEntries(nullptr, 10).empty());
}

TEST(WindowTitles, FirstVisibleTitledWindowWinsElseLastInvisibleTitledOne) {
    struct Offer {
        std::u16string title;
        bool visible;
    };
    struct Case {
        std::vector<Offer> offers;
        std::u16string title;
        std::size_t offersTaken;  // the enumeration stops after this many
    };
    const std::vector<Case> cases = {
        {{}, u"", 0},
        {{{u"", true}, {u"", false}}, u"", 2},  // untitled windows are passed over
        {{{u"hidden 1", false}, {u"shown", true}, {u"later", true}}, u"shown", 2},
        {{{u"hidden 1", false}, {u"hidden 2", false}, {u"", true}}, u"hidden 2", 3},
        {{{u"", true}, {u"hidden", false}}, u"hidden", 2},
    };
    for (const Case& c : cases) {
        TitleChoice choice;
        std::size_t taken = 0;
        for (const Offer& offer : c.offers) {
            ++taken;
            if (choice.offer(offer.title, offer.visible)) break;
        }
        EXPECT_EQ(choice.title(), c.title);
        EXPECT_EQ(taken, c.offersTaken);
    }
}

TEST(GracefulTermination, EveryListedProcessNeedsAVisibleWindowAndEveryRequestMustBePosted) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> pids;
        std::vector<std::uint32_t> windowsOf;  // a visible window of each of these, in order
        std::vector<bool> requested;           // whether each window gets a close request
        bool postFails;
        int result;
    };
    const std::vector<Case> cases = {
        {"all answered", {10, 20}, {30, 20, 10, 20}, {false, true, true, true}, false, kTerminated},
        {"one without a window", {10, 20}, {10, 30}, {true, false}, false, kNotTerminated},
        {"a request that failed", {10}, {10}, {true}, true, kNotTerminated},
        {"an id twice, one window", {10, 10}, {10}, {true}, false, kTerminated},
        {"no ids", {}, {10}, {false}, false, kTerminated},
    };
    for (const Case& c : cases) {
        CloseRequests requests(c.pids);
        std::vector<bool> requested;
        for (std::uint32_t pid : c.windowsOf) {
            requested.push_back(requests.takeWindow(pid));
            if (requested.back() && c.postFails) requests.postFailed();
        }
        EXPECT_EQ(requested, c.requested) << c.what;
        EXPECT_EQ(requests.result(), c.result) << c.what;
        EXPECT_EQ(requests.pids(), c.pids) << c.what;
    }
}

TEST(GracefulTermination, WaitResults) {
    constexpr std::uint32_t kTimeout = 0x102;  // WAIT_TIMEOUT
    const std::vector<std::pair<std::uint32_t, int>> cases = {
        {0, kTerminated},    {kTimeout, kWaitTimedOut}, {0xFFFFFFFFu, kWaitFailed},  // WAIT_FAILED
        {0x80, kWaitFailed},                                                         // WAIT_ABANDONED_0
        {1, kWaitFailed},
    };
    for (const auto& [waited, code] : cases) EXPECT_EQ(waitResultCode(waited, kTimeout), code) << waited;
}

}  // namespace
