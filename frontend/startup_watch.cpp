#include "frontend/startup_watch.h"

StartupWatchPass StartupWatch::step(int ownWindows, unsigned long processMarker) {
    StartupWatchPass pass;
    if (ownWindows >= 2 || processMarker == 2) {
        pass.end = StartupWatchEnd::JavaVisible;
        return pass;
    }
    ++passes_;
    if (passes_ % kPassesPerStep == 0) {
        position_ += (kBarEnd - base_) / 4;
        if (position_ > kBarLimit) position_ = kBarLimit;
        pass.barPosition = position_;
    }
    // Asked only this once: a marker the Java side has not touched yet (1)
    // means the start hangs; a missing marker (0) never times out.
    if (passes_ == kTimeoutPass && processMarker == 1 && !neverGiveUp_) pass.end = StartupWatchEnd::TimedOut;
    return pass;
}

StartupWatchEnd runStartupWatch(int base, bool neverGiveUp, const StartupWatchServices& services) {
    StartupWatch watch(base, neverGiveUp);
    for (;;) {
        const StartupWatchPass pass = watch.step(services.countOwnWindows(), services.readProcessMarker());
        if (pass.barPosition) services.setBarPosition(*pass.barPosition);
        if (pass.end) return *pass.end;
        services.sleep(StartupWatch::kPassMilliseconds);
    }
}
