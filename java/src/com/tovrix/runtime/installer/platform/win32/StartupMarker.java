package com.tovrix.runtime.installer.platform.win32;

import java.lang.management.ManagementFactory;

/**
 * Writes 2 into the per-process start-up marker through the registry natives,
 * as an installer's Java side does once it runs: the launcher sets the DWORD
 * value "InstallStarted_&lt;pid&gt;" of HKEY_CURRENT_USER\SOFTWARE\quillmoor\kelpa
 * to 1 right before it starts the JVM in its own process.
 */
public final class StartupMarker {
    /** Root code of HKEY_CURRENT_USER and the type code of REG_DWORD in Registry.setValue0. */
    static final int CURRENT_USER = 2;
    static final int DWORD = 2;
    static final String KEY = "SOFTWARE\\quillmoor\\kelpa";
    static final int JAVA_RUNNING = 2;

    private StartupMarker() {
    }

    /** The marker's value name, with the id of this process (which is the launcher's). */
    public static String valueName() {
        // "pid@host" on every Java version, including 8 (no ProcessHandle there).
        String name = ManagementFactory.getRuntimeMXBean().getName();
        int at = name.indexOf('@');
        return "InstallStarted_" + (at > 0 ? name.substring(0, at) : name);
    }

    /** "written", "failed", or the exception that the call threw as "class: message". */
    public static String write() {
        try {
            return Registry.setValue0(CURRENT_USER, KEY, valueName(), Integer.valueOf(JAVA_RUNNING), DWORD, 0)
                    ? "written" : "failed";
        } catch (LinkageError | RuntimeException e) {
            return e.getMessage() == null ? e.getClass().getName() : e.getClass().getName() + ": " + e.getMessage();
        }
    }
}
