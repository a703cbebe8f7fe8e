package com.tovrix.runtime.launcher;

import com.kelpa.runtime.util.WinDel;
import com.tovrix.runtime.installer.platform.win32.StartupMarker;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Properties;

/**
 * The main of both launcher classes: reads the parameter file, makes the
 * requested calls, writes a report of everything the Java side was given and
 * ends the way the parameter file asks.
 *
 * <p>First of all, main writes 2 into the launcher's per-process start-up
 * marker through the registry natives ({@link StartupMarker}), unless the
 * parameter file says otherwise; that file is read before.
 *
 * <p>Parameter file: "tvxparams.conf" in the current directory (the launcher
 * makes that its extraction directory), in java.util.Properties syntax, read
 * as UTF-8. A missing file means every default. Keys:
 * <ul>
 * <li>{@code report}: path of the report file, relative to the current
 * directory unless absolute; default "tvxreport.txt".</li>
 * <li>{@code end}: how main ends once the report is written: "return"
 * (default), "exit:N" (System.exit(N)) or "throw" (a RuntimeException with the
 * message "requested by test" escapes main).</li>
 * <li>{@code natives}: calls to make before the facts are collected, in the
 * syntax of {@link NativeCalls}.</li>
 * <li>{@code print}: "true" to also print the report to standard output.</li>
 * <li>{@code marker}: "skip" to leave the start-up marker alone (default
 * "write").</li>
 * <li>{@code window}: milliseconds to keep a small frame visible before the
 * report is written ({@link StartupWindow}); no window when absent.</li>
 * <li>{@code window.delay}: milliseconds to wait before the frame opens
 * (default 0).</li>
 * <li>{@code wait}: milliseconds main then waits before it goes on (default
 * 0), as an installer runs on after it has started.</li>
 * <li>{@code report.dir}: a directory for the reports of several copies of
 * one installer: each copy writes "report-&lt;pid&gt;.txt" there (instead of
 * {@code report}).</li>
 * <li>{@code hold}: the copy stays alive with a window open once its report
 * is written, until "&lt;report path&gt;.end" exists or this many milliseconds
 * have passed ({@link HeldCopy}); then it ends as {@code end} says.</li>
 * <li>{@code windel}, {@code windel.wait}, {@code windel.lines},
 * {@code windel.linger}, {@code windel.check}: write a deletion list and
 * start the launcher's deletion helper with it, as an installer does at its
 * end ({@link DeletionStart}).</li>
 * </ul>
 *
 * <p>Report lines (see {@link Report} for the escaping), in this order:
 * <pre>
 * launcher.class=&lt;the WinLauncher class whose main ran&gt;
 * params=found | missing | unreadable: &lt;reason&gt;
 * params.error=&lt;reason&gt;                 (only for a bad end value)
 * startup.marker=written | failed | skipped | &lt;exception class&gt;: &lt;message&gt;
 * startup.marker.name=InstallStarted_&lt;pid&gt;
 * window=shown | &lt;exception class&gt;: &lt;message&gt;   (only with the window key)
 * argc=&lt;N&gt;
 * arg[i]=&lt;argument i&gt;                   (i = 0 .. N-1)
 * property &lt;name&gt;=&lt;value&gt;              (or "property &lt;name&gt;" when unset)
 * cwd=&lt;absolute current directory&gt;
 * initFromLauncher=&lt;values passed, comma-separated, empty if never called&gt;
 * WinDel.externalExecutable=&lt;value&gt;     (or the bare key when null)
 * splash.calls=&lt;N&gt;                       (only when initAwtSplashConfig ran)
 * splash[i]=&lt;argument i of the last call&gt;  (i = 0 .. 13)
 * call[i]=&lt;call text&gt;                    (then one of the next three)
 * result[i]=&lt;returned value&gt;            ("void" for a void method)
 * thrown[i]=&lt;exception class&gt;: &lt;message&gt;
 * error[i]=&lt;why the call could not be made&gt;
 * natives.registered=true | false | partial | unknown
 * windel=started | &lt;exception class&gt;: &lt;message&gt;   (only with the windel key)
 * windel.check=present | absent        (only with the windel.check key)
 * hold=shown | &lt;exception class&gt;: &lt;message&gt;     (only with the hold key)
 * end=return | exit:N | throw
 * </pre>
 */
public final class LauncherRun {
    static final String PARAMS_FILE = "tvxparams.conf";
    static final String DEFAULT_REPORT = "tvxreport.txt";

    /** System properties the launcher sets or the tests look at. */
    static final String[] PROPERTIES = {
        "kelpa.tempDir", "kelpa.unextractedPosition", "kelpa.moduleName", "sun.java.command",
        "java.library.path", "kelpa.isTovrix", "kelpa.manualJre", "kelpa.semaphoreName",
        "kelpa.consoleCodepage", "java.class.path", "user.language", "user.country",
        "java.version", "os.arch", "java.home",
    };

    private LauncherRun() {
    }

    public static void run(String launcherClass, String[] args) {
        Properties params = new Properties();
        String paramsState = readParams(params);
        boolean skipMarker = params.getProperty("marker", "write").trim().equals("skip");
        String marker = skipMarker ? "skipped" : StartupMarker.write();
        String window = null;
        if (params.getProperty("window") != null) {
            window = StartupWindow.show(millis(params, "window.delay"), millis(params, "window"));
        }
        pause(millis(params, "wait"));
        List<NativeCalls.Outcome> calls = NativeCalls.runAll(params.getProperty("natives", ""));
        End end = End.parse(params.getProperty("end", "return").trim());
        DeletionStart deletion = params.getProperty("windel") != null ? DeletionStart.run(params) : null;
        HeldCopy held = params.getProperty("hold") != null ? HeldCopy.open() : null;

        Report report = new Report();
        report.put("launcher.class", launcherClass);
        report.put("params", paramsState);
        if (end.error != null) {
            report.put("params.error", end.error);
        }
        report.put("startup.marker", marker);
        report.put("startup.marker.name", StartupMarker.valueName());
        if (window != null) {
            report.put("window", window);
        }
        report.put("argc", args.length);
        for (int i = 0; i < args.length; i++) {
            report.put("arg[" + i + "]", args[i]);
        }
        for (String name : PROPERTIES) {
            report.put("property " + name, System.getProperty(name));
        }
        report.put("cwd", new File("").getAbsolutePath());
        report.put("initFromLauncher", join(StartupRecord.initFromLauncherCalls()));
        report.put("WinDel.externalExecutable", WinDel.externalExecutable);
        List<Object> splash = StartupRecord.lastSplash();
        if (splash != null) {
            report.put("splash.calls", StartupRecord.splashCalls());
            for (int i = 0; i < splash.size(); i++) {
                report.put("splash[" + i + "]", splash.get(i));
            }
        }
        for (int i = 0; i < calls.size(); i++) {
            NativeCalls.Outcome call = calls.get(i);
            report.put("call[" + i + "]", call.text);
            report.put(call.kind + "[" + i + "]", call.value);
        }
        report.put("natives.registered", NativeCalls.registered(calls));
        if (deletion != null) {
            report.put("windel", deletion.started);
            if (deletion.check != null) {
                report.put("windel.check", deletion.check);
            }
        }
        if (held != null) {
            report.put("hold", held.outcome());
        }
        report.put("end", end.describe());

        String reportPath = params.getProperty("report", "").trim();
        String reportDir = params.getProperty("report.dir", "").trim();
        Path target = !reportDir.isEmpty() ? HeldCopy.reportIn(reportDir)
                : Paths.get(reportPath.isEmpty() ? DEFAULT_REPORT : reportPath);
        try {
            report.writeAtomically(target);
        } catch (IOException | RuntimeException e) {
            System.err.println("tvxruntime: could not write the report " + target + ": " + e);
        }
        if (Boolean.parseBoolean(params.getProperty("print", "false").trim())) {
            printUtf8(report.text());
        }
        if (held != null) {
            held.holdUntilReleased(target, millis(params, "hold"));
        }
        end.perform();
    }

    private static String readParams(Properties params) {
        try (InputStream in = Files.newInputStream(Paths.get(PARAMS_FILE))) {
            params.load(new InputStreamReader(in, StandardCharsets.UTF_8));
            return "found";
        } catch (NoSuchFileException e) {
            return "missing";
        } catch (IOException | IllegalArgumentException e) {
            params.clear();
            return "unreadable: " + e;
        }
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** A parameter in milliseconds; 0 when absent or not a number. */
    private static long millis(Properties params, String key) {
        try {
            return Math.max(0L, Long.parseLong(params.getProperty(key, "0").trim()));
        } catch (NumberFormatException e) {
            return 0L;
        }
    }

    private static String join(List<?> values) {
        StringBuilder out = new StringBuilder();
        for (Object value : values) {
            out.append(out.length() == 0 ? "" : ",").append(value);
        }
        return out.toString();
    }

    private static void printUtf8(String text) {
        try {
            PrintStream out = new PrintStream(System.out, true, "UTF-8");
            out.print(text);
            out.flush();
        } catch (UnsupportedEncodingException e) {
            throw new IllegalStateException(e);
        }
    }

    /** How main ends: return, System.exit with a code, or throw. */
    static final class End {
        final String mode;
        final int exitCode;
        final String error;

        private End(String mode, int exitCode, String error) {
            this.mode = mode;
            this.exitCode = exitCode;
            this.error = error;
        }

        /** An unknown value ends like "return" and is named in {@code error}. */
        static End parse(String value) {
            if (value.equals("return") || value.isEmpty()) {
                return new End("return", 0, null);
            }
            if (value.equals("throw")) {
                return new End("throw", 0, null);
            }
            if (value.startsWith("exit:")) {
                try {
                    return new End("exit", Integer.parseInt(value.substring(5).trim()), null);
                } catch (NumberFormatException e) {
                    // falls through to the unknown value
                }
            }
            return new End("return", 0, "unknown end value \"" + value + "\"");
        }

        String describe() {
            return mode.equals("exit") ? "exit:" + exitCode : mode;
        }

        void perform() {
            System.out.flush();
            System.err.flush();
            if (mode.equals("exit")) {
                System.exit(exitCode);
            } else if (mode.equals("throw")) {
                throw new RuntimeException("requested by test");
            }
        }
    }
}
