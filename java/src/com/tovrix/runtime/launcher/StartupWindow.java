package com.tovrix.runtime.launcher;

import java.awt.EventQueue;
import java.awt.Frame;
import java.awt.Label;

/**
 * A small window shown the way an installer's Java side shows its first one,
 * for the launcher's watch for that window: after a delay it opens a frame,
 * keeps it visible for a while and disposes it again.
 */
final class StartupWindow {
    static final String TITLE = "tvxruntime window";

    private StartupWindow() {
    }

    /** "shown", or the exception that kept the window from showing as "class: message". */
    static String show(long delayMs, long visibleMs) {
        try {
            Thread.sleep(delayMs);
            final Frame frame = new Frame(TITLE);
            frame.add(new Label("The Java side has started."));
            frame.setSize(320, 120);
            frame.setLocation(80, 80);
            EventQueue.invokeAndWait(new Runnable() {
                @Override
                public void run() {
                    frame.setVisible(true);
                }
            });
            Thread.sleep(visibleMs);
            EventQueue.invokeAndWait(new Runnable() {
                @Override
                public void run() {
                    frame.dispose();
                }
            });
            return "shown";
        } catch (Throwable e) {
            return e.getMessage() == null ? e.getClass().getName() : e.getClass().getName() + ": " + e.getMessage();
        }
    }
}
