#include "natives/service_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace services;

namespace {

wstring text(const char* ascii) { return widenBytes(ascii); }

TEST(ServiceAccounts, OnlyTheExactSystemNamesAreMapped) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"NT AUTHORITY\\System", true},
        {"NT AUTHORITY\\LocalSystem", true},
        {"NT AUTHORITY\\system", false},  // case matters
        {"nt authority\\localsystem", false},
        {"NT AUTHORITY\\LocalService", false},
        {"NT AUTHORITY\\System ", false},
        {"LocalSystem", false},
        {"", false},
    };
    for (const auto& [account, mapped] : cases) EXPECT_EQ(isLocalSystemAlias(text(account)), mapped) << account;
}

TEST(ServiceDependencies, CommasSplitNamesAndEmptyNamesAreSkipped) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"", std::string("\0\0", 2)},
        {",", std::string("\0\0", 2)},
        {",,,", std::string("\0\0", 2)},
        {"a", std::string("a\0\0", 3)},
        {"a,,b", std::string("a\0b\0\0", 5)},
        {",a,b,", std::string("a\0b\0\0", 5)},
        {" a , b", std::string(" a \0 b\0\0", 8)},  // blanks are kept
        {"Tcpip,Afd", std::string("Tcpip\0Afd\0\0", 11)},
    };
    for (const auto& [input, expected] : cases) {
        const std::optional<wstring> list = dependencyList(text(input));
        ASSERT_TRUE(list) << input;
        EXPECT_EQ(*list, widenBytes(expected)) << input;
    }
}

TEST(ServiceDependencies, AListBeyondItsBufferIsRefusedNotCut) {
    constexpr std::size_t kChars = kDependencyBufferBytes / 2;
    // One name of kChars - 2 characters, its NUL and the closing NUL fill the buffer exactly.
    EXPECT_EQ(dependencyList(wstring(kChars - 2, wchar('x')))->size(), kChars);
    EXPECT_FALSE(dependencyList(wstring(kChars - 1, wchar('x'))));
    // Many short names: "ab," repeated; each takes three characters in the list.
    wstring many;
    for (std::size_t i = 0; i < kChars / 3 + 1; ++i) many += text("ab,");
    EXPECT_FALSE(dependencyList(many));
}

TEST(ServiceFailureActions, RestartsAndAFinalNone) {
    struct Case {
        bool restart;
        std::int32_t count;
        std::vector<std::uint32_t> types;
        std::uint32_t countGiven;
    };
    std::vector<std::uint32_t> most(kMaxRestarts, kActionRestart);
    most.push_back(kActionNone);
    const std::vector<Case> cases = {
        {true, 3, {kActionRestart, kActionRestart, kActionRestart, kActionNone}, 4},
        {true, 1, {kActionRestart, kActionNone}, 2},
        {true, 0, {kActionRestart}, 1},
        {false, 0, {kActionRestart}, 0},  // count 0: Windows deletes the failure actions
        {false, 3, {kActionRestart}, 0},
        {false, -5, {kActionRestart}, 0},  // without the flag the count is not used
        {true, kMaxRestarts, most, kMaxRestarts + 1},
    };
    for (const Case& c : cases) {
        const std::optional<FailureActions> actions = failureActions(c.restart, c.count);
        ASSERT_TRUE(actions) << c.restart << " " << c.count;
        EXPECT_EQ(actions->types, c.types) << c.restart << " " << c.count;
        EXPECT_EQ(actions->count, c.countGiven) << c.restart << " " << c.count;
    }
}

TEST(ServiceFailureActions, CountsWithoutRoomOrBoundAreRefused) {
    for (std::int32_t count : {-1, -2147483647 - 1, kMaxRestarts + 1, 2147483647})
        EXPECT_FALSE(failureActions(true, count)) << count;
}

// A simulated service for the stop wait: its states, check points and wait
// hints in order, one per query, and a clock that the sleeps advance.
struct SimulatedService {
    std::vector<ServiceProgress> statuses;
    std::size_t failAt = SIZE_MAX;  // the query that fails
    std::size_t queries = 0;
    std::uint32_t clock = 0;
    std::vector<std::uint32_t> sleeps;

    int stop(std::int32_t timeout) {
        return waitForStop(
            [&](ServiceProgress& status) {
                if (queries == failAt) return false;
                status = statuses[queries < statuses.size() ? queries : statuses.size() - 1];
                ++queries;
                return true;
            },
            [&](std::uint32_t ms) {
                sleeps.push_back(ms);
                clock += ms;
            },
            [&] { return clock; }, timeout);
    }
};

constexpr std::uint32_t kPending = 3;  // SERVICE_STOP_PENDING

TEST(ServiceStopWait, Outcomes) {
    struct Case {
        const char* what;
        std::vector<ServiceProgress> statuses;
        std::int32_t timeout;
        std::size_t failAt;
        int result;
        std::size_t queries;
    };
    const std::vector<Case> cases = {
        {"stopped at once", {{kStateStopped, 0, 0}}, 0, SIZE_MAX, 0, 1},
        {"stops after two polls", {{kPending, 0, 0}, {kPending, 0, 0}, {kStateStopped, 0, 0}}, 5000, SIZE_MAX, 0, 3},
        // Time-out 0, no wait hint, no progress: one poll, then give up.
        {"no progress, no time", {{kPending, 0, 0}}, 0, SIZE_MAX, kStopTimedOut, 2},
        // A negative time-out is 0, not 49 days.
        {"negative time-out", {{kPending, 0, 0}}, -1, SIZE_MAX, kStopTimedOut, 2},
        // Time-out 0, but the check point grows at every poll until the service stops.
        {"progress keeps the wait",
         {{kPending, 1, 0}, {kPending, 2, 0}, {kPending, 3, 0}, {kPending, 4, 0}, {kStateStopped, 0, 0}},
         0,
         SIZE_MAX,
         0,
         5},
        // Time-out 0, no progress, but a wait hint of 1,200 ms: polls at 500 and 1,000 ms wait on, 1,500 gives up.
        {"wait hint", {{kPending, 7, 1200}}, 0, SIZE_MAX, kStopTimedOut, 4},
        // The time-out: 1,000 ms allow polls at 500 and 1,000 ms.
        {"time-out", {{kPending, 0, 0}}, 1000, SIZE_MAX, kStopTimedOut, 4},
        {"first query fails", {{kPending, 0, 0}}, 5000, 0, kStopQueryFailed, 0},
        {"later query fails", {{kPending, 0, 0}}, 5000, 2, kStopQueryFailed, 2},
    };
    for (const Case& c : cases) {
        SimulatedService service;
        service.statuses = c.statuses;
        service.failAt = c.failAt;
        EXPECT_EQ(service.stop(c.timeout), c.result) << c.what;
        EXPECT_EQ(service.queries, c.queries) << c.what;
        for (std::uint32_t ms : service.sleeps) EXPECT_EQ(ms, kStopPollMilliseconds) << c.what;
    }
}

TEST(ServiceStopWait, ElapsedTimeIsRightAcrossTheTickWrap) {
    const ServiceProgress pending{kPending, 0, 0};
    // Started 300 ms before the wrap; 700 ms later the tick count is 400.
    StopWait wait(0xFFFFFFFFu - 299u, pending, 1000);
    EXPECT_TRUE(wait.keepWaiting(400, pending));
    EXPECT_TRUE(wait.keepWaiting(700, pending));   // 1,000 ms
    EXPECT_FALSE(wait.keepWaiting(701, pending));  // 1,001 ms
    // Progress resets the wait-hint clock, also across the wrap.
    StopWait hinted(0xFFFFFF00u, pending, 0);
    EXPECT_TRUE(hinted.keepWaiting(0xFFFFFFF0u, {kPending, 1, 0}));  // progress 16 ms before the wrap
    EXPECT_TRUE(hinted.keepWaiting(84u, {kPending, 1, 100}));        // 100 ms after it
    EXPECT_FALSE(hinted.keepWaiting(85u, {kPending, 1, 100}));
}

}  // namespace
