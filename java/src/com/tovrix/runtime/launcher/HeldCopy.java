package com.tovrix.runtime.launcher;

import java.awt.EventQueue;
import java.awt.Frame;
import java.awt.Label;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * A copy of the installer that stays alive, its window open, until the test
 * tells it to end, the way a running installer holds its instance semaphore
 * while another copy starts: the "hold" parameter (the longest hold in
 * milliseconds) keeps main waiting after the report was written until the
 * file "&lt;report path&gt;.end" exists.
 *
 * <p>With "report.dir" several copies of one installer write their reports
 * side by side: each into "report-&lt;pid&gt;.txt" of that directory.
 */
final class HeldCopy {
    static final String TITLE = "tvxruntime held window";
    private static final long POLL_MS = 100;

    private final Frame frame;
    private final String outcome;

    private HeldCopy(Frame frame, String outcome) {
        this.frame = frame;
        this.outcome = outcome;
    }

    /** The process id of this Java side, which is the launcher's. */
    static String pid() {
        // "pid@host" on every Java version, including 8 (no ProcessHandle there).
        String name = ManagementFactory.getRuntimeMXBean().getName();
        int at = name.indexOf('@');
        return at > 0 ? name.substring(0, at) : name;
    }

    /** The report of this copy in the directory: "report-&lt;pid&gt;.txt". */
    static Path reportIn(String directory) {
        return Paths.get(directory, "report-" + pid() + ".txt");
    }

    /**
     * Opens the window of a held copy; the result's {@link #outcome} is
     * "shown" or the exception that kept the window from showing.
     */
    static HeldCopy open() {
        final Frame frame = new Frame(TITLE);
        try {
            frame.add(new Label("A copy of the test installer is running."));
            frame.setSize(320, 120);
            frame.setLocation(120, 120);
            EventQueue.invokeAndWait(new Runnable() {
                @Override
                public void run() {
                    frame.setVisible(true);
                }
            });
            return new HeldCopy(frame, "shown");
        } catch (Throwable e) {
            String why = e.getMessage() == null ? e.getClass().getName() : e.getClass().getName() + ": " + e.getMessage();
            return new HeldCopy(null, why);
        }
    }

    String outcome() {
        return outcome;
    }

    /**
     * Waits until "&lt;report&gt;.end" exists or the limit has passed, then closes
     * the window; "released" or "timed out".
     */
    String holdUntilReleased(Path report, long limitMs) {
        Path release = report.toAbsolutePath().resolveSibling(report.getFileName() + ".end");
        long deadline = System.currentTimeMillis() + limitMs;
        String how = "timed out";
        try {
            while (System.currentTimeMillis() < deadline) {
                if (Files.exists(release)) {
                    how = "released";
                    break;
                }
                Thread.sleep(POLL_MS);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        if (frame != null) {
            try {
                EventQueue.invokeAndWait(new Runnable() {
                    @Override
                    public void run() {
                        frame.dispose();
                    }
                });
            } catch (Throwable e) {
                // The copy ends anyway.
            }
        }
        return how;
    }
}
