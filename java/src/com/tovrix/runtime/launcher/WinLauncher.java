package com.tovrix.runtime.launcher;

/** Launcher class for program kind "i": reports what it was started with. */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void main(String[] args) {
        LauncherRun.run(WinLauncher.class.getName(), args);
    }
}
