package com.tovrix.runtime.launcher;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * What the launcher called on the Java side before main: the values given to
 * Common.initFromLauncher and the arguments of initAwtSplashConfig.
 */
public final class StartupRecord {
    private static final List<Boolean> initFromLauncher = new ArrayList<Boolean>();
    private static Object[] lastSplash;
    private static int splashCalls;

    private StartupRecord() {
    }

    public static synchronized void initFromLauncher(boolean value) {
        initFromLauncher.add(value);
    }

    public static synchronized List<Boolean> initFromLauncherCalls() {
        return new ArrayList<Boolean>(initFromLauncher);
    }

    public static synchronized void splash(Object... arguments) {
        lastSplash = arguments.clone();
        splashCalls++;
    }

    /** The arguments of the last initAwtSplashConfig call, or null. */
    public static synchronized List<Object> lastSplash() {
        return lastSplash == null ? null : Arrays.asList(lastSplash.clone());
    }

    public static synchronized int splashCalls() {
        return splashCalls;
    }
}
