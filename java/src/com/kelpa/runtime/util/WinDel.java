package com.kelpa.runtime.util;

/** Post-exit deletion helper: where the launcher executable lives. */
public final class WinDel {
    /**
     * The launcher executable's module path, set by the launcher before main;
     * started with "__tvx_windel" and a deletion list to remove files in use.
     */
    public static String externalExecutable;

    private WinDel() {
    }
}
