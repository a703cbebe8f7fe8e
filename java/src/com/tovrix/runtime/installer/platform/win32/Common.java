package com.tovrix.runtime.installer.platform.win32;

import com.tovrix.runtime.launcher.StartupRecord;

/** Entry point the launcher calls around registering its natives. */
public final class Common {
    private Common() {
    }

    /**
     * Called with true before the launcher registers its natives and with
     * false again when registration failed; the calls are recorded for the
     * report.
     */
    public static void initFromLauncher(boolean fromLauncher) {
        StartupRecord.initFromLauncher(fromLauncher);
    }
}
