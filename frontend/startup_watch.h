// The wait for the Java side's first window, one pass at a time.  The watcher
// thread (startup_watcher_win.cpp) runs the passes every 100 ms; here they are
// plain decisions over what a pass observed, with the sleep between passes
// handed in, so the whole wait, time-out included, runs in a unit test
// without waiting four minutes.  The pass counter is the watch's clock: the
// time-out is the 2,400th pass, about 240 s.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

enum class StartupWatchEnd {
    JavaVisible,  // a second window of the process, or the Java side wrote 2
    TimedOut,     // the 2,400th pass with the marker still at 1
};

// What one pass did: the bar position to show, and whether the wait ended.
struct StartupWatchPass {
    std::optional<int> barPosition;
    std::optional<StartupWatchEnd> end;
};

class StartupWatch {
public:
    static constexpr int kPassMilliseconds = 100;
    static constexpr int kTimeoutPass = 2400;
    static constexpr int kBarEnd = 400;
    static constexpr int kBarLimit = 390;
    static constexpr int kPassesPerStep = 5;

    // `base` is where the bar starts (the progress base: 100, 200 or 300);
    // `neverGiveUp` is configuration entry 159.
    StartupWatch(int base, bool neverGiveUp) : base_(base), position_(base), neverGiveUp_(neverGiveUp) {}

    // One pass over what it saw: the visible windows of the process (the
    // console window not counted) and the per-process start-up marker.
    StartupWatchPass step(int ownWindows, unsigned long processMarker);

    int passes() const { return passes_; }

private:
    int base_;
    int position_;
    bool neverGiveUp_;
    int passes_ = 0;
};

// What the wait observes and does, for `runStartupWatch`.
struct StartupWatchServices {
    std::function<int()> countOwnWindows;
    std::function<unsigned long()> readProcessMarker;
    std::function<void(int)> setBarPosition;
    std::function<void(std::uint32_t milliseconds)> sleep;
};

// Runs passes until the wait ends, sleeping 100 ms between them.
StartupWatchEnd runStartupWatch(int base, bool neverGiveUp, const StartupWatchServices& services);
