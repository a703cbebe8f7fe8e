package com.kelpa.runtime;

import com.tovrix.runtime.launcher.LauncherRun;
import com.tovrix.runtime.launcher.StartupRecord;

/**
 * Launcher class for every program kind other than "i"; also receives the
 * splash screen settings before main. Reports what it was started with.
 */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void main(String[] args) {
        LauncherRun.run(WinLauncher.class.getName(), args);
    }

    /** Records the splash settings: two flags, then four groups of a text and two numbers. */
    public static void initAwtSplashConfig(boolean enabled, boolean flag,
            String text1, int a1, int b1, String text2, int a2, int b2,
            String text3, int a3, int b3, String text4, int a4, int b4) {
        StartupRecord.splash(enabled, flag, text1, a1, b1, text2, a2, b2, text3, a3, b3, text4, a4, b4);
    }
}
