package com.tovrix.runtime.launcher;

import com.kelpa.runtime.util.WinDel;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Properties;

/**
 * Starts the launcher's post-exit deletion helper the way an installer does
 * at its end: writes the deletion list (UTF-16LE, no byte-order mark) and
 * runs {@link WinDel#externalExecutable} with "__tvx_windel" and the list's
 * path; the installer then ends while the helper waits for its semaphore.
 *
 * <p>Parameters: "windel" the list's path; "windel.wait" its first line, the
 * semaphore to wait for (default: the property kelpa.semaphoreName, or an
 * empty line without it); "windel.lines" the rest of the list as it stands
 * (lines ended by "\n" or "\r\n"); "windel.linger" milliseconds to wait after
 * the start; "windel.check" a path whose existence is reported after that.
 */
final class DeletionStart {
    final String started;
    final String check;

    private DeletionStart(String started, String check) {
        this.started = started;
        this.check = check;
    }

    static DeletionStart run(Properties params) {
        String list = params.getProperty("windel", "").trim();
        String wait = params.getProperty("windel.wait");
        if (wait == null) {
            wait = System.getProperty("kelpa.semaphoreName", "");
        }
        String started;
        try {
            String text = wait + "\r\n" + params.getProperty("windel.lines", "");
            Files.write(Paths.get(list), text.getBytes(StandardCharsets.UTF_16LE));
            File nul = new File("NUL");
            new ProcessBuilder(WinDel.externalExecutable, "__tvx_windel", list)
                    .redirectInput(ProcessBuilder.Redirect.from(nul))
                    .redirectOutput(ProcessBuilder.Redirect.to(nul))
                    .redirectError(ProcessBuilder.Redirect.to(nul))
                    .start();
            started = "started";
        } catch (Exception e) {
            started = e.getMessage() == null ? e.getClass().getName() : e.getClass().getName() + ": " + e.getMessage();
        }
        try {
            Thread.sleep(Math.max(0L, Long.parseLong(params.getProperty("windel.linger", "0").trim())));
        } catch (NumberFormatException e) {
            // no linger
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        String checked = params.getProperty("windel.check");
        String check = checked == null ? null : Files.exists(Paths.get(checked.trim())) ? "present" : "absent";
        return new DeletionStart(started, check);
    }
}
