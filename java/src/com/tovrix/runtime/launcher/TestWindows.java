package com.tovrix.runtime.launcher;

import java.awt.EventQueue;
import java.awt.Frame;
import java.lang.reflect.InvocationTargetException;
import java.util.ArrayList;
import java.util.List;

/**
 * Visible top-level windows of the launcher's process for the calls of
 * {@link NativeCalls} that need one, such as the object picker, which looks
 * for a window of its own process to own its dialog.
 */
public final class TestWindows {
    private static final List<Frame> SHOWN = new ArrayList<Frame>();

    private TestWindows() {
    }

    /** Shows a small frame with this title; the title. */
    public static String show(final String title) throws InterruptedException, InvocationTargetException {
        EventQueue.invokeAndWait(new Runnable() {
            @Override
            public void run() {
                Frame frame = new Frame(title);
                frame.setSize(240, 120);
                frame.setVisible(true);
                SHOWN.add(frame);
            }
        });
        return title;
    }

    /** Disposes of the frames shown; how many there were. */
    public static int closeAll() throws InterruptedException, InvocationTargetException {
        final int[] closed = {0};
        EventQueue.invokeAndWait(new Runnable() {
            @Override
            public void run() {
                for (Frame frame : SHOWN) {
                    frame.dispose();
                    closed[0]++;
                }
                SHOWN.clear();
            }
        });
        return closed[0];
    }
}
