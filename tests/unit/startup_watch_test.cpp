#include "frontend/startup_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The bar while nothing happens: a step every fifth pass, a quarter of the
// way from the base to 400 each, held at 390.
TEST(StartupWatch, BarClimbsFromTheBaseAndStopsAt390) {
    const struct {
        int base;
        std::vector<int> positions;
    } cases[] = {
        {100, {175, 250, 325, 390, 390}},
        {200, {250, 300, 350, 390, 390}},
        {300, {325, 350, 375, 390, 390}},
    };
    for (const auto& c : cases) {
        StartupWatch watch(c.base, false);
        std::vector<int> shown;
        for (int pass = 1; pass <= 25; ++pass) {
            const StartupWatchPass result = watch.step(1, 1);
            EXPECT_FALSE(result.end);
            EXPECT_EQ(result.barPosition.has_value(), pass % 5 == 0) << pass;
            if (result.barPosition) shown.push_back(*result.barPosition);
        }
        EXPECT_EQ(shown, c.positions) << c.base;
    }
}

TEST(StartupWatch, TheJavaSideEndsTheWait) {
    // A second window of the process (the dialog is the first) or marker 2.
    for (const auto& seen : {std::pair<int, unsigned long>{2, 1}, {3, 0}, {1, 2}, {0, 2}}) {
        StartupWatch watch(100, false);
        const StartupWatchPass pass = watch.step(seen.first, seen.second);
        EXPECT_EQ(pass.end, StartupWatchEnd::JavaVisible) << seen.first << " " << seen.second;
        EXPECT_FALSE(pass.barPosition);
        EXPECT_EQ(watch.passes(), 0);
    }
}

// Runs the whole wait with an injected sleep: the observations come from the
// lambdas, every sleep is counted instead of slept.
struct FakeStart {
    int windows = 1;
    unsigned long marker = 1;
    int sleeps = 0;
    int lastBar = 0;
    std::function<void(int)> onSleep;

    StartupWatchEnd run(int base, bool neverGiveUp) {
        StartupWatchServices services;
        services.countOwnWindows = [this] { return windows; };
        services.readProcessMarker = [this] { return marker; };
        services.setBarPosition = [this](int position) { lastBar = position; };
        services.sleep = [this](std::uint32_t milliseconds) {
            EXPECT_EQ(milliseconds, 100u);
            ++sleeps;
            if (onSleep) onSleep(sleeps);
        };
        return runStartupWatch(base, neverGiveUp, services);
    }
};

TEST(StartupWatch, TimesOutAtThe2400thPassWhileTheMarkerIs1) {
    FakeStart start;
    EXPECT_EQ(start.run(100, false), StartupWatchEnd::TimedOut);
    EXPECT_EQ(start.sleeps, 2399);  // the 2,400th pass decides before it sleeps
    EXPECT_EQ(start.lastBar, 390);
}

TEST(StartupWatch, TheTimeOutIsAskedOnlyOnce) {
    // Entry 159 set, or a missing marker at pass 2,400: the wait goes on and
    // a marker that reads 1 later does not end it; the Java side still can.
    for (const bool neverGiveUp : {true, false}) {
        FakeStart start;
        start.marker = neverGiveUp ? 1 : 0;
        start.onSleep = [&start](int sleeps) {
            if (sleeps == 2400) start.marker = 1;
            if (sleeps == 5000) start.windows = 2;
        };
        EXPECT_EQ(start.run(300, neverGiveUp), StartupWatchEnd::JavaVisible) << neverGiveUp;
        EXPECT_EQ(start.sleeps, 5000);
    }
}

TEST(StartupWatch, MarkerTwoJustBeforeTheTimeOutWins) {
    FakeStart start;
    start.onSleep = [&start](int sleeps) {
        if (sleeps == 2399) start.marker = 2;
    };
    EXPECT_EQ(start.run(200, false), StartupWatchEnd::JavaVisible);
}

}  // namespace
